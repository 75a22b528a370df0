// Whole games as a GUI plays them: moves, the device's thinking, its moves
// and its end-of-game reports.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"

namespace {

using Session = StartedBridge;

std::string analysis(const std::string &status, int depth, const std::string &score,
                     const std::string &pv) {
    return status + " d " + std::to_string(depth) + " " + score + " 0:00:07 12/ 34 900/s " + pv;
}

TEST(Games, ThinkingLinesThenTheMove) {
    Session s;
    s.move("e2e4", "Me2e4");
    // Each thinking line reaches the interface while the device still thinks.
    s.device.send_line(analysis(".", 3, "0.10", "e7-e5"));
    s.bridge.expect(" 3&    10   7   6300  e7-e5");
    s.device.send_line(analysis(".+", 4, "0.29", "e7-e5 g1-f3"));
    s.bridge.expect(" 4.    28   7   6300  e7-e5 g1-f3");
    s.device.send_line(analysis(".=", 5, "-0.40", "c7-c5 g1-f3"));
    s.bridge.expect(" 5.   -40   7   6300  c7-c5 g1-f3");
    s.device.send_line("M 1, c7-c5 .");
    s.bridge.expect("move c7c5");

    s.move("e7e8q", "Me7e8/Q");
    s.device.send_line("m 2 a2-a1/N");
    s.bridge.expect("move a2a1n");
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    EXPECT_NE(log.find(" <-- M 1, c7-c5 .\r\n<== move c7c5\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<==  5.   -40   7   6300  c7-c5 g1-f3\r\n"), std::string::npos) << log;
}

TEST(Games, QuestionMarkMakesTheDeviceMoveAtOnce) {
    Session s;
    s.move("d2d4", "Md2d4");
    s.device.send_line(analysis(".", 6, "0.20", "d7-d5"));
    s.bridge.expect(" 6&    20   7   6300  d7-d5");
    s.bridge.send("?");
    s.device.expect("J");
    s.bridge.send("?");  // no longer watched: not read until the turn ends
    EXPECT_TRUE(s.device.quiet(200));
    s.device.send_line("M 1, d7-d5 .");
    s.bridge.expect("move d7d5");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
    EXPECT_NE(s.log().find("==> ? !!!\r\n --> J\r\n"), std::string::npos) << s.log();
}

TEST(Games, SilentDeviceIsToldToMoveThenReported) {
    Session s;
    // Half a second on the clock: the device is told to move at once.
    s.bridge.send("time 50");
    s.device.answer("L FD3", "OK");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L FD3");
    s.move("e2e4", "Me2e4");
    s.device.expect("J", 1000);
    // Not a word from the device within seconds of that: the user is told.
    EXPECT_TRUE(is_silent_device_report(s.bridge.expect_line(5000)));
    // Its move, should it come after all, still reaches the GUI, which
    // waits for it.
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    // The bridge is back in its command loop and the game goes on.
    s.move("d2d4", "Md2d4");
    s.device.send_line("M 2, d7-d5 .");
    s.bridge.expect("move d7d5");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_NE(s.log().find(" --> J\r\n <-- (Timeout 3000 msecs)\r\n"), std::string::npos) << s.log();
}

TEST(Games, RefusedMovesAndANewGameAnswer) {
    Session s;
    s.bridge.send("e2e5");
    s.device.expect("Me2e5");  // no answer: refused after a second
    s.bridge.expect("Illegal move: e2e5", 3000);
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "New Game");
    s.bridge.expect("flag");
    s.bridge.expect("adjourn");
    s.bridge.expect("Illegal move: e2e4");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Games, EndOfGameReportsWhereverTheyArrive) {
    Session s;
    // Answered to the move: the result instead of "Illegal move". The side
    // that made the mating move mates.
    s.bridge.send("f2f3");
    s.device.answer("Mf2f3", "M#5");
    s.bridge.expect("1-0 {White mates}");
    s.bridge.send("white");
    s.bridge.send("f2f3");
    s.device.answer("Mf2f3", "M#5");
    s.bridge.expect("1-0 {White mates}");
    s.bridge.send("black");
    s.bridge.send("d8h4");
    s.device.answer("Md8h4", "M#5");
    s.bridge.expect("0-1 {Black mates}");
    s.bridge.send("white");

    // Before the move reply: the result comes first.
    s.move("e2e4", "Me2e4");
    s.device.send("M#1\r\nM#3\r\nM 1, e7-e5 .\r\n");
    s.bridge.expect("1/2-1/2 {Draw by insufficient material}");
    s.bridge.expect("move e7e5");

    // In the read after the move: the result follows it.
    s.move("g1f3", "Mg1f3");
    s.device.send("M 2, b8-c6 .\r\nM#6\r\n");
    s.bridge.expect("move b8c6");
    s.bridge.expect("resign");
    s.bridge.expect("tellics resign");

    // A resignation with more time on the device's clock is not passed on.
    s.bridge.send("otime 5000");
    s.move("f1c4", "Mf1c4");
    s.device.send("M 3, g8-f6 .\r\nM#6\r\n");
    s.bridge.expect("move g8f6");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
}

TEST(Games, LeavingTheBookIsWhispered) {
    Session s;
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");

    // Still in the book: a book notice and a book-marked reply.
    s.move("e2e4", "Me2e4");
    s.device.send("Book\r\nM 1, e7-e5 |\r\n");
    s.bridge.expect("1 0 100 0 (Book)");
    s.bridge.expect("move e7e5");

    // A settled analysis line takes the device out of it.
    s.move("g1f3", "Mg1f3");
    s.device.send_line(analysis(".=", 7, "0.30", "b8-c6"));
    s.bridge.expect(" 7.    30   7   6300  b8-c6");
    s.device.send_line("M 2, b8-c6 .");
    s.bridge.expect("tellics whisper Out of book.");
    s.bridge.expect("move b8c6");

    // Out of book already: no second whisper; a big swing is whispered.
    s.move("f1b5", "Mf1b5");
    s.device.send_line(analysis(".=", 8, "-1.25", "a7-a6"));
    s.bridge.expect("tellics whisper Score: -1.25 (-1.55)");
    s.bridge.expect(" 8.  -125   7   6300  a7-a6");
    s.device.send_line("M 3, a7-a6 .");
    s.bridge.expect("move a7a6");
    EXPECT_EQ(s.quit(), 0);
    // Whispers go to the interface only, not into the log.
    EXPECT_EQ(s.log().find("whisper Out of book"), std::string::npos);
    EXPECT_EQ(s.log().find("whisper Score"), std::string::npos);
}

TEST(Games, OverlongAndMalformedDeviceLinesDoNotDerailTheGame) {
    Session s;
    s.move("e2e4", "Me2e4");
    s.device.send_line(analysis(".", 9, "0.10", std::string(400, 'x')));
    std::string line = s.bridge.expect_line();
    EXPECT_EQ(line.substr(0, 22), " 9&    10   7   6300  ");
    EXPECT_LE(line.size(), 127u);
    s.device.send_line(". d 9 1e30 99:00:00 1/ 2 2000000000/s e7-e5");
    s.bridge.expect(" 9& 2147483647 356400 712800000000000  e7-e5");
    s.device.send_line("M 1, e7-e5xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx .");  // token too long
    EXPECT_TRUE(s.bridge.quiet(300));  // the turn ends without a move
    s.sync();
    s.move("d2d4", "Md2d4");
    s.device.send_line("M 2, d7-d5 .");
    s.bridge.expect("move d7d5");
    EXPECT_EQ(s.quit(), 0);
}

}  // namespace
