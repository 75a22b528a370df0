// Relay overhead of the bridge: from the last byte of an analysis line
// written to the device's end of a pty until its thinking line arrives on
// the bridge's standard output; the same from the device's move reply to
// the move line; and the CPU time the bridge uses while the device searches
// in silence.
//
//   relay-bench [--lines N] [--moves N] [--silent-seconds S] [BRIDGE]
//
// A pty has no baud rate, so the 9600-baud wire time (about 40 ms for a
// 40-byte line) is not part of the figures: what remains is the bridge's
// own share.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef PAWNBRIDGE_BINARY
#define PAWNBRIDGE_BINARY "pawnbridge"
#endif

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char *what) {
    std::perror(what);
    std::exit(1);
}

// Reads one line (without its line end) from fd, waiting at most timeout_ms.
bool read_line(int fd, std::string &pending, std::string &line, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending.erase(0, end + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(got));
    }
}

void write_all(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put <= 0)
            die("write");
        done += static_cast<std::size_t>(put);
    }
}

struct Rig {
    int master = -1;
    int to_bridge = -1;
    int from_bridge = -1;
    pid_t pid = -1;
    std::string device_pending, bridge_pending;

    std::string device_line() {
        std::string line;
        if (!read_line(master, device_pending, line, 30000)) {
            std::fprintf(stderr, "the bridge sent the device nothing\n");
            std::exit(1);
        }
        return line;
    }
    std::string bridge_line() {
        std::string line;
        if (!read_line(from_bridge, bridge_pending, line, 30000)) {
            std::fprintf(stderr, "the bridge printed nothing\n");
            std::exit(1);
        }
        return line;
    }
    void answer(const char *reply = "OK") {
        device_line();
        write_all(master, std::string(reply) + "\r\n");
    }
};

Rig start(const std::string &binary, const std::string &workdir) {
    Rig rig;
    rig.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (rig.master < 0 || grantpt(rig.master) || unlockpt(rig.master))
        die("pty");
    std::string slave_path = ptsname(rig.master);
    // Keep a slave open so the line stays up, and make it raw.
    int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);

    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe))
        die("pipe");
    rig.pid = fork();
    if (rig.pid < 0)
        die("fork");
    if (rig.pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(rig.master);
        if (chdir(workdir.c_str()) != 0)
            _exit(126);
        setenv("PAWNBRIDGE_COM1", slave_path.c_str(), 1);
        execl(binary.c_str(), binary.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    rig.to_bridge = in_pipe[1];
    rig.from_bridge = out_pipe[0];

    rig.device_line();  // " ": no answer
    for (int i = 0; i < 5; ++i)
        rig.answer();
    if (rig.bridge_line() != "Pawnbridge") {
        std::fprintf(stderr, "no name line\n");
        std::exit(1);
    }
    return rig;
}

long cpu_ms(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    return (user + system) * 1000 / sysconf(_SC_CLK_TCK);
}

double percentile(std::vector<double> sorted, double p) {
    std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[at];
}

}  // namespace

int main(int argc, char **argv) {
    int lines = 3000;
    int moves = 300;
    int silent_seconds = 10;
    std::string binary = PAWNBRIDGE_BINARY;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--lines") && i + 1 < argc)
            lines = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--moves") && i + 1 < argc)
            moves = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--silent-seconds") && i + 1 < argc)
            silent_seconds = std::atoi(argv[++i]);
        else
            binary = argv[i];
    }
    signal(SIGPIPE, SIG_IGN);
    char workdir[] = "/tmp/relay-bench-XXXXXX";
    if (!mkdtemp(workdir))
        die("mkdtemp");
    Rig rig = start(binary, workdir);

    // A long clock, so that the device's silence stays within the read
    // time-out: "time" sets it, and picks a level that must be answered.
    long long timeout_ms = (silent_seconds + 10) * 1000LL;
    write_all(rig.to_bridge, "time " + std::to_string(timeout_ms / 10) + "\n");
    rig.answer();
    write_all(rig.master, "OK\r\n");
    rig.bridge_line();  // the level whisper

    write_all(rig.to_bridge, "e2e4\n");
    rig.answer();
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, ". d %d 0.%02d 0:00:%02d 12/ 34 900/s e7-e5 g1-f3\r\n",
                      i % 30 + 1, i % 100, i % 60);
        write_all(rig.master, line);
        auto sent = Clock::now();
        rig.bridge_line();
        micros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("relay overhead over %d analysis lines: median %.1f us, p99 %.1f us, max %.1f us\n",
                lines, percentile(micros, 0.5), percentile(micros, 0.99), micros.back());

    long before = cpu_ms(rig.pid);
    sleep(static_cast<unsigned>(silent_seconds));
    long used = cpu_ms(rig.pid) - before;
    std::printf("CPU time during a %d-second silent search: %ld ms\n", silent_seconds, used);

    write_all(rig.master, "M 1, e7-e5 .\r\n");
    rig.bridge_line();

    // The move line must not wait for the short read after it, in which a
    // report may still come.
    std::vector<double> move_micros;
    for (int i = 2; i < moves + 2; ++i) {
        write_all(rig.to_bridge, "d2d4\n");
        rig.answer();
        write_all(rig.master, "M " + std::to_string(i) + ", d7-d5 .\r\n");
        auto sent = Clock::now();
        std::string expected = std::to_string(i) + ". ... d7d5";
        while (rig.bridge_line() != expected) {
        }
        move_micros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    if (!move_micros.empty()) {
        std::sort(move_micros.begin(), move_micros.end());
        std::printf("move reply to move line over %d moves: median %.1f us, max %.1f us\n", moves,
                    percentile(move_micros, 0.5), move_micros.back());
    }
    write_all(rig.to_bridge, "quit\n");
    int status = 0;
    waitpid(rig.pid, &status, 0);
    std::string cleanup = std::string(workdir) + "/NovagLog.txt";
    unlink(cleanup.c_str());
    rmdir(workdir);
    return 0;
}
