// Analysis mode: the device searches the position the GUI shows without
// playing, a new search for each change of the position, and "exit" gives
// the game back as it was.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"

namespace {

std::string analysis(const std::string &status, int depth, const std::string &score, const std::string &clock,
                     const std::string &pv) {
    return status + " d " + std::to_string(depth) + " " + score + " " + clock + " 12/ 34 900/s " + pv;
}

struct Analysing : StartedBridge {
    // A protocol-2 GUI in a new game, then "analyze" with the display off,
    // as after start-up.
    Analysing() {
        bridge.send("protover 2");
        bridge.expect_line();
        bridge.expect_line();  // the port option
        bridge.expect("feature done=1");
        bridge.send("new");
        device.answer_new_game();
        bridge.expect("tellics whisper New Game");
        bridge.send("analyze");
        device.answer("U ON", "Force mode on");
        device.answer("H", "Display on");
        device.answer("S3", "Detail 3");
        device.answer("L AN8", "Level AN8");
        device.send_line("Analysis");
        device.expect("J");
    }
    // The search is ended: move now, the device's move, taken back.
    void stopped(const std::string &reply) {
        device.expect("J");
        device.send_line(reply);
        device.answer("T", "Take back");
    }
    bool log_has(const std::string &text) const { return log().find(text) != std::string::npos; }
};

TEST(Analysis, ThinkingWithoutAMoveOrAWhisperAndStatusOnRequest) {
    Analysing s;
    s.bridge.send(".");
    s.bridge.expect("stat01: 0 0 0 0 0");  // nothing said yet
    // A big swing of a settled score: no whisper in an analysis.
    s.device.send_line(analysis(".=", 6, "2.50", "0:00:03", "e2-e4 e7-e5"));
    s.bridge.expect("6 250 300 2700 e2-e4 e7-e5");
    s.bridge.send("hint");
    s.bridge.send("bk");
    s.bridge.send(".");
    s.bridge.expect("stat01: 300 2700 6 22 34");
    EXPECT_TRUE(s.bridge.quiet(200));
    EXPECT_TRUE(s.device.quiet(50));
    s.bridge.send("quit");
    s.device.expect("J");  // it stops; nothing more is waited for
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_TRUE(s.log_has("==> hint\r\n==> bk\r\n==> .\r\n<== stat01: 300 2700 6 22 34\r\n")) << s.log();
    EXPECT_NE(s.log().rfind("==> quit\r\n --> J\r\nSession ends: "), std::string::npos) << s.log();
}

TEST(Analysis, EachChangeOfThePositionIsANewSearch) {
    Analysing s;
    // A move: the search ends, its move goes back, the move, a new search.
    s.bridge.send("e2e4");
    s.stopped("M 1, d2-d4 .");
    s.device.answer("Me2e4", "1. e2-e4");
    s.device.expect("J");
    s.device.send_line(analysis(".=", 3, "-0.20", "0:00:01", "e7-e5"));
    s.bridge.expect("3 -20 100 900 e7-e5");
    s.bridge.send(".");
    s.bridge.expect("stat01: 100 900 3 22 34");
    // undo: back one more.
    s.bridge.send("undo");
    s.stopped("M 1, e7-e5 .");
    s.device.answer("T", "Take back e2-e4");
    s.device.expect("J");
    // remove: two more.
    s.bridge.send("remove");
    s.stopped("M 1, d2-d4 .");
    s.device.answer("T", "Take back");
    s.device.answer("T", "Take back");
    s.device.expect("J");
    // new and setboard replace the game: no take-back of the device's move.
    s.bridge.send("new");
    s.device.expect("J");
    s.device.send_line("M 1, d2-d4 .");
    s.device.answer_new_game();
    s.device.expect("J");
    s.bridge.send("setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 30");
    s.device.expect("J");
    s.device.send_line("M 1, d2-d4 .");
    s.device.answer("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+", "Position set");
    s.device.expect("J");
    // A refused position: the device's move still has to go.
    s.bridge.send("setboard 9/8/8/8/8/8/8/8 w - - 0 1");
    s.device.expect("J");
    s.device.send_line("M 30, d1-d8 .");
    s.device.answer("T", "Take back");
    s.device.expect("J");
    s.bridge.expect("tellusererror Illegal position");  // no whisper of the new game
    EXPECT_TRUE(s.bridge.quiet(100));  // no move was ever printed
    s.bridge.send("quit");
    s.device.expect("J");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
}

TEST(Analysis, ExitGivesTheGameBackAndGoPlaysAsUsual) {
    Analysing s;
    s.device.send_line(analysis(".=", 4, "0.30", "0:00:01", "e2-e4"));
    s.bridge.expect("4 30 100 900 e2-e4");
    s.bridge.send("exit");
    s.stopped("M 1, e2-e4 .");
    // The level the clock asks for (none had been sent), the display off
    // and force mode off again, as they were.
    s.device.answer("L AT4", "Level AT4");
    s.device.send_line("15 sec per move");
    s.device.answer("V", "Display off");
    s.device.answer("U OFF", "Force mode off");
    s.bridge.expect("tellics whisper L AT4");
    s.bridge.send("go");
    s.device.expect("J");
    s.device.send_line("M 1, d2-d4 |");
    s.bridge.expect("move d2d4");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Analysis, ExitRestoresTheLevelAndForceModeThatWereThere) {
    StartedBridge s;
    s.bridge.send("level 0 5 0");
    s.device.answer("L SD2", "Level SD2");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L SD2");
    s.bridge.send("post");
    s.device.answer("H");
    s.device.answer("S3");
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("force");
    s.device.answer("U ON");
    s.bridge.send("analyze");
    s.device.answer("L AN8", "Level AN8");
    s.device.send_line("Analysis");
    s.device.expect("J");
    s.bridge.send("exit");
    s.device.expect("J");
    s.device.send_line("M 1, e2-e4 .");
    s.device.answer("T", "Take back");
    s.device.answer("L SD2", "Level SD2");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L SD2");
    s.sync();
    EXPECT_TRUE(s.device.quiet(100));  // force mode and the display stay
    EXPECT_EQ(s.quit(), 0);
}

}  // namespace

namespace {

TEST(Analysis, AFailedLineIsReportedAndNotReadInALoop) {
    Analysing s;
    s.device.send_line(analysis(".=", 4, "0.30", "0:00:01", "e2-e4"));
    s.bridge.expect("4 30 100 900 e2-e4");
    s.device.close_master();  // the cable pulled out
    EXPECT_TRUE(is_silent_device_report(s.bridge.expect_line()));
    long before = cpu_ms(s.bridge.pid());
    EXPECT_TRUE(s.bridge.quiet(300));
    EXPECT_LE(cpu_ms(s.bridge.pid()) - before, 60);  // waiting, not spinning
    s.bridge.send(".");
    s.bridge.expect("stat01: 100 900 4 22 34");
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_NE(s.log().rfind("Session ends: "), std::string::npos);
}

}  // namespace
