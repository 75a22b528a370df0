// The device's bytes as the port hands them over, seen through the bridge:
// several lines in one piece, one line in several pieces, and the bytes
// left over after a line. The port is read in blocks, so each of these is a
// place where a line could be merged, split, lost or held back.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "fixtures.h"

namespace {

using std::chrono::milliseconds;
using Session = StartedBridge;

const std::string ANALYSIS_3 = ". d 3 0.10 0:00:07 12/ 34 900/s e7-e5";
const std::string THINKING_3 = " 3&    10   7   6300  e7-e5";
const std::string ANALYSIS_4 = ".+ d 4 0.29 0:00:07 12/ 34 900/s e7-e5 g1-f3";
const std::string THINKING_4 = " 4.    28   7   6300  e7-e5 g1-f3";

// The standing read time-out, and gaps well inside and well outside it.
constexpr int TIMEOUT_MS = 500;
constexpr int SHORT_GAP_MS = TIMEOUT_MS * 2 / 5;
constexpr int LONG_GAP_MS = TIMEOUT_MS * 5 / 2;

// The device's move line: "12. ... e7e5" or "move e7e5".
void expect_move(Bridge &bridge, const std::string &move) {
    std::string line = bridge.expect_line();
    const std::string numbered = ". ... " + move;
    bool numbered_form = line.size() > numbered.size() &&
                         line.compare(line.size() - numbered.size(), numbered.size(), numbered) == 0;
    EXPECT_TRUE(numbered_form || line == "move " + move) << line;
}

// A new game on a clock of ten minutes: the device's read time-out is then
// ten minutes too, so a line that waited for it would not come in the test.
void start_long_game(Session &s) {
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("time 60000");
    s.device.answer("L AT5");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L AT5");
}

TEST(DeviceLines, LinesThatArriveTogetherEachComeOutAtOnce) {
    Session s;
    start_long_game(s);
    s.bridge.send("e2e4");
    s.device.expect("Me2e4");
    // The first analysis line comes with the answer to the move, so it is
    // already in the bridge when the device's turn starts to wait.
    s.device.send("OK\r\n" + ANALYSIS_3 + "\r\n");
    s.bridge.expect(THINKING_3);
    s.device.send(ANALYSIS_3 + "\r\n" + ANALYSIS_4 + "\r\n");
    s.bridge.expect(THINKING_3);
    s.bridge.expect(THINKING_4);
    // A report, the move and the line after it, in one piece.
    s.device.send("M#3 draw\r\nM 1, e7-e5 .\r\nM#3\r\n");
    s.bridge.expect("1/2-1/2 {Draw by insufficient material}");
    s.bridge.expect("tellics whisper Out of book.");
    expect_move(s.bridge, "e7e5");
    s.bridge.expect("1/2-1/2 {Draw by insufficient material}");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    for (const std::string &piece :
         {" --> Me2e4\r\n <-- OK\r\n <-- " + ANALYSIS_3 + "\r\n<== " + THINKING_3 + "\r\n",
          " <-- " + ANALYSIS_3 + "\r\n<== " + THINKING_3 + "\r\n <-- " + ANALYSIS_4 + "\r\n<== " +
              THINKING_4 + "\r\n <-- M#3 draw\r\n <-- M 1, e7-e5 .\r\n<== 1/2-1/2",
          std::string("e7e5\r\n <-- M#3\r\n <-- <== 1/2-1/2")})
        EXPECT_NE(log.find(piece), std::string::npos) << piece << "\nin:\n" << log;
}

// In a test run every device line is echoed, which shows where the bridge
// framed them.
TEST(DeviceLines, GapsShorterThanTheTimeOutJoinALineLongerOnesEndIt) {
    Session s;
    s.dir.write("suite.txt", "title Split\n"
                             "setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -\n"
                             "solution d1d8\n");
    s.bridge.send("test suite.txt 10");
    s.device.answer("H");
    s.device.answer("S4");
    s.device.expect("L AN8");
    s.device.send("OK\r\nOK\r\n");
    s.device.answer("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+");
    s.device.expect("J");
    for (const char *piece : {".= d 5 Mate", " 0:00:02 10/", " 20 500/s", " d1-d8", "\r\n"}) {
        std::this_thread::sleep_for(milliseconds(SHORT_GAP_MS));
        s.device.send(piece);
    }
    s.device.expect("J");  // the verdict
    s.device.send("M 1, d1");
    std::this_thread::sleep_for(milliseconds(LONG_GAP_MS));
    s.device.send("-d8 .\r\n");
    for (const char *line : {"tellics whisper L AN8", "Split", "", "solution d1d8", "",
                             ".= d 5 Mate 0:00:02 10/ 20 500/s d1-d8", "Solved!", "M 1, d1",
                             "Test complete: 1 out of 1 problems solved within 10 seconds", ""})
        s.bridge.expect(line);
    s.sync();
    EXPECT_EQ(s.quit(), 0);
    // The cut line has no line end in the log; its rest is never read.
    std::string log = s.log();
    EXPECT_NE(log.find(" <-- .= d 5 Mate 0:00:02 10/ 20 500/s d1-d8\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" --> J\r\n <-- M 1, d1==> bogus\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("-d8 ."), std::string::npos) << log;
}

// Only LF ends a line; a line longer than its reader's buffer is cut to it
// and the line after it in the same piece is still a line of its own.
TEST(DeviceLines, NulBytesLoneCarriageReturnsAndOverlongLinesInOnePiece) {
    Session s;
    s.bridge.send("new");
    s.device.expect("N");
    const std::string nul("a\0b\r\n", 5);
    const std::string overlong(300, 'o');
    s.device.send(nul + "x\ry\r\n" + overlong + "\r\nNew Game\r\n");
    // The whispers stop at a NUL byte, and carry a reply line's 127 bytes.
    s.bridge.expect("tellics whisper a");
    s.bridge.expect("tellics whisper x\ry");
    s.bridge.expect("tellics whisper " + std::string(127, 'o'));
    s.bridge.expect("tellics whisper New Game");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    std::string lines = " --> N\r\n <-- " + nul + " <-- x\ry\r\n <-- " + overlong + "\r\n <-- New Game\r\n";
    EXPECT_NE(log.find(lines), std::string::npos) << log;
}

}  // namespace
