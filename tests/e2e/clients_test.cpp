// What the clients of today read and write: thinking lines in the form of
// protocol 2, time controls as python-chess, lichess-bot and match runners
// write them, the winner named from the game, and a session that ends at
// once however the GUI ends it.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;
using Session = StartedBridge;

std::string analysis(const std::string &status, int depth, const std::string &score,
                     const std::string &clock, const std::string &pv) {
    return status + " d " + std::to_string(depth) + " " + score + " " + clock + " 12/ 34 900/s " + pv;
}

bool log_has(const Session &s, const std::string &text) {
    return s.log().find(text) != std::string::npos;
}

TEST(ThinkingForm, ProtocolTwoGetsBarePliesCentisecondsAndMates) {
    Session s;
    s.bridge.send("protover 2");
    s.bridge.expect_line();
    s.bridge.expect_line();  // the port option
    s.bridge.expect("feature done=1");
    s.move("e2e4", "Me2e4");
    s.device.send("Book\r\n" + analysis(".", 3, "0.10", "0:00:07", "e7-e5") + "\r\n");
    s.bridge.expect("1 0 100 0 (Book)");  // the book line as before
    s.bridge.expect("3 10 700 6300 e7-e5");
    s.device.send_line(analysis(".=", 5, "-1.15", "1:02:03", "c7-c5 g1-f3"));
    s.bridge.expect("tellics whisper Score: -1.15 (-1.15)");  // whispers as before
    // The score as the device wrote it: -1.15 is -115, not the float's -114.
    s.bridge.expect("5 -115 372300 3350700 c7-c5 g1-f3");
    s.device.send_line(analysis(".=", 7, "n 3", "0:00:01", "d8-h4"));
    s.bridge.expect("tellics whisper Mate in 3");
    s.bridge.expect("7 100003 100 900 d8-h4");
    s.device.send_line(analysis(".+", 8, "-n 2", "0:00:00", ""));
    s.bridge.expect("8 -100002 0 0");
    s.device.send_line(analysis("5", 9, "-Mate", "0:00:02", "a7-a6"));
    s.bridge.expect("9 -9999 200 1800 a7-a6");  // no count: a score, -99.99 exactly
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(log_has(s, "<== 3 10 700 6300 e7-e5\r\n")) << s.log();
}

TEST(ThinkingForm, ProtocolOneKeepsItsForm) {
    Session s;
    s.bridge.send("protover 1");
    s.move("e2e4", "Me2e4");
    s.device.send_line(analysis(".=", 7, "n 3", "0:00:01", "d8-h4"));
    s.bridge.expect("tellics whisper Mate in 3");
    s.bridge.expect(" 7.  9995   1    900  d8-h4");
    s.device.send_line("M 1, d8-h4 .");
    s.bridge.expect("move d8h4");
    EXPECT_EQ(s.quit(), 0);
}

// The level command a line leads to, answered as the device does.
void expect_level(Session &s, const std::string &line, const std::string &level) {
    s.bridge.send(line);
    s.device.answer(level, "OK");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper " + level);
}

TEST(TimeControls, AsPythonChessAndMatchRunnersWriteThem) {
    Session s;
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    // lichess-bot's 60 s + 1 s: base as minutes:seconds, increment with a
    // fraction. Before, the scan stopped at the colon: increment 12, L AT4.
    expect_level(s, "level 0 0:57 1.0", "L AT1");
    // Its first move at a fixed time, then the clock no longer counts. AT3
    // takes the whole 10 s, which the move's reserve cuts: AT2 fits.
    expect_level(s, "st 10.0", "L AT2");
    s.bridge.send("time 500");
    // A fixed depth, as Knights and cutechess-cli ask for it.
    expect_level(s, "sd 8", "L FD8");
    // 40 moves in 60 s: 1.5 s a move, not the 7.5 s of L TR1.
    expect_level(s, "level 40 1 0", "L AT1");
    s.sync();
    EXPECT_TRUE(s.device.quiet(100));
    EXPECT_EQ(s.quit(), 0);
}

TEST(Winner, TheSideThatMatesIsNamedWithoutWhiteOrBlack) {
    // Knights and cutechess-cli never send "white" or "black": the device,
    // White here by "go", is mated by Black's move.
    Session s;
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("go");
    s.device.expect("J");
    s.device.send_line("M 1, f2-f3 |");
    s.bridge.expect("move f2f3");
    s.move("e7e5", "Me7e5");
    s.device.send_line("M 2, g2-g4 |");
    s.bridge.expect("move g2g4");
    s.bridge.send("d8h4");
    s.device.answer("Md8h4", "M#5 Checkmate");
    s.bridge.expect("0-1 {Black mates}");
    // And the device, Black after "new", mated by White.
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "OK");
    s.device.send("M#5 Checkmate\r\n");
    s.bridge.expect("1-0 {White mates}");
    EXPECT_EQ(s.quit(), 0);
}

// ------------------------------------------------------ ending the session

// Waits for the bridge to end and says how long it took.
long exit_ms(Bridge &bridge, int &status, int timeout_ms = 5000) {
    auto started = Clock::now();
    status = bridge.wait_exit(timeout_ms);
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
}

TEST(SessionEnd, WinBoardsCloseWhileTheDeviceThinksEndsAtOnce) {
    // WinBoard sends these four within 3 ms and kills the engine 50 ms later.
    Session s;
    s.move("e2e4", "Me2e4");
    s.device.send_line(analysis(".", 3, "0.10", "0:00:07", "e7-e5"));
    s.bridge.expect(" 3&    10   7   6300  e7-e5");
    s.bridge.send_raw("result 1-0 {White resigns}\nforce\nping 5\nquit\n");
    s.device.expect("J");
    int status = 0;
    EXPECT_LT(exit_ms(s.bridge, status), 500);
    EXPECT_EQ(status, 0);
    s.bridge.expect("pong 5");
    std::string log = s.log();
    EXPECT_NE(log.find("==> force !!!\r\n --> J\r\n==> ping 5 !!!\r\n==> quit !!!\r\n<== pong 5\r\nSession ends: "),
              std::string::npos)
        << log;
    EXPECT_TRUE(s.device.quiet(100));  // J once, nothing after
}

TEST(SessionEnd, QuitOrTheEndOfInputDuringTheTurnStopsTheDevice) {
    for (bool quit : {true, false}) {
        Session s;
        s.move("e2e4", "Me2e4");
        if (quit)
            s.bridge.send("quit");
        else
            s.bridge.close_stdin();
        s.device.expect("J");
        int status = 0;
        EXPECT_LT(exit_ms(s.bridge, status), 500) << quit;
        EXPECT_EQ(status, 0);
        std::string log = s.log();
        EXPECT_NE(log.find(quit ? "==> quit !!!\r\n --> J\r\nSession ends: " : "==> e2e4\r\n --> Me2e4\r\n"
                                                                                  " <-- OK\r\n --> J\r\nSession ends: "),
                  std::string::npos)
            << log;
    }
}

TEST(SessionEnd, AfterQuestionMarkOtherLinesStillWaitForTheMove) {
    // Only "quit", "ping" and the end of input are taken once the device
    // has been told to move; the rest is the command loop's, after the move.
    Session s;
    s.move("e2e4", "Me2e4");
    s.bridge.send("?");
    s.device.expect("J");
    s.bridge.send("ping 1");
    s.bridge.send("undo");
    EXPECT_TRUE(s.device.quiet(200));
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    s.bridge.expect("pong 1");
    s.device.answer("T", "OK");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
    EXPECT_NE(s.log().find("<== pong 1\r\n==> undo\r\n --> T\r\n"), std::string::npos) << s.log();
}

TEST(SessionEnd, TerminateEndsWithinASecondWhileTheGuiKeepsWriting) {
    signal(SIGPIPE, SIG_IGN);
    Session s;
    std::atomic<bool> writing{true};
    std::thread gui([&] {
        std::string burst;
        for (int i = 0; i < 200; ++i)
            burst += "e2e4\n";
        while (writing)
            s.bridge.send_raw(burst);
    });
    s.device.expect("Me2e4");  // moves reach the device, which never answers
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(s.bridge.pid(), SIGTERM);
    int status = 0;
    long took = exit_ms(s.bridge, status);
    writing = false;
    gui.join();  // its last write fails once the bridge has gone
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 1500);
    std::string log = s.log();
    EXPECT_NE(log.rfind("Session ends: "), std::string::npos);
}

TEST(SessionEnd, TerminateEndsAWriteToAnOutputNobodyReads) {
    signal(SIGPIPE, SIG_IGN);
    Session s;
    // Pongs until standard output is full: nobody reads it. The pings go
    // from a thread of their own, as the bridge stops reading them too.
    std::thread gui([&] {
        std::string pings;
        for (int i = 0; i < 20000; ++i)
            pings += "ping " + std::to_string(i) + "\n";
        s.bridge.send_raw(pings);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(s.bridge.pid(), SIGTERM);
    int status = 0;
    long took = exit_ms(s.bridge, status, 8000);
    gui.join();
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 1500);
    EXPECT_NE(s.log().rfind("Session ends: "), std::string::npos);
}

}  // namespace
