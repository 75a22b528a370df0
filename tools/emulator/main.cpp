// sapphire-emu: a Novag Sapphire II chess computer on a pseudo-terminal, for
// running the bridge without the hardware.
//
//   sapphire-emu [--link PATH] [--seed N] [--speed X] [--nps N] [--blunder]
//                [--no-book] [--trace]
//
// Prints the slave's path on its first line of output; with --link, PATH
// becomes a symbolic link to it, for PAWNBRIDGE_COM1=PATH. Runs until SIGINT
// or SIGTERM, serving any number of bridge runs one after another.
#include "device.hpp"
#include "pty_line.hpp"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE *out) {
    std::fprintf(out,
                 "usage: sapphire-emu [options]\n"
                 "  --link PATH   make PATH a symbolic link to the emulated serial port\n"
                 "  --seed N      choice of book moves (default 1); same seed, same games\n"
                 "  --speed X     think X times faster than the real device (default 1);\n"
                 "                the times it reports stay the device's\n"
                 "  --nps N       positions per second of thinking time (default 20000)\n"
                 "  --blunder     play random legal moves (a weak opponent for tests)\n"
                 "  --no-book     play without the opening book\n"
                 "  --trace       show every line on the serial port on standard error\n");
}

// Removes the link only while it still points at our port: another emulator
// may have taken the name over since.
void remove_link(const std::string &link, const std::string &target) {
    char buffer[PATH_MAX];
    ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return;
    buffer[n] = '\0';
    if (target == buffer)
        unlink(link.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    emu::DeviceOptions options;
    std::string link;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "sapphire-emu: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--link") {
            link = value("--link");
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value("--seed"), nullptr, 10);
        } else if (arg == "--speed") {
            options.speed = std::strtod(value("--speed"), nullptr);
            if (!(options.speed > 0.0) || options.speed > 1000.0) {
                std::fprintf(stderr, "sapphire-emu: --speed must lie between 0 and 1000\n");
                return 2;
            }
        } else if (arg == "--nps") {
            long nps = std::strtol(value("--nps"), nullptr, 10);
            if (nps < 100 || nps > 100000000) {
                std::fprintf(stderr, "sapphire-emu: --nps must lie between 100 and 100000000\n");
                return 2;
            }
            options.nominal_nps = static_cast<int>(nps);
        } else if (arg == "--blunder") {
            options.blunder = true;
        } else if (arg == "--no-book") {
            options.no_book = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "sapphire-emu: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    emu::PtyLine::install_signal_handlers();
    emu::PtyLine line;
    std::string error;
    if (!line.open(error)) {
        std::fprintf(stderr, "sapphire-emu: %s\n", error.c_str());
        return 1;
    }
    line.set_trace(trace);

    if (!link.empty()) {
        struct stat st {};
        if (lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "sapphire-emu: %s exists and is not a link; not replacing it\n", link.c_str());
                return 1;
            }
            unlink(link.c_str());
        }
        if (symlink(line.slave_path().c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "sapphire-emu: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
            return 1;
        }
    }

    std::printf("%s\n", line.slave_path().c_str());
    std::fflush(stdout);

    emu::Device device(line, options);
    device.run();

    if (!link.empty())
        remove_link(link, line.slave_path());
    return 0;
}
