// The test aid's own list of ports (PAWNBRIDGE_SEARCH_PORTS), read alike by
// both systems' port lists; each system still decides what a name is.
#pragma once

#include "platform.h"

// Puts the names the variable lists (separated by separator; empty names
// and names too long for a port are left out) in names, at most max.
// Returns how many, or -1 when the variable is not set: then the machine's
// own list applies.
int given_port_names(char separator, PortEntry *names, int max);
