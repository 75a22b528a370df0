// A UCI engine that searches in silence: just enough of the protocol for
// polyglot to take it as its engine and start a search. The bench writes
// the search's info lines itself, straight into the pipe that polyglot reads
// this engine from (it opens /proc/PID/fd/1), so that polyglot's figures
// start where the bridge's do: at the write into the adapter's input.
//
//   bench-uci-stub PIDFILE
//
// PIDFILE receives this process's id once it runs. On "stop" the engine
// plays e7e5, the bench's answer to 1. e2e4.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    if (argc > 1) {
        // Written under another name first: the bench must never read half of it.
        std::string ready = argv[1];
        std::string partial = ready + ".partial";
        std::FILE *out = std::fopen(partial.c_str(), "w");
        if (out == nullptr)
            return 1;
        std::fprintf(out, "%ld\n", static_cast<long>(getpid()));
        std::fclose(out);
        if (std::rename(partial.c_str(), ready.c_str()) != 0)
            return 1;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (std::strcmp(line, "uci") == 0)
            std::fputs("id name bench-uci-stub\nid author Pawnbridge bench\nuciok\n", stdout);
        else if (std::strcmp(line, "isready") == 0)
            std::fputs("readyok\n", stdout);
        else if (std::strcmp(line, "stop") == 0)
            std::fputs("bestmove e7e5\n", stdout);
        else if (std::strcmp(line, "quit") == 0)
            break;
        std::fflush(stdout);
    }
    return 0;
}
