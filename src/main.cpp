// The program's entry point. GUIs start the bridge without arguments or
// with --port; --help, --version and --list-ports, asked for by a person in
// a terminal, are answered (and nothing else is done then). Any other
// argument is ignored.
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
    std::printf("Usage: pawnbridge [--port PORT] [--list-ports | --help | --version]\n"
                "\n"
                "Lets a Novag Sapphire II chess computer on a serial port play as a chess\n"
                "engine, in the xboard/WinBoard protocol or UCI: a chess GUI starts\n"
                "pawnbridge as its engine and speaks the protocol on its standard input\n"
                "and output.\n"
                "\n"
                "  --port PORT: the device's port; without it PAWNBRIDGE_COM1, and without\n"
                "    that the bridge tries %s, then the other serial ports and USB serial\n"
                "    converters, and takes the first where the device answers\n"
                "  --list-ports: every serial port found and what it is (status 0 when the\n"
                "    chess computer is among them)\n"
                "  the engine option Port (UCI; xboard protocol 2) chooses it from the GUI\n"
                "  NovagLog.txt: the session log, appended to in the working directory\n"
                "  %s: end the session\n"
                "  Ctrl-C (SIGINT): ignored, as GUIs send it while an engine thinks\n"
                "\n"
                "Documentation: %s\n",
                DEFAULT_PORT, STOPS, DOCS);
}

}  // namespace

int main(int argc, char **argv) {
    Arguments arguments = read_arguments(argc, argv);
    if (arguments.help) {
        print_usage();
        return 0;
    }
    if (arguments.version) {
        std::printf("pawnbridge %s\n", PAWNBRIDGE_VERSION);
        return 0;
    }
    if (arguments.list_ports) {
        plat_init();
        return list_ports();
    }
    // Until the GUI's first line chooses the protocol, the user is told
    // what must be told (a silent device) in the xboard protocol's forms.
    use_xboard_front_end(1);
    start_session(arguments.port);
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
