// What a GUI waits for from the bridge, beyond the relay of thinking lines
// that relay-bench measures:
//  - in a UCI session, with the device played by the bench on a pty:
//    - "uci" to "uciok", with "uci" written as the bridge starts (as GUIs
//      do: the device's start-up is in it) and once it is up;
//    - "isready" to "readyok" while the device thinks and reports;
//    - the last byte of the device's move reply to "bestmove";
//    - for comparison, the pty and a pipe alone (cat) after the same idles;
//    - the device commands for each "position" through a game;
//    - a "position" of a long game one move on: the time until the device
//      has the new move's command, and the commands it took; and the same
//      game one move back;
//  - in xboard analysis mode, against the emulator (sapphire-emu): from a
//    position change (a move, undo, remove, setboard, new) to the answer to
//    a "ping" written right behind it (the bridge has changed the position:
//    its round trips to the device) and to the first thinking line of the
//    new search; and the device commands for each change, read from
//    NovagLog.txt.
// A pty has no baud rate, so the device's lines reach the bridge at once;
// with --baud they go out a byte at a time at that rate, as on the device's
// 9600-baud line. The bridge's own commands reach the bench at once either
// way (a move command, 7 bytes with its line end, takes another 7 ms on
// the real line).
//
//   session-bench [--uci | --analysis] [--baud N] [--repeats N] [--searches N]
//                 [--search-ms MS] [--line-ms MS] [--plies N] [--rounds N]
//                 [--dwell-ms MS] [--speed X] [--emulator PATH] [BRIDGE]
//
// Run by hand; it is no test.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.hpp"
#include "change_log.hpp"

#ifndef PAWNBRIDGE_BINARY
#define PAWNBRIDGE_BINARY "pawnbridge"
#endif
#ifndef SAPPHIRE_EMU_BINARY
#define SAPPHIRE_EMU_BINARY "sapphire-emu"
#endif

namespace {

using namespace bench;
using std::chrono::milliseconds;

struct Settings {
    std::string bridge = PAWNBRIDGE_BINARY;
    std::string emulator = SAPPHIRE_EMU_BINARY;
    std::string workdir;
    std::vector<int> bauds = {0, 9600};
    int repeats = 10;
    int searches = 30;
    int search_ms = 1000;
    int line_ms = 200;
    int plies = 300;
    int rounds = 4;
    int dwell_ms = 500;
    std::string speed = "10";
};

bool starts_with(const std::string &text, const std::string &head) { return text.rfind(head, 0) == 0; }

// "812.0 us", "3.41 ms" or "3.13 s".
std::string duration(double micros) {
    char text[32];
    if (micros < 1000)
        std::snprintf(text, sizeof text, "%.1f us", micros);
    else if (micros < 1e6)
        std::snprintf(text, sizeof text, "%.2f ms", micros / 1000);
    else
        std::snprintf(text, sizeof text, "%.2f s", micros / 1e6);
    return text;
}

std::vector<double> sorted(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values;
}

// "p50 X, max Y" of durations in µs; with p90 and p99 when asked (a rare
// late answer is the machine's load as often as the bridge's).
std::string spread(const std::vector<double> &micros, bool tail = false) {
    if (micros.empty())
        return "none";
    std::vector<double> s = sorted(micros);
    std::string text = "p50 " + duration(percentile(s, 0.5));
    if (tail)
        text += ", p90 " + duration(percentile(s, 0.9)) + ", p99 " + duration(percentile(s, 0.99));
    return text + ", max " + duration(s.back());
}

// "p50 X, max Y" of counts.
std::string count_spread(const std::vector<double> &counts) {
    if (counts.empty())
        return "none";
    std::vector<double> s = sorted(counts);
    char text[64];
    std::snprintf(text, sizeof text, "min %.0f, p50 %.0f, max %.0f", s.front(), percentile(s, 0.5), s.back());
    return text;
}

// ------------------------------------------------------------------ UCI

// The device's answer to each of the bridge's commands, in the device's
// words where the bridge reads them.
std::vector<std::string> device_answers(const std::string &command) {
    if (command.empty() || command == " " || command == "J")
        return {};
    if (command == "U ON")
        return {"Force mode on"};
    if (command == "U OFF")
        return {"Force mode off"};
    if (command == "I")
        return {"Novag Sapphire II"};
    if (command == "V")
        return {"Display off"};
    if (command == "H")
        return {"Display on"};
    if (command.size() == 2 && command[0] == 'S')
        return {"Detail " + command.substr(1)};
    if (command == "N")
        return {"New Game"};
    if (command == "T")
        return {"Take back"};
    if (starts_with(command, "L "))
        return {"Level " + command.substr(2), "level"};
    if (starts_with(command, "PCW"))
        return {"Position set"};
    if (command.size() >= 5 && command[0] == 'M')
        return {"1. " + command.substr(1, 2) + "-" + command.substr(3)};
    return {command};  // "A OFF", "X ON": echoed
}

// The device's end of the line: it answers the bridge's commands and writes
// its lines at the line's pace.
class Device {
public:
    explicit Device(int baud)
        : byte_time_(baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud) : Clock::duration::zero()),
          commands_(pty_.master) {}
    const std::string &path() const { return pty_.path; }
    int fd() const { return pty_.master; }

    // Queues a line, CR LF added, behind what is still going out.
    void send(const std::string &line) {
        if (out_.empty())
            next_due_ = std::max(next_due_, Clock::now());
        out_ += line + "\r\n";
    }
    bool sending() const { return !out_.empty(); }
    Clock::time_point next_due() const { return out_.empty() ? Clock::time_point::max() : next_due_; }
    // When the last byte that went out was written.
    Clock::time_point last_byte_at() const { return last_byte_; }

    // Writes the bytes whose time has come: all at once without a baud
    // rate, else one per byte time.
    void write_due() {
        if (out_.empty())
            return;
        Clock::time_point now = Clock::now();
        std::size_t due = out_.size();
        if (byte_time_ != Clock::duration::zero()) {
            if (now < next_due_)
                return;
            due = std::min(out_.size(), static_cast<std::size_t>((now - next_due_) / byte_time_) + 1);
            next_due_ += byte_time_ * static_cast<long>(due);
        }
        write_all(pty_.master, out_.substr(0, due));
        last_byte_ = Clock::now();
        out_.erase(0, due);
    }

    // Takes what the bridge wrote and answers each command.
    void take_commands() {
        if (!commands_.take())
            fail("the line to the bridge failed");
        while (!commands_.lines.empty()) {
            Stamped command = commands_.lines.front();
            commands_.lines.pop_front();
            for (const std::string &answer : device_answers(command.text))
                send(answer);
            received.push_back(command);
        }
    }

    // Every command the bridge has sent, in order.
    std::vector<Stamped> received;

private:
    Pty pty_;
    Clock::duration byte_time_;
    LineReader commands_;
    std::string out_;
    Clock::time_point next_due_{};
    Clock::time_point last_byte_{};
};

using Wanted = std::function<bool(const std::string &)>;

Wanted is(const std::string &text) {
    return [text](const std::string &line) { return line == text; };
}

Wanted begins(const std::string &head) {
    return [head](const std::string &line) { return starts_with(line, head); };
}

// The bridge in a UCI session against the bench's device.
class UciRun {
public:
    // uci_at_start: "uci" is written the moment the bridge starts, as GUIs do.
    UciRun(const Settings &settings, int baud, bool uci_at_start) : device_(baud) {
        bridge_ = spawn({settings.bridge}, settings.workdir, {"PAWNBRIDGE_COM1=" + device_.path()});
        output_ = LineReader(bridge_.out);
        if (uci_at_start)
            started_ = say("uci");
    }
    ~UciRun() {
        if (bridge_.pid > 0)
            finish();
    }
    UciRun(const UciRun &) = delete;
    UciRun &operator=(const UciRun &) = delete;

    Device &device() { return device_; }
    Clock::time_point started() const { return started_; }
    std::size_t commands() const { return device_.received.size(); }

    // Writes a line to the bridge; returns when the write began. The
    // bridge may answer before the write returns, as it may to a GUI.
    Clock::time_point say(const std::string &line) {
        Clock::time_point at = Clock::now();
        bridge_.send(line);
        return at;
    }

    // One wait on both ends of the bridge, until either has something, the
    // device's next byte is due, or the deadline.
    void pump(Clock::time_point deadline) {
        device_.write_due();
        Clock::time_point until = std::min(deadline, device_.next_due());
        auto left = std::max(until - Clock::now(), Clock::duration::zero());
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        timespec wait{static_cast<time_t>(seconds.count()),
                      static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
        pollfd p[2] = {{output_.ended() ? -1 : output_.fd(), POLLIN, 0}, {device_.fd(), POLLIN, 0}};
        if (ppoll(p, 2, &wait, nullptr) < 0 && errno != EINTR)
            die("ppoll");
        if (p[0].revents)
            output_.take();
        if (p[1].revents)
            device_.take_commands();
        device_.write_due();
    }

    // The bridge's next line that is wanted; the lines before it are dropped.
    Stamped expect(const Wanted &wanted, const std::string &what, int timeout_ms = 30000) {
        Clock::time_point deadline = Clock::now() + milliseconds(timeout_ms);
        for (;;) {
            while (!output_.lines.empty()) {
                Stamped line = output_.lines.front();
                output_.lines.pop_front();
                if (wanted(line.text))
                    return line;
            }
            if (output_.ended())
                fail("the bridge ended before " + what);
            if (Clock::now() >= deadline)
                fail("no " + what + " from the bridge");
            pump(deadline);
        }
    }

    // The next device command from the one at `from` on that is wanted.
    Stamped expect_command(std::size_t from, const Wanted &wanted, const std::string &what) {
        Clock::time_point deadline = Clock::now() + milliseconds(30000);
        for (std::size_t next = from;;) {
            for (; next < device_.received.size(); ++next)
                if (wanted(device_.received[next].text))
                    return device_.received[next];
            if (Clock::now() >= deadline)
                fail("the device never got " + what);
            pump(deadline);
        }
    }

    // Lines the bridge printed and nobody has taken yet.
    std::deque<Stamped> &printed() { return output_.lines; }

    void finish() {
        say("quit");
        Clock::time_point deadline = Clock::now() + milliseconds(10000);
        while (!output_.ended()) {
            if (Clock::now() >= deadline)
                fail("the bridge did not end after quit");
            pump(deadline);
        }
        bridge_.wait();
        bridge_.pid = -1;
    }

private:
    Device device_;
    Child bridge_;
    LineReader output_;
    Clock::time_point started_{};
};

struct UciFigures {
    std::vector<double> channel;
    std::vector<double> uciok_at_start, uciok_when_up;
    std::vector<double> readyok, bestmove;
    std::vector<double> position_commands;
    std::vector<double> onward, onward_commands, back, back_commands;
    double setup_us = 0;
    std::size_t setup_commands = 0;
};

void handshakes(const Settings &settings, int baud, UciFigures &figures) {
    for (int i = 0; i < settings.repeats; ++i) {
        {
            UciRun run(settings, baud, true);
            Stamped ok = run.expect(is("uciok"), "uciok");
            figures.uciok_at_start.push_back(micros_between(run.started(), ok.at));
        }
        {
            UciRun run(settings, baud, false);
            run.expect(is("Pawnbridge"), "its name line");
            Clock::time_point asked = run.say("uci");
            Stamped ok = run.expect(is("uciok"), "uciok");
            figures.uciok_when_up.push_back(micros_between(asked, ok.at));
        }
    }
}

// The i-th analysis line of a search, of the device's usual length.
std::string analysis_line(int i) {
    char line[128];
    std::snprintf(line, sizeof line, ".= d %d 0.1%d 0:00:%02d 20/ 20 19982/s e2-e4 e7-e5 g1-f3 b8-c6 f1-b5",
                  1 + i / 5, i % 10, i % 60);
    return line;
}

void start_session(UciRun &run) {
    run.expect(is("Pawnbridge"), "its name line");
    run.say("uci");
    run.expect(is("uciok"), "uciok");
    run.say("ucinewgame");
    run.say("isready");
    run.expect(is("readyok"), "readyok");
}

// The position line is answered with all its device commands before the
// "isready" behind it: the commands up to "readyok" are the position's.
std::size_t commands_for_position(UciRun &run, const std::string &line) {
    std::size_t before = run.commands();
    run.say(line);
    run.say("isready");
    run.expect(is("readyok"), "readyok");
    return run.commands() - before;
}

// A game with the device as Black: the GUI's move, "go" on clocks, the
// device's analysis with "isready" at random moments, its move.
void game(const Settings &settings, int baud, UciFigures &figures) {
    UciRun run(settings, baud, false);
    start_session(run);
    // The knights go out and back: the bench's device takes any move.
    const char *const theirs[] = {"g1f3", "f3g1"};
    const char *const replies[] = {"g8f6", "f6g8"};
    const char *const device_replies[] = {"g8-f6", "f6-g8"};
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> gap_ms(settings.line_ms / 3, settings.line_ms * 3 / 2);
    std::string moves;
    for (int s = 0; s < settings.searches; ++s) {
        moves += std::string(" ") + theirs[s % 2];
        figures.position_commands.push_back(
            static_cast<double>(commands_for_position(run, "position startpos moves" + moves)));
        std::size_t before_go = run.commands();
        run.say("go wtime 300000 btime 300000 winc 2000 binc 2000");
        run.expect_command(before_go, is("J"), "move-now after go");

        Clock::time_point start = Clock::now();
        Clock::time_point end = start + milliseconds(settings.search_ms);
        Clock::time_point next_line = start + milliseconds(10);
        Clock::time_point next_probe = start + milliseconds(gap_ms(random));
        bool probing = false;
        Clock::time_point probe_sent{};
        for (int i = 0;;) {
            Clock::time_point now = Clock::now();
            if (now >= next_line && now < end) {
                run.device().send(analysis_line(i++));
                next_line += milliseconds(settings.line_ms);
            }
            if (!probing && now >= end)
                break;
            if (!probing && now >= next_probe) {
                probe_sent = run.say("isready");
                probing = true;
            }
            Clock::time_point deadline = !probing    ? std::min({next_line, next_probe, end})
                                         : now < end ? std::min(next_line, end)
                                                     : now + milliseconds(5000);
            run.pump(deadline);
            if (probing && Clock::now() > probe_sent + milliseconds(5000))
                fail("no readyok while the device thinks");
            while (!run.printed().empty()) {
                Stamped line = run.printed().front();
                run.printed().pop_front();
                if (starts_with(line.text, "bestmove"))
                    fail("bestmove before the device moved");
                if (line.text == "readyok" && probing) {
                    figures.readyok.push_back(micros_between(probe_sent, line.at));
                    probing = false;
                    next_probe = line.at + milliseconds(gap_ms(random));
                }
            }
        }

        std::size_t before_move = run.commands();
        run.device().send("M " + std::to_string(s + 1) + ", " + device_replies[s % 2] + " .");
        while (run.device().sending())
            run.pump(Clock::now() + milliseconds(1000));
        Clock::time_point replied = run.device().last_byte_at();
        Stamped best = run.expect(begins("bestmove"), "bestmove");
        if (best.text != std::string("bestmove ") + replies[s % 2])
            fail("the bridge gave " + best.text + " for the device's " + device_replies[s % 2]);
        figures.bestmove.push_back(micros_between(replied, best.at));
        // Back into force mode before the next position.
        run.expect_command(before_move, is("U ON"), "force mode after the move");
        moves += std::string(" ") + replies[s % 2];
    }
}

// The floor under readyok and bestmove: a line through the pty and a pipe
// with nothing but cat between them, after the same idle moments as the
// bridge has while the device thinks; a process woken from its wait pays
// the machine's own time to run it again.
void channel_alone(const Settings &settings, UciFigures &figures) {
    Pty pty;
    Child cat = spawn({"cat"}, "", {}, pty.slave);
    LineReader output(cat.out);
    std::mt19937 random(54321);
    std::uniform_int_distribution<int> gap_ms(settings.line_ms / 3, settings.line_ms * 3 / 2);
    for (int i = 0; i < settings.searches * 3; ++i) {
        std::this_thread::sleep_for(milliseconds(gap_ms(random)));
        Clock::time_point sent = Clock::now();
        write_all(pty.master, "M 1, e7-e5 .\r\n");
        while (output.lines.empty()) {
            pollfd p{output.fd(), POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0 || !output.take())
                fail("cat passed nothing on");
        }
        figures.channel.push_back(micros_between(sent, output.lines.front().at));
        output.lines.pop_front();
    }
    kill(cat.pid, SIGTERM);
    cat.wait();
}

// A long game on the device, then the GUI's position one move on and one
// move back, again and again.
void long_game(const Settings &settings, int baud, UciFigures &figures) {
    UciRun run(settings, baud, false);
    start_session(run);
    const char *const shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    std::string game = "position startpos moves";
    for (int i = 0; i < settings.plies; ++i)
        game += std::string(" ") + shuffle[i % 4];
    Clock::time_point asked = Clock::now();
    figures.setup_commands = commands_for_position(run, game);
    figures.setup_us = micros_since(asked);

    const std::string next = settings.plies % 2 == 0 ? "e2e4" : "e7e5";
    for (int i = 0; i < settings.repeats; ++i) {
        std::size_t before = run.commands();
        asked = run.say(game + " " + next);
        Stamped move = run.expect_command(before, is("M" + next), "the new move");
        figures.onward.push_back(micros_between(asked, move.at));
        run.say("isready");
        run.expect(is("readyok"), "readyok");
        figures.onward_commands.push_back(static_cast<double>(run.commands() - before));

        before = run.commands();
        asked = run.say(game);
        Stamped back = run.expect_command(before, is("T"), "the take-back");
        figures.back.push_back(micros_between(asked, back.at));
        run.say("isready");
        run.expect(is("readyok"), "readyok");
        figures.back_commands.push_back(static_cast<double>(run.commands() - before));
    }
}

void print_uci(const Settings &settings, int baud, const UciFigures &f) {
    if (baud > 0)
        std::printf("UCI session; the device's lines at %d baud (%.2f ms a byte):\n", baud, 10000.0 / baud);
    else
        std::printf("UCI session; the device's lines at once (a pty has no baud rate):\n");
    auto row = [](const char *what, const std::string &figures) { std::printf("  %-58s %s\n", what, figures.c_str()); };
    char label[96];
    row("uci -> uciok, uci written as the bridge starts", spread(f.uciok_at_start));
    row("uci -> uciok, uci written once the bridge is up", spread(f.uciok_when_up));
    std::snprintf(label, sizeof label, "isready -> readyok while the device thinks (%zu probes)", f.readyok.size());
    row(label, spread(f.readyok, true));
    std::snprintf(label, sizeof label, "device's move reply -> bestmove (%zu moves)", f.bestmove.size());
    row(label, spread(f.bestmove, true));
    std::snprintf(label, sizeof label, "a line through the pty and a pipe alone, cat (%zu lines)",
                  f.channel.size());
    row(label, spread(f.channel, true));
    std::snprintf(label, sizeof label, "device commands per position in a game (%zu positions)",
                  f.position_commands.size());
    row(label, count_spread(f.position_commands));
    std::snprintf(label, sizeof label, "position of %d plies + 1 new -> the device has the move", settings.plies);
    row(label, spread(f.onward));
    row("  device commands for it", count_spread(f.onward_commands));
    std::snprintf(label, sizeof label, "position of the %d plies again -> the device has T", settings.plies);
    row(label, spread(f.back));
    row("  device commands for it", count_spread(f.back_commands));
    std::snprintf(label, sizeof label, "the %d plies after ucinewgame, once (one round trip each)", settings.plies);
    row(label, duration(f.setup_us) + ", " + std::to_string(f.setup_commands) + " device commands");
}

// ------------------------------------------------------------- analysis

// Two positions of the main line, set up by FEN, each with a move to play in it.
const char *const ITALIAN = "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQK2R w KQkq - 1 5";
const char *const NAJDORF = "rnbqkb1r/1p2pppp/p2p1n2/8/3NP3/2N5/PPP2PPP/R1BQKB1R w KQkq - 0 6";

struct Change {
    std::string kind;
    std::string line;
};

// One round of position changes, from the start position back to it.
std::vector<Change> analysis_round() {
    return {{"move", "e2e4"},
            {"move", "e7e5"},
            {"move", "g1f3"},
            {"move", "b8c6"},
            {"move", "f1b5"},
            {"undo", "undo"},
            {"undo", "undo"},
            {"remove", "remove"},
            {"setboard", std::string("setboard ") + ITALIAN},
            {"move", "c2c3"},
            {"setboard", std::string("setboard ") + NAJDORF},
            {"move", "f2f3"},
            {"new", "new"}};
}

bool is_thinking_line(const std::string &line) { return !line.empty() && std::isdigit(static_cast<unsigned char>(line[0])); }

// The bridge's standard output, lines stamped as they come.
class Output {
public:
    explicit Output(int fd) : reader_(fd) {}
    // The next line, waiting until the deadline; nothing at the end.
    std::optional<Stamped> next(Clock::time_point deadline) {
        while (reader_.lines.empty()) {
            if (reader_.ended())
                return std::nullopt;
            auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return std::nullopt;
            pollfd p{reader_.fd(), POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0)
                reader_.take();
        }
        Stamped line = reader_.lines.front();
        reader_.lines.pop_front();
        return line;
    }
    Stamped expect(const Wanted &wanted, const std::string &what) {
        Clock::time_point deadline = Clock::now() + milliseconds(30000);
        for (;;) {
            std::optional<Stamped> line = next(deadline);
            if (!line)
                fail("no " + what + " from the bridge");
            if (starts_with(line->text, "Illegal move"))
                fail("the bridge said: " + line->text);
            if (wanted(line->text))
                return *line;
        }
    }
    // Reads on until the time has passed.
    void drain(int ms) {
        Clock::time_point until = Clock::now() + milliseconds(ms);
        while (next(until)) {
        }
    }

private:
    LineReader reader_;
};

struct Measured {
    std::string kind;
    double to_pong = 0;
    double to_thinking = 0;
    std::vector<std::string> commands;
    // Bytes both ways on the line for the change, line ends included.
    double line_bytes = 0;
};

// A command with its move or position left out: "M", "PCW".
std::string command_shape(const std::string &command) {
    if (command.size() > 1 && command[0] == 'M')
        return "M<move>";
    if (starts_with(command, "PCW"))
        return "PCW<position>";
    return command;
}

void analysis(const Settings &settings) {
    std::string log_path = settings.workdir + "/NovagLog.txt";
    unlink(log_path.c_str());
    Child emulator = spawn({settings.emulator, "--speed", settings.speed}, settings.workdir);
    std::string port = emulator.line("the emulator", 30000);
    Child bridge = spawn({settings.bridge}, settings.workdir, {"PAWNBRIDGE_COM1=" + port});
    Output output(bridge.out);
    output.expect(is("Pawnbridge"), "its name line");
    bridge.send("xboard");
    bridge.send("protover 2");
    output.expect(is("feature done=1"), "the features");
    bridge.send("new");
    bridge.send("post");
    bridge.send("analyze");
    output.expect(is_thinking_line, "a thinking line");

    std::vector<Measured> measured;
    std::vector<std::string> lines_sent;
    for (int round = 0; round < settings.rounds; ++round) {
        for (const Change &change : analysis_round()) {
            output.drain(settings.dwell_ms);
            std::string pong = "pong " + std::to_string(measured.size() + 1);
            // One write, as a GUI that pings writes them: the change is
            // done before the ping is read.
            Clock::time_point asked = Clock::now();
            write_all(bridge.in, change.line + "\nping " + std::to_string(measured.size() + 1) + "\n");
            Stamped done = output.expect(is(pong), pong);
            Stamped first = output.expect(is_thinking_line, "a thinking line after " + change.line);
            measured.push_back({change.kind, micros_between(asked, done.at), micros_between(asked, first.at), {}});
            lines_sent.push_back(change.line);
        }
    }
    bridge.send("exit");
    bridge.send("quit");
    Clock::time_point deadline = Clock::now() + milliseconds(10000);
    while (output.next(deadline)) {
    }
    bridge.wait();
    kill(emulator.pid, SIGTERM);
    emulator.wait();
    std::vector<ChangeTraffic> traffic = change_traffic(read_file(log_path), lines_sent);
    if (traffic.size() != lines_sent.size())
        fail("NovagLog.txt holds " + std::to_string(traffic.size()) + " of the " +
             std::to_string(lines_sent.size()) + " position changes");
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        measured[i].commands = traffic[i].commands;
        measured[i].line_bytes = static_cast<double>(traffic[i].bytes);
    }

    std::printf("xboard analysis mode against sapphire-emu --speed %s: %zu position changes, each after "
                "%d ms of analysis:\n",
                settings.speed.c_str(), measured.size(), settings.dwell_ms);
    std::printf("  %-9s %5s  %-28s %-28s %-22s %-21s %s\n", "change", "count", "to pong (change done)",
                "to the first thinking line", "device commands", "at 9600 baud, p50", "the commands");
    std::vector<std::string> kinds = {"move", "undo", "remove", "setboard", "new", "all"};
    for (const std::string &kind : kinds) {
        std::vector<double> to_pong, to_thinking, counts, bytes;
        std::map<std::string, int> shapes;
        for (const Measured &m : measured) {
            if (kind != "all" && m.kind != kind)
                continue;
            to_pong.push_back(m.to_pong);
            to_thinking.push_back(m.to_thinking);
            counts.push_back(static_cast<double>(m.commands.size()));
            bytes.push_back(m.line_bytes);
            std::string shape;
            for (const std::string &command : m.commands)
                shape += (shape.empty() ? "" : " ") + command_shape(command);
            ++shapes[shape];
        }
        if (to_pong.empty())
            continue;
        // The most frequent sequence, and how many others there were.
        auto common = std::max_element(shapes.begin(), shapes.end(),
                                       [](const auto &a, const auto &b) { return a.second < b.second; });
        std::string sequence = kind == "all" ? "" : common->first;
        if (kind != "all" && shapes.size() > 1)
            sequence += " (and " + std::to_string(shapes.size() - 1) + " other sequences)";
        // The bytes' own time on the device's line, which a pty does not take.
        double median_bytes = percentile(sorted(bytes), 0.5);
        char wire[48];
        std::snprintf(wire, sizeof wire, "%.0f bytes, +%.0f ms", median_bytes, median_bytes * 10000.0 / 9600.0);
        std::printf("  %-9s %5zu  %-28s %-28s %-22s %-21s %s\n", kind.c_str(), to_pong.size(), spread(to_pong).c_str(),
                    spread(to_thinking).c_str(), count_spread(counts).c_str(), wire, sequence.c_str());
    }
}

// ----------------------------------------------------------------- main

char workdir[] = "/tmp/session-bench-XXXXXX";

void remove_workdir() {
    unlink((std::string(workdir) + "/NovagLog.txt").c_str());
    rmdir(workdir);
}

int positive(const char *text) {
    int value = std::atoi(text);
    if (value < 1)
        fail(std::string("not a positive number: ") + text);
    return value;
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    bool uci = true, analyse = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool more = i + 1 < argc;
        if (arg == "--uci")
            analyse = false;
        else if (arg == "--analysis")
            uci = false;
        else if (arg == "--baud" && more)
            settings.bauds = {std::atoi(argv[++i])};
        else if (arg == "--repeats" && more)
            settings.repeats = positive(argv[++i]);
        else if (arg == "--searches" && more)
            settings.searches = positive(argv[++i]);
        else if (arg == "--search-ms" && more)
            settings.search_ms = positive(argv[++i]);
        else if (arg == "--line-ms" && more)
            settings.line_ms = positive(argv[++i]);
        else if (arg == "--plies" && more)
            settings.plies = positive(argv[++i]);
        else if (arg == "--rounds" && more)
            settings.rounds = positive(argv[++i]);
        else if (arg == "--dwell-ms" && more)
            settings.dwell_ms = positive(argv[++i]);
        else if (arg == "--speed" && more)
            settings.speed = argv[++i];
        else if (arg == "--emulator" && more)
            settings.emulator = argv[++i];
        else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: session-bench [--uci | --analysis] [--baud N] [--repeats N] "
                                 "[--searches N] [--search-ms MS] [--line-ms MS] [--plies N] [--rounds N] "
                                 "[--dwell-ms MS] [--speed X] [--emulator PATH] [BRIDGE]\n");
            return 2;
        } else
            settings.bridge = arg;
    }
    if (!uci && !analyse)
        fail("--uci and --analysis each leave the other out: give one of them, or neither");
    for (int baud : settings.bauds)
        if (baud < 0)
            fail("--baud must not be negative");
    // The children run in a working directory of their own.
    char resolved[4096];
    if (realpath(settings.bridge.c_str(), resolved) != nullptr)
        settings.bridge = resolved;
    if (realpath(settings.emulator.c_str(), resolved) != nullptr)
        settings.emulator = resolved;
    signal(SIGPIPE, SIG_IGN);
    if (!mkdtemp(workdir))
        die("mkdtemp");
    std::atexit(remove_workdir);
    settings.workdir = workdir;

    if (uci) {
        for (int baud : settings.bauds) {
            UciFigures figures;
            handshakes(settings, baud, figures);
            game(settings, baud, figures);
            channel_alone(settings, figures);
            long_game(settings, baud, figures);
            print_uci(settings, baud, figures);
            std::fflush(stdout);
        }
    }
    if (analyse)
        analysis(settings);
    return 0;
}
