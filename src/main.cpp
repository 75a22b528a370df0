// The program's entry point. GUIs start the bridge without arguments; only
// --help and --version, asked for by a person in a terminal, are answered
// (and nothing else is done then). Any other argument is ignored.
#include <cstdio>
#include <cstring>

#include "core.h"
#include "platform.h"
#include "uci.h"
#include "xboard.h"

#ifndef PAWNBRIDGE_VERSION
#define PAWNBRIDGE_VERSION "unknown"
#endif

namespace {

#ifdef _WIN32
constexpr const char *DEFAULT_PORT = "COM1";
constexpr const char *DOCS = "README.md and windows.md beside pawnbridge.exe";
constexpr const char *STOPS = "quit, end of input, closing the console";
#else
constexpr const char *DEFAULT_PORT = "/dev/ttyS0";
constexpr const char *DOCS = "man 6 pawnbridge, /usr/share/doc/pawnbridge/README.md";
constexpr const char *STOPS = "quit, end of input (Ctrl-D), SIGTERM, SIGHUP";
#endif

void print_usage() {
    std::printf("Usage: pawnbridge [--help | --version]\n"
                "\n"
                "Lets a Novag Sapphire II chess computer on a serial port play as an\n"
                "xboard/WinBoard engine: a chess GUI starts pawnbridge as its engine and\n"
                "speaks the engine protocol on its standard input and output.\n"
                "\n"
                "  PAWNBRIDGE_COM1: the device's port (default %s)\n"
                "  NovagLog.txt: the session log, appended to in the working directory\n"
                "  %s: end the session\n"
                "  Ctrl-C (SIGINT): ignored, as GUIs send it while an engine thinks\n"
                "\n"
                "Documentation: %s\n",
                DEFAULT_PORT, STOPS, DOCS);
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            print_usage();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pawnbridge %s\n", PAWNBRIDGE_VERSION);
            return 0;
        }
    }
    // Until the GUI's first line chooses the protocol, the user is told
    // what must be told (a silent device) in the xboard protocol's forms.
    use_xboard_front_end(1);
    start_session();
    // The GUI chooses the protocol with its first line.
    if (plat_stdin_read_line(command_line, sizeof command_line)) {
        if (is_uci_opening(command_line))
            run_uci_session(command_line);
        else
            run_xboard_session(command_line);
    }
    end_session();
    return 0;
}
