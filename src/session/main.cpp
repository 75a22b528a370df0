#include "pawnbridge.h"

int main() { return run_bridge(); }
