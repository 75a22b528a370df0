// What the bridge costs on the way from the device to the GUI, side by side
// with polyglot, the engine-protocol adapter that GUI users know, relaying
// the same number of analysis lines in the same run:
//  - latency: from the write of an analysis line's last byte into the
//    adapter's input (the device's end of the pty for the bridge; for
//    polyglot, the pipe it reads its UCI engine from) until its thinking
//    line arrives on the adapter's standard output;
//  - CPU time of the adapter per relayed line;
//  - system calls per line (strace -c attached while the lines pass);
//  - CPU time while the device (or the engine) searches in silence;
//  - for the bridge, the device's move reply to the move line.
// The adapters run in interleaved rounds, each round in fresh processes, so
// that a change in the machine's load falls on both. The channels alone
// (cat on a pty and on a pipe) give the floor.
//
//   relay-bench [--lines N] [--rounds R] [--moves N] [--silent-seconds S]
//               [--polyglot PATH | --no-polyglot] [--stub PATH] [--strace]
//               [--launcher CMD] [BRIDGE]
//
// --launcher runs the bridge through a launcher such as wine; COM1 then
// reaches the pty through the link named by PAWNBRIDGE_WINE_COM1_LINK, as
// in the end-to-end tests, and the idle figures add the wineserver's CPU.
// A pty has no baud rate, so the 9600-baud wire time (about 40 ms for a
// 40-byte line) is not part of the figures: what remains is the adapters'
// own share. Run by hand; it is no test.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.hpp"

#ifndef PAWNBRIDGE_BINARY
#define PAWNBRIDGE_BINARY "pawnbridge"
#endif
#ifndef UCI_STUB_BINARY
#define UCI_STUB_BINARY "bench-uci-stub"
#endif

namespace {

using namespace bench;

// CPU time of all of a process's threads in µs, from the scheduler's own
// count in nanoseconds (the tick counts of /proc/PID/stat are too coarse
// for a few µs per line).
double cpu_us(pid_t pid) {
    if (pid <= 0)
        return 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *tasks = opendir(dir.c_str());
    if (tasks == nullptr)
        return 0;
    double total = 0;
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::istringstream fields(read_file(dir + "/" + entry->d_name + "/schedstat"));
        double ns = 0;
        fields >> ns;
        total += ns / 1000.0;
    }
    closedir(tasks);
    return total;
}

// The pid of the wine server of this run's prefix (WINEPREFIX), or -1.
pid_t wineserver_pid() {
    const char *prefix = std::getenv("WINEPREFIX");
    std::string wanted = std::string("WINEPREFIX=") + (prefix ? prefix : "");
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return -1;
    pid_t found = -1;
    while (dirent *entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::string dir = std::string("/proc/") + entry->d_name;
        std::string stat = read_file(dir + "/stat");
        std::size_t state = stat.rfind(')');
        if (read_file(dir + "/comm").rfind("wineserver", 0) != 0 || state == std::string::npos ||
            stat.compare(state + 2, 1, "Z") == 0)
            continue;
        // Other runs may have servers of their own.
        std::string environ = read_file(dir + "/environ");
        if (prefix && (environ + '\0').find(wanted + '\0') == std::string::npos)
            continue;
        found = static_cast<pid_t>(std::atol(entry->d_name));
        break;
    }
    closedir(proc);
    return found;
}

// The i-th line of a search, the same for both adapters. Its depth never
// falls: polyglot drops a line of a lower depth than the one before.
int depth_of(int i) { return 1 + i / 50; }

std::string analysis_line(int i) {
    char line[96];
    std::snprintf(line, sizeof line, ". d %d 0.%02d 0:00:%02d 12/ 34 900/s e7-e5 g1-f3\r\n",
                  depth_of(i), i % 100, i % 60);
    return line;
}

std::string info_line(int i) {
    char line[96];
    std::snprintf(line, sizeof line, "info depth %d score cp %d time %d nodes 6300 pv e7e5 g1f3\n",
                  depth_of(i), i % 100, (i % 60) * 1000);
    return line;
}

// The device's move line: "12. ... e7e5", or "move e7e5".
bool is_move_line(const std::string &line, const std::string &move) {
    if (line == "move " + move)
        return true;
    const std::string tail = ". ... " + move;
    return line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

struct Settings {
    std::string bridge = PAWNBRIDGE_BINARY;
    std::string launcher;
    std::string polyglot = "/usr/games/polyglot";
    std::string stub = UCI_STUB_BINARY;
    std::string workdir;
    int silent_seconds = 10;
};

// One adapter, started fresh for each round. The figures of a round are
// taken between ready() and finish().
class Adapter {
public:
    virtual ~Adapter() = default;
    virtual const char *name() const = 0;
    // Starts the adapter and brings it to where it relays lines.
    virtual void start() = 0;
    // Writes the i-th line into the adapter's input.
    virtual void put(int i) = 0;
    // Waits for the adapter's output line for it.
    virtual void take() = 0;
    // Ends the search and the process.
    virtual void finish() = 0;
    // The adapter's own process, for its CPU time and its system calls.
    virtual pid_t pid() const = 0;
};

class Bridge : public Adapter {
public:
    explicit Bridge(const Settings &settings) : settings_(settings) {}
    const char *name() const override { return "pawnbridge"; }
    pid_t pid() const override { return child_.pid; }

    void start() override {
        device_ = std::make_unique<Pty>();
        std::vector<std::string> argv;
        if (!settings_.launcher.empty())
            argv.push_back(settings_.launcher);
        argv.push_back(settings_.bridge);
        const char *link = std::getenv("PAWNBRIDGE_WINE_COM1_LINK");
        if (!settings_.launcher.empty() && link && *link) {
            unlink(link);
            if (symlink(device_->path.c_str(), link) != 0)
                die("symlink");
        }
        child_ = spawn(argv, settings_.workdir, {"PAWNBRIDGE_COM1=" + device_->path});
        device_->line();  // " ": no answer
        for (int i = 0; i < 5; ++i)
            device_->answer();
        if (child_.line("the bridge") != "Pawnbridge")
            fail("the bridge printed no name line");
        // A long clock, so that the device's silence stays within the read
        // time-out: "time" sets it, and picks a level that must be answered.
        long long timeout_ms = (settings_.silent_seconds + 10) * 1000LL;
        child_.send("time " + std::to_string(timeout_ms / 10));
        device_->answer();
        write_all(device_->master, "OK\r\n");
        child_.line("the bridge");  // the level whisper
        child_.send("e2e4");
        device_->answer();
    }
    void put(int i) override { write_all(device_->master, analysis_line(i)); }
    void take() override {
        if (child_.line("the bridge").empty())
            fail("the bridge printed an empty thinking line");
    }
    void finish() override {
        write_all(device_->master, "M 1, e7-e5 .\r\n");
        while (!is_move_line(child_.line("the bridge"), "e7e5")) {
        }
        child_.send("quit");
        child_.wait();
        device_.reset();
    }

    // The device's move reply to the bridge's move line, over a run of moves.
    std::vector<double> moves(int count) {
        std::vector<double> micros;
        start();
        write_all(device_->master, "M 1, e7-e5 .\r\n");
        while (!is_move_line(child_.line("the bridge"), "e7e5")) {
        }
        for (int i = 2; i < count + 2; ++i) {
            child_.send("d2d4");
            device_->answer();
            write_all(device_->master, "M " + std::to_string(i) + ", d7-d5 .\r\n");
            auto sent = Clock::now();
            // The move line must not wait for the short read after it, in
            // which a report may still come.
            while (!is_move_line(child_.line("the bridge"), "d7d5")) {
            }
            micros.push_back(micros_since(sent));
        }
        child_.send("quit");
        child_.wait();
        device_.reset();
        return micros;
    }

private:
    const Settings &settings_;
    std::unique_ptr<Pty> device_;
    Child child_;
};

class Polyglot : public Adapter {
public:
    explicit Polyglot(const Settings &settings) : settings_(settings) {}
    const char *name() const override { return "polyglot"; }
    pid_t pid() const override { return child_.pid; }

    void start() override {
        std::string pidfile = settings_.workdir + "/stub.pid";
        unlink(pidfile.c_str());
        child_ = spawn({settings_.polyglot, "-noini", "-ec", settings_.stub + " " + pidfile},
                       settings_.workdir);
        child_.send("xboard");
        child_.send("protover 2");
        while (child_.line("polyglot") != "feature done=1") {
        }
        child_.send("new");
        child_.send("post");
        child_.send("e2e4");
        // Once "pong" comes, polyglot has started the engine's search.
        child_.send("ping 1");
        while (child_.line("polyglot") != "pong 1") {
        }
        std::string pid;
        for (int waited = 0; (pid = read_file(pidfile)).empty(); waited += 10) {
            if (waited > 10000)
                fail("the UCI stub did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        engine_out_ = open(("/proc/" + std::to_string(std::atol(pid.c_str())) + "/fd/1").c_str(), O_WRONLY);
        if (engine_out_ < 0)
            die("the UCI stub's output");
    }
    void put(int i) override { write_all(engine_out_, info_line(i)); }
    void take() override {
        // Polyglot's thinking lines start with the depth.
        for (;;) {
            std::string line = child_.line("polyglot");
            if (!line.empty() && line[0] >= '0' && line[0] <= '9')
                return;
        }
    }
    void finish() override {
        child_.send("?");
        while (child_.line("polyglot") != "move e7e5") {
        }
        child_.send("quit");
        child_.wait();
        close(engine_out_);
    }

private:
    const Settings &settings_;
    Child child_;
    int engine_out_ = -1;
};

// The channel alone: cat between the writer and the reader.
class Channel : public Adapter {
public:
    explicit Channel(bool pty) : pty_(pty) {}
    const char *name() const override { return pty_ ? "pty alone (cat)" : "pipe alone (cat)"; }
    pid_t pid() const override { return child_.pid; }

    void start() override {
        if (pty_) {
            device_ = std::make_unique<Pty>();
            child_ = spawn({"cat"}, "", {}, device_->slave);
            writer_ = device_->master;
        } else {
            child_ = spawn({"cat"}, "");
            writer_ = child_.in;
        }
    }
    void put(int i) override { write_all(writer_, analysis_line(i)); }
    void take() override { child_.line("cat"); }
    void finish() override {
        kill(child_.pid, SIGTERM);
        child_.wait();
        device_.reset();
    }

private:
    bool pty_;
    std::unique_ptr<Pty> device_;
    Child child_;
    int writer_ = -1;
};

struct Figures {
    std::vector<double> micros;
    double cpu = 0;
    double server_cpu = 0;  // the wine server's, while the lines passed
    int lines = 0;
};

// server: the wine server's pid when the adapter runs under wine, else -1.
void relay_round(Adapter &adapter, int lines, int first, pid_t server, Figures &figures) {
    adapter.start();
    double before = cpu_us(adapter.pid());
    double served = cpu_us(server);
    for (int i = first; i < first + lines; ++i) {
        adapter.put(i);
        auto sent = Clock::now();
        adapter.take();
        figures.micros.push_back(micros_since(sent));
    }
    figures.cpu += cpu_us(adapter.pid()) - before;
    figures.server_cpu += cpu_us(server) - served;
    figures.lines += lines;
    adapter.finish();
}

// CPU time of the adapter (and of the wine server, when there is one) while
// its device or engine searches in silence, in ms.
void idle(Adapter &adapter, int seconds, pid_t server, double &own_ms, double &server_ms) {
    adapter.start();
    double own = cpu_us(adapter.pid());
    double served = cpu_us(server);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    own_ms = (cpu_us(adapter.pid()) - own) / 1000.0;
    server_ms = (cpu_us(server) - served) / 1000.0;
    adapter.finish();
}

// System calls per relayed line: strace -c attached to the adapter while
// the lines pass, so that start-up and shutdown stay out of the count.
std::map<std::string, double> syscalls(Adapter &adapter, int lines, const std::string &workdir) {
    adapter.start();
    std::string summary = workdir + "/strace.txt";
    int err_pipe[2];
    if (pipe(err_pipe))
        die("pipe");
    pid_t tracer = fork();
    if (tracer == 0) {
        dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        close(err_pipe[1]);
        std::string target = std::to_string(adapter.pid());
        execlp("strace", "strace", "-f", "-c", "-o", summary.c_str(), "-p", target.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(err_pipe[1]);
    // strace says on standard error when it has attached.
    std::string pending, said;
    do {
        if (!read_line(err_pipe[0], pending, said, 10000))
            fail("strace did not attach (is it installed, and may it trace?)");
    } while (said.find("attached") == std::string::npos);
    for (int i = 0; i < lines; ++i) {
        adapter.put(i);
        adapter.take();
    }
    kill(tracer, SIGINT);
    int status = 0;
    waitpid(tracer, &status, 0);
    close(err_pipe[0]);
    adapter.finish();

    std::map<std::string, double> per_line;
    std::istringstream table(read_file(summary));
    std::string row;
    while (std::getline(table, row)) {
        std::istringstream fields(row);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        // % time, seconds, usecs/call, calls, [errors,] syscall
        if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[0][0])))
            continue;
        const std::string &call = words.back();
        double count = std::atof(words[3].c_str());
        if (call != "total")
            per_line[call] = count / lines;
    }
    unlink(summary.c_str());
    return per_line;
}

void print_syscalls(const char *name, const std::map<std::string, double> &per_line) {
    double total = 0;
    std::string text;
    std::vector<std::pair<double, std::string>> ranked;
    for (const auto &[call, count] : per_line) {
        total += count;
        ranked.push_back({count, call});
    }
    std::sort(ranked.rbegin(), ranked.rend());
    for (const auto &[count, call] : ranked) {
        char item[64];
        std::snprintf(item, sizeof item, "%s%.2f %s", text.empty() ? "" : " + ", count, call.c_str());
        text += item;
    }
    std::printf("  %-18s %6.2f = %s\n", name, total, text.c_str());
}

bool executable(const std::string &path) { return access(path.c_str(), X_OK) == 0; }

// The run's working directory, removed with what the children left in it
// however the run ends.
char workdir[] = "/tmp/relay-bench-XXXXXX";

void remove_workdir() {
    for (const char *left : {"/NovagLog.txt", "/stub.pid", "/stub.pid.partial", "/strace.txt"})
        unlink((std::string(workdir) + left).c_str());
    rmdir(workdir);
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    int lines = 1000;
    int rounds = 10;
    int moves = 100;
    bool use_polyglot = true;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool more = i + 1 < argc;
        if (arg == "--lines" && more)
            lines = std::atoi(argv[++i]);
        else if (arg == "--rounds" && more)
            rounds = std::atoi(argv[++i]);
        else if (arg == "--moves" && more)
            moves = std::atoi(argv[++i]);
        else if (arg == "--silent-seconds" && more)
            settings.silent_seconds = std::atoi(argv[++i]);
        else if (arg == "--polyglot" && more)
            settings.polyglot = argv[++i];
        else if (arg == "--no-polyglot")
            use_polyglot = false;
        else if (arg == "--stub" && more)
            settings.stub = argv[++i];
        else if (arg == "--strace")
            trace = true;
        else if (arg == "--launcher" && more)
            settings.launcher = argv[++i];
        else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: relay-bench [--lines N] [--rounds R] [--moves N] "
                                 "[--silent-seconds S] [--polyglot PATH | --no-polyglot] "
                                 "[--stub PATH] [--strace] [--launcher CMD] [BRIDGE]\n");
            return 2;
        } else
            settings.bridge = arg;
    }
    if (lines < 1 || rounds < 1 || rounds > lines)
        fail("--lines must be at least 1 and at least --rounds");
    // The children run in a working directory of their own.
    char resolved[4096];
    if (realpath(settings.bridge.c_str(), resolved) != nullptr)
        settings.bridge = resolved;
    if (use_polyglot && !executable(settings.polyglot)) {
        std::fprintf(stderr, "relay-bench: no polyglot at %s (apt-get install polyglot); "
                             "the bridge alone is measured\n",
                     settings.polyglot.c_str());
        use_polyglot = false;
    }
    if (use_polyglot && realpath(settings.stub.c_str(), resolved) != nullptr)
        settings.stub = resolved;
    signal(SIGPIPE, SIG_IGN);
    if (!mkdtemp(workdir))
        die("mkdtemp");
    std::atexit(remove_workdir);
    settings.workdir = workdir;

    Bridge bridge(settings);
    Polyglot polyglot(settings);
    Channel pty_channel(true), pipe_channel(false);
    std::vector<Adapter *> adapters = {&bridge};
    if (use_polyglot)
        adapters.push_back(&polyglot);
    if (settings.launcher.empty()) {
        adapters.push_back(&pty_channel);
        adapters.push_back(&pipe_channel);
    }

    // Wine's own services keep its server a little busy whatever runs.
    pid_t server = -1;
    if (!settings.launcher.empty()) {
        bridge.start();
        bridge.finish();
        server = wineserver_pid();
    }

    std::vector<Figures> figures(adapters.size());
    for (int round = 0; round < rounds; ++round) {
        int share = lines / rounds + (round < lines % rounds ? 1 : 0);
        int first = round * (lines / rounds);
        // Each round in another order, so that none always follows another.
        for (std::size_t k = 0; k < adapters.size(); ++k) {
            std::size_t at = (k + static_cast<std::size_t>(round)) % adapters.size();
            relay_round(*adapters[at], share, first, adapters[at] == &bridge ? server : -1, figures[at]);
        }
    }

    std::string under = settings.launcher.empty() ? "" : " (the bridge under " + settings.launcher + ")";
    std::printf("relayed analysis lines: %d per adapter, in %d interleaved rounds of fresh processes%s\n",
                lines, rounds, under.c_str());
    std::printf("  %-18s %9s %9s %9s %9s %14s\n", "adapter", "p50 us", "p90 us", "p99 us", "max us",
                "CPU us/line");
    for (std::size_t k = 0; k < adapters.size(); ++k) {
        std::vector<double> sorted = figures[k].micros;
        std::sort(sorted.begin(), sorted.end());
        std::printf("  %-18s %9.1f %9.1f %9.1f %9.1f %14.1f", adapters[k]->name(),
                    percentile(sorted, 0.5), percentile(sorted, 0.9), percentile(sorted, 0.99),
                    sorted.back(), figures[k].cpu / figures[k].lines);
        if (adapters[k] == &bridge && server > 0)
            std::printf(", and the wine server %.1f", figures[k].server_cpu / figures[k].lines);
        std::printf("\n");
    }

    if (trace && settings.launcher.empty()) {
        std::printf("system calls per relayed line (strace -c over %d lines):\n", lines);
        for (Adapter *adapter : {static_cast<Adapter *>(&bridge), static_cast<Adapter *>(&polyglot)}) {
            if (adapter == &polyglot && !use_polyglot)
                continue;
            print_syscalls(adapter->name(), syscalls(*adapter, lines, settings.workdir));
        }
    }

    std::printf("CPU time while the device (the engine) searches in silence for %d s:\n",
                settings.silent_seconds);
    for (Adapter *adapter : {static_cast<Adapter *>(&bridge), static_cast<Adapter *>(&polyglot)}) {
        if (adapter == &polyglot && !use_polyglot)
            continue;
        double own = 0, served = 0;
        idle(*adapter, settings.silent_seconds, adapter == &bridge ? server : -1, own, served);
        if (adapter == &bridge && server > 0)
            std::printf("  %-18s %8.1f ms, and the wine server %.1f ms\n", adapter->name(), own, served);
        else
            std::printf("  %-18s %8.1f ms\n", adapter->name(), own);
    }
    if (server > 0) {
        double before = cpu_us(server);
        std::this_thread::sleep_for(std::chrono::seconds(settings.silent_seconds));
        std::printf("  %-18s %8.1f ms (wine's own services, with no bridge running)\n", "the wine server",
                    (cpu_us(server) - before) / 1000.0);
    }

    if (moves > 0) {
        std::vector<double> micros = bridge.moves(moves);
        std::sort(micros.begin(), micros.end());
        std::printf("the bridge's move line after the device's move reply, over %d moves: p50 %.1f us, "
                    "max %.1f us\n",
                    moves, percentile(micros, 0.5), micros.back());
    }

    return 0;
}
