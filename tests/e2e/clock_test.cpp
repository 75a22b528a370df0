// The device's clock: every move has a hard limit worked out from what the
// GUI said, after which the device is told to move ("J"); a device that
// thinks in silence is waited for as long as its level takes; and the
// level is chosen afresh for a new time control.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The GUI's line (a move, or go) that starts the device's turn, and when
// the device is told to move now, in ms after it. The lower bound is
// exact (the bridge times the move from its reading of the line, which
// comes after the send); the upper one leaves room for a busy machine.
struct LimitCase {
    const char *what;
    std::function<void(StartedBridge &)> set_up;
    long long limit_ms;
};

void expect_move_now_after(StartedBridge &s, const std::string &move, long long limit_ms) {
    auto sent = Clock::now();
    s.move(move, "M" + move);
    s.device.expect("J", static_cast<int>(limit_ms) + 2000);
    long long took = ms_since(sent);
    EXPECT_GE(took, limit_ms - 2) << move;  // whole ms on both clocks
    EXPECT_LE(took, limit_ms + 700) << move;
}

// The level a line sets up, answered, with its whisper read.
void level(StartedBridge &s, const std::string &line, const std::string &command) {
    s.bridge.send(line);
    if (command.empty())
        return;
    s.device.answer(command, "OK");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper " + command);
}

TEST(MoveLimit, EdgesOfTheClockInTheXboardProtocol) {
    // A second and a half a move: the link (50 ms) and the GUI (100 ms)
    // keep the rest.
    {
        StartedBridge s;
        level(s, "st 1.5", "L FD3");  // AT1's two seconds do not fit
        expect_move_now_after(s, "e2e4", 1350);
        s.device.send_line("M 1, e7-e5 .");
        s.bridge.expect("move e7e5");
        // Below a second it holds the same way.
        level(s, "st 0.5", "");
        expect_move_now_after(s, "g1f3", 350);
        s.device.send_line("M 2, b8-c6 .");
        s.bridge.expect("move b8c6");
        EXPECT_EQ(s.quit(), 0);
        EXPECT_NE(s.log().find(" --> Mg1f3\r\n <-- OK\r\n --> J\r\n <-- M 2, b8-c6 .\r\n<== move b8c6\r\n"),
                  std::string::npos)
            << s.log();
    }
    // A clock below the reserve: the device moves at once.
    {
        StartedBridge s;
        level(s, "time 10", "L FD3");
        expect_move_now_after(s, "e2e4", 0);
        s.device.send_line("M 1, e7-e5 .");
        s.bridge.expect("move e7e5");
        EXPECT_EQ(s.quit(), 0);
    }
    // An increment larger than the clock: it comes after the move, and
    // only the half second there is now may be spent.
    {
        StartedBridge s;
        level(s, "level 0 1 5", "L AT2");
        level(s, "time 50", "L FD3");
        expect_move_now_after(s, "e2e4", 350);
        s.device.send_line("M 1, e7-e5 .");
        s.bridge.expect("move e7e5");
        EXPECT_EQ(s.quit(), 0);
    }
    // The last move of a control may spend the whole clock but its
    // reserve; in sudden death a move takes two twentieths at most.
    for (bool last : {true, false}) {
        StartedBridge s;
        level(s, last ? "level 1 0:03 0" : "level 0 0:03 0", last ? "L AT1" : "L FD3");
        level(s, "time 300", "");
        expect_move_now_after(s, "e2e4", last ? 2850 : 284);
        s.device.send_line("M 1, e7-e5 .");
        s.bridge.expect("move e7e5");
        EXPECT_EQ(s.quit(), 0);
    }
}

TEST(MoveLimit, NoClockWaitsForASilentDeviceAsLongAsItThinks) {
    // KDE Knights: a depth, no clock, no post. The device's display is off,
    // so a thinking device says nothing until its move.
    StartedBridge s;
    level(s, "sd 8", "L FD8");
    s.move("e2e4", "Me2e4");
    EXPECT_TRUE(s.device.quiet(2500));  // no "J", and no word of a silent device:
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    EXPECT_EQ(s.quit(), 0);
}

TEST(MoveLimit, UciClocksMovesToGoAndTheOverhead) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos");
    // The control's last move: the whole clock but its reserve.
    auto sent = Clock::now();
    s.go("go wtime 3000 btime 3000 movestogo 1", "L AT1");
    s.device.expect("J", 5000);
    EXPECT_GE(ms_since(sent), 2848);
    EXPECT_LE(ms_since(sent), 2850 + 700);
    s.device_moves("M 1, e2-e4 .", "e2e4");
    // The GUI's overhead is honoured: two seconds a move less a second.
    s.bridge.send("setoption name move overhead value 1000");
    s.bridge.send("position startpos moves e2e4 e7e5");
    s.device.answer("Me7e5", "OK");
    sent = Clock::now();
    s.go("go movetime 2000", "L FD3");
    s.device.expect("J", 4000);
    EXPECT_GE(ms_since(sent), 948);
    EXPECT_LE(ms_since(sent), 950 + 700);
    s.device_moves("M 2, d2-d4 .", "d2d4");
    EXPECT_EQ(s.quit(), 0);
}

TEST(MoveLimit, ASilentDevicesLateMoveIsTakenBackInUci) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos");
    s.go("go wtime 1000 btime 1000", "L FD3");
    s.device.expect("J");
    EXPECT_TRUE(is_silent_device_report(s.bridge.expect_line(5000), "info string "));
    s.bridge.expect("bestmove 0000");
    s.device.answer("U ON");
    // The GUI has had its answer: the move leaves the device's game again,
    // before any other command reaches the device.
    s.device.send_line("M 1, e2-e4 .");
    s.device.answer("T", "Take back");
    s.bridge.send("position startpos moves d2d4");
    s.device.answer("Md2d4", "OK");
    s.ready();
    EXPECT_EQ(s.quit(), 0);
}

TEST(MoveLimit, IsReadyIsAnsweredWhileTheLineAfterTheMoveIsStillOnTheWire) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos");
    s.go("go depth 3", "L FD3");
    // The device keeps a line on the wire for half a second after its move:
    // the read after the move goes on, and the GUI's question does not wait
    // for it (it did: readyok came once the line was in).
    s.device.send("M 1, e2-e4 .\r\nD");
    s.bridge.expect("info string Out of book.");
    s.bridge.expect("bestmove e2e4");
    std::thread dribble([&] {
        for (char c : std::string("isplay on!!"))
            s.device.send(std::string(1, c)), std::this_thread::sleep_for(std::chrono::milliseconds(45));
        s.device.send("\r\n");
    });
    auto asked = Clock::now();
    s.bridge.send("isready");
    s.bridge.expect("readyok");
    EXPECT_LT(ms_since(asked), 300);
    dribble.join();
    s.device.answer("U ON");
    EXPECT_EQ(s.quit(), 0);
}

TEST(MoveLimit, UciChoosesTheLevelAfreshForANewTimeControl) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos");
    s.go("go wtime 300000 btime 300000", "L SD2");
    s.device_moves("M 1, e2-e4 .", "e2e4");
    // Within one control the sudden-death level is held.
    s.bridge.send("position startpos moves e2e4 e7e5");
    s.device.answer("Me7e5", "OK");
    s.go("go wtime 290000 btime 290000", "");
    s.device_moves("M 2, d2-d4 .", "d2d4");
    // A new game of a minute: its own level, not the five minutes' one.
    s.new_game();
    s.bridge.send("position startpos");
    s.go("go wtime 60000 btime 60000", "L AT1");
    s.device_moves("M 1, e2-e4 .", "e2e4");
    // Another increment in the same game: a new control too.
    s.bridge.send("position startpos moves e2e4 e7e5");
    s.device.answer("Me7e5", "OK");
    s.go("go wtime 300000 btime 300000", "L SD2");
    s.device_moves("M 2, d2-d4 .", "d2d4");
    s.bridge.send("position startpos moves e2e4 e7e5 d2d4 d7d5");
    s.device.answer("Md7d5", "OK");
    s.go("go wtime 290000 btime 290000 winc 2000 binc 2000", "L AT4");
    s.device_moves("M 3, c2-c4 .", "c2c4");
    EXPECT_EQ(s.quit(), 0);
}

}  // namespace
