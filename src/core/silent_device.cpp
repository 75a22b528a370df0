// The one notice every protocol gives alike: the device answers nothing.
#include <cstdio>

#include "core.h"
#include "platform.h"

void report_silent_device() {
    char ports[160];
    ports_looked_at(ports, sizeof ports);
    char text[LINE_BUFFER_SIZE];
    std::snprintf(text, sizeof text,
                  "Pawnbridge: no answer from the chess computer on %s: is it switched on and "
                  "connected?",
                  ports);
    // GUIs show this to the user; a person running the bridge by hand
    // reads standard error.
    front_end->user_error(text);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text);
}
