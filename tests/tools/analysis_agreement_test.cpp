// The bridge and the emulated device agree on every step of an analysis:
// after each change of the position the GUI makes in analysis mode (a move,
// undo, remove, new, setboard), the device's thinking is about the position
// the GUI shows, and no move of the device's ever enters the game.
#include "board.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

extern char **environ;

namespace {

// The emulator on a pseudo-terminal linked in the directory, at ten times
// the device's pace.
class Emulator {
public:
    explicit Emulator(const TempDir &dir) : link_(dir.file("com1")) {
        std::vector<std::string> args = {SAPPHIRE_EMU, "--link", link_, "--speed", "10"};
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, SAPPHIRE_EMU, nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        struct stat st {};
        for (int i = 0; i < 600 && lstat(link_.c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~Emulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string &port() const { return link_; }

private:
    std::string link_;
    pid_t pid_ = -1;
};

// A move as the device writes it ("e2-e4", "e4xd5", "e7-e8/Q") in the
// position, or nothing.
std::optional<chess::Move> device_move(const chess::Position &pos, const std::string &word) {
    if (word.size() < 5)
        return std::nullopt;
    int from = chess::parse_square(word.substr(0, 2));
    int to = chess::parse_square(word.substr(3, 2));
    int promo = chess::NO_TYPE;
    if (word.size() == 7 && word[5] == '/')
        promo = std::string(" PNBRQK").find(word[6]);
    if (from < 0 || to < 0)
        return std::nullopt;
    return pos.find_legal(from, to, promo);
}

struct Session {
    TempDir dir;
    Emulator emulator{dir};
    Bridge bridge{emulator.port(), dir.path()};
    chess::Position gui = chess::Position::start();

    int pings = 0;

    // The GUI changes the position; the pong that follows marks where the
    // lines of the searches before end.
    void send(const std::string &line) {
        bridge.send(line);
        std::string number = std::to_string(++pings);
        bridge.send("ping " + number);
        std::string pong = "pong " + number;
        std::string seen;
        do {
            ASSERT_TRUE(bridge.read_line(seen, 10000)) << "no " << pong << " after " << line;
        } while (seen != pong);
    }

    // Thinking lines of the new search, until three of them had a
    // variation: every move of it must be legal, in turn, in the GUI's
    // position. No move may come.
    void expect_thinking_about_the_gui_position(const std::string &step) {
        int checked = 0;
        for (int lines = 0; checked < 3 && lines < 200; ++lines) {
            std::string line;
            ASSERT_TRUE(bridge.read_line(line, 5000)) << step << ": the device went silent";
            ASSERT_NE(line.rfind("move ", 0), 0u) << step << ": the device played " << line;
            std::istringstream words(line);
            long long depth, score, time, nodes;
            if (!(words >> depth >> score >> time >> nodes))
                continue;  // not a thinking line
            chess::Position walk = gui;
            std::string word;
            int moves = 0;
            while (words >> word) {
                auto move = device_move(walk, word);
                ASSERT_TRUE(move.has_value()) << step << ": " << word << " is not legal in the line " << line;
                walk.make(*move);
                ++moves;
            }
            if (moves > 0)
                ++checked;
        }
        EXPECT_EQ(checked, 3) << step;
    }
    void gui_move(const std::string &coordinates) {
        auto move = gui.parse_coordinate(coordinates);
        ASSERT_TRUE(move.has_value());
        gui.make(*move);
        send(coordinates);
    }
};

TEST(AnalysisAgreement, EveryStepSearchesThePositionTheGuiShows) {
    Session s;
    s.bridge.expect("Pawnbridge", 10000);
    s.bridge.send("protover 2");
    s.bridge.expect_line();
    s.bridge.expect_line();  // the port option
    s.bridge.expect("feature done=1");
    s.send("new");
    s.send("post");
    s.send("analyze");
    s.expect_thinking_about_the_gui_position("the start");
    s.gui_move("e2e4");
    s.expect_thinking_about_the_gui_position("after e2e4");
    s.gui_move("c7c5");
    s.expect_thinking_about_the_gui_position("after c7c5");
    s.gui_move("g1f3");
    s.expect_thinking_about_the_gui_position("after g1f3");
    s.gui.unmake();
    s.send("undo");
    s.expect_thinking_about_the_gui_position("after undo");
    s.gui.unmake();
    s.gui.unmake();
    s.send("remove");
    s.expect_thinking_about_the_gui_position("after remove");
    const char *fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
    s.gui = *chess::Position::from_fen(fen);
    s.send(std::string("setboard ") + fen);
    s.expect_thinking_about_the_gui_position("after setboard");
    s.gui_move("e1g1");
    s.expect_thinking_about_the_gui_position("after castling");
    s.gui = chess::Position::start();
    s.send("new");
    s.expect_thinking_about_the_gui_position("after new");
    s.gui_move("d2d4");
    s.expect_thinking_about_the_gui_position("after d2d4");
    // Out of analysis the device plays the side to move in the GUI's game.
    s.send("exit");
    s.bridge.send("go");
    std::string line;
    do {
        ASSERT_TRUE(s.bridge.read_line(line, 10000)) << "no move after go";
    } while (line.rfind("move ", 0) != 0);
    EXPECT_TRUE(s.gui.parse_coordinate(line.substr(5)).has_value()) << line << " in " << s.gui.fen();
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
}

}  // namespace
