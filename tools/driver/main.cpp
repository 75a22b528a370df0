// bridge-driver: plays the GUI's part against pawnbridge, for the demo and the
// end-to-end tests.
//
//   bridge-driver PAWNBRIDGE [--device white|black] [--seed N] [--depth N]
//                 [--random P] [--opening "f2f3 g2g4"] [--minutes N]
//                 [--max-moves N] [--workdir DIR] [--raw] [--pace MS]
//   bridge-driver PAWNBRIDGE --test FILE SECONDS [--expect-all] [--workdir DIR] [--pace MS]
//
// The bridge finds the device through PAWNBRIDGE_COM1 in the environment.
// Exit status 0: the game reached a result and every device move was legal
// (or, with --test, the run completed, and with --expect-all solved all).
#include "engine_process.hpp"
#include "game.hpp"

#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

void usage(FILE *out) {
    std::fprintf(out,
                 "usage: bridge-driver PAWNBRIDGE [options]\n"
                 "  --device white|black  the side the device plays (default white)\n"
                 "  --seed N              the driver's random choices (default 1)\n"
                 "  --depth N             the driver's search depth (default 2)\n"
                 "  --random P            play a random move P percent of the time\n"
                 "  --opening \"MOVES\"     the driver's first moves, coordinate notation\n"
                 "  --minutes N           time control: N minutes for the game (default 1)\n"
                 "  --max-moves N         give up after N moves without a result (default 150)\n"
                 "  --workdir DIR         run the bridge there (its log goes there)\n"
                 "  --raw                 show every line the bridge prints\n"
                 "  --pace MS             at least MS milliseconds between two device moves\n"
                 "                        (or two test problems) shown, for a person to follow\n"
                 "  --test FILE SECONDS   run a test suite instead of a game\n"
                 "  --expect-all          with --test: fail unless every problem is solved\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string program = argv[1];
    driver::GameOptions options;
    std::string workdir, test_file;
    int test_seconds = 10;
    bool expect_all = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bridge-driver: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](int low, int high) {
            std::string text = value();
            char *end = nullptr;
            long v = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || v < low || v > high) {
                std::fprintf(stderr, "bridge-driver: %s wants a number from %d to %d\n", arg.c_str(), low, high);
                std::exit(2);
            }
            return static_cast<int>(v);
        };
        if (arg == "--device") {
            std::string side = value();
            if (side != "white" && side != "black") {
                std::fprintf(stderr, "bridge-driver: --device is white or black\n");
                return 2;
            }
            options.device_white = side == "white";
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value().c_str(), nullptr, 10);
        } else if (arg == "--depth") {
            options.depth = number(1, 8);
        } else if (arg == "--random") {
            options.random_percent = number(0, 100);
        } else if (arg == "--opening") {
            std::istringstream in(value());
            std::string move;
            while (in >> move)
                options.opening.push_back(move);
        } else if (arg == "--minutes") {
            options.base_minutes = number(1, 180);
        } else if (arg == "--max-moves") {
            options.max_moves = number(1, 1000);
        } else if (arg == "--workdir") {
            workdir = value();
        } else if (arg == "--pace") {
            options.pace_ms = number(0, 60000);
        } else if (arg == "--raw") {
            options.show_raw = true;
        } else if (arg == "--test") {
            test_file = value();
            test_seconds = number(0, 3600);
        } else if (arg == "--expect-all") {
            expect_all = true;
        } else {
            std::fprintf(stderr, "bridge-driver: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);

    driver::EngineProcess bridge;
    std::string error;
    if (!bridge.start(program, workdir, error)) {
        std::fprintf(stderr, "bridge-driver: %s\n", error.c_str());
        return 1;
    }
    long long started = driver::now_ms();

    if (!test_file.empty()) {
        // Generous: every problem may run to its limit, plus the device's move.
        int timeout = 60000 + test_seconds * 1000 * 50;
        driver::SuiteOutcome suite = driver::run_suite(bridge, test_file, test_seconds, stdout, timeout,
                                                       options.pace_ms);
        bridge.close_input();
        int status = bridge.wait_exit(5000);
        std::printf("=== Suite: %d of %d solved; bridge exit status %d; %.1f s ===\n", suite.solved, suite.total,
                    status, (driver::now_ms() - started) / 1000.0);
        bool ok = suite.completed && status == 0 && (!expect_all || (suite.total > 0 && suite.solved == suite.total));
        return ok ? 0 : 1;
    }

    driver::GameDriver game(bridge, options, stdout);
    driver::GameOutcome outcome = game.play();
    bridge.close_input();
    int status = bridge.wait_exit(5000);
    std::printf("=== %s after %d moves (%d by the device); bridge exit status %d; %.1f s ===\n",
                outcome.finished ? (outcome.result + " {" + outcome.reason + "}").c_str() : "No result",
                outcome.full_moves, outcome.device_moves, status, (driver::now_ms() - started) / 1000.0);
    if (!outcome.problem.empty())
        std::printf("Problem: %s\n", outcome.problem.c_str());
    return outcome.finished && outcome.sound && status == 0 ? 0 : 1;
}
