// "pawnbridge --list-ports": every serial port found and what it is, for a
// person setting the bridge up.
#include <cstdio>

#include "core.h"

namespace {

// Large: one entry a port, each with its name and the device's answer.
PortSearch survey;

}  // namespace

int list_ports() {
    survey_ports(survey);
    if (survey.count == 0)
        std::printf("no serial port found\n");
    for (int i = 0; i < survey.count; ++i) {
        char what[PORT_NAME_SIZE + 256];
        describe_finding(survey.ports[i], what, sizeof what);
        std::printf("%-28s %s\n", survey.ports[i].name, what);
    }
    std::fflush(stdout);
    return survey.found >= 0 ? 0 : 1;
}
