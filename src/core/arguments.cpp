// The command line. GUIs start the bridge without arguments, or with the
// port (WinBoard's /fcp="pawnbridge.exe --port COM4", cutechess-cli's
// arg=--port arg=COM4); a person in a terminal may ask for help, the
// version or the list of ports. Any other argument is ignored.
#include <cstring>

#include "core.h"

Arguments read_arguments(int argc, const char *const *argv) {
    Arguments read{};
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            read.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            read.version = true;
        } else if (std::strcmp(arg, "--list-ports") == 0) {
            read.list_ports = true;
        } else if (std::strncmp(arg, "--port=", 7) == 0) {
            read.port = arg + 7;
        } else if (std::strcmp(arg, "--port") == 0) {
            // Without a name after it, it names nothing.
            if (i + 1 < argc)
                read.port = argv[++i];
        }
    }
    // An empty name, or "auto", is the search.
    if (read.port != nullptr && (read.port[0] == '\0' || std::strcmp(read.port, "auto") == 0))
        read.port = nullptr;
    return read;
}
