// The front-end table: the session's one way of telling the GUI things,
// chosen once for the session by the protocol the GUI speaks. The forms
// themselves are the protocols' own.
#include "core.h"

const FrontEnd *front_end = nullptr;
int analysing = 0;

void use_front_end(const FrontEnd *chosen) { front_end = chosen; }

void set_analysing(int on) { analysing = on; }
