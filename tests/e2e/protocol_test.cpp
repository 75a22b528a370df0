// What today's GUIs need in their default settings: the protocol-2
// handshake, ping, positions by setboard, force mode at any time, the move
// as soon as it is known, and a clean end when a stop signal follows "quit".
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

const char FEATURES[] =
    "feature myname=\"Pawnbridge\" setboard=1 ping=1 sigint=0 usermove=0 san=0 analyze=1 "
    "pause=0 playother=0 colors=1 time=1 reuse=1";

struct Session : StartedBridge {
    bool log_has(const std::string &text) const { return log().find(text) != std::string::npos; }
};

TEST(Handshake, ProtoverTwoIsAnsweredAtOnceAndOneIsNot) {
    Session s;
    s.bridge.send("xboard");
    s.bridge.send("protover 1");
    s.bridge.send("protover");
    s.sync();  // nothing came before the empty line
    s.bridge.send("protover 2");
    s.bridge.expect(FEATURES);
    // The port in use, as GUIs show an engine's options.
    const std::string port_option = "feature option=\"Port -string " + bridge_port_name(s.device.path()) + "\"";
    s.bridge.expect(port_option);
    s.bridge.expect("feature done=1");
    // The GUI's answers to the features are only logged.
    s.bridge.send("accepted setboard");
    s.bridge.send("rejected pause");
    s.sync();
    EXPECT_TRUE(s.device.quiet(100));
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("==> protover 2\r\n<== " + std::string(FEATURES) + "\r\n<== " + port_option +
                          "\r\n<== feature done=1\r\n==> accepted setboard\r\n"))
        << s.log();
}

TEST(Handshake, PingIsAnsweredAtOnceOrAfterTheDevicesMove) {
    Session s;
    s.bridge.send("ping 7");
    s.bridge.expect("pong 7");
    s.move("e2e4", "Me2e4");
    // While the device is to move, the pong waits for its move.
    s.bridge.send("ping 8");
    s.bridge.send("ping 9");
    EXPECT_TRUE(s.bridge.quiet(300));
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    s.bridge.expect("pong 8");
    s.bridge.expect("pong 9");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("==> ping 8 !!!\r\n")) << s.log();
}

TEST(SetBoard, ThePositionGoesToTheDeviceAndGoPlaysTheSideToMove) {
    Session s;
    s.bridge.send("setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 30");
    s.device.answer("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+", "Position set");
    s.bridge.send("go");
    s.device.expect("J");
    s.device.send_line("M 1, d1-d8 .");
    s.bridge.expect("move d1d8");
    // Black to move: the side marker says so.
    s.bridge.send("setboard 8/8/8/4k3/8/8/4P3/4K3 b - - 3 41");
    s.device.answer("PCWPe2Ke1Bke5-", "Position set");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
}

TEST(SetBoard, InForceModeMovesAreTakenWithoutThinkingUntilGo) {
    Session s;
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("force");
    s.device.answer("U ON", "Force mode on");
    s.bridge.send("setboard rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    s.device.answer("PCWPe4a2b2c2d2f2g2h2Nb1g1Bc1f1Ra1h1Qd1Ke1Bpa7b7c7d7e7f7g7h7nb8g8bc8f8ra8h8qd8ke8-",
                    "Position set");
    s.move("e7e5", "Me7e5");
    EXPECT_TRUE(s.bridge.quiet(300));  // no turn: no move comes
    s.bridge.send("go");
    s.device.answer("U OFF", "Force mode off");
    s.device.expect("J");
    s.device.send_line("M 2, g1-f3 .");
    s.bridge.expect("move g1f3");
    EXPECT_EQ(s.quit(), 0);
}

TEST(SetBoard, ARefusedPositionSendsNothingAndTellsTheUser) {
    Session s;
    for (const char *line : {"setboard 9/8/8/8/8/8/8/8 w - - 0 1",   // past the h-file
                             "setboard 8/8/8/8/8/8/8/8/k w - - 0 1",  // below the first rank
                             "setboard 4k3/8/8/8/8/8/8/4K3",          // no side to move
                             "setboard 4k3/8/8/8/8/8/8/4K3 x - - 0 1",
                             "setboard"}) {
        s.bridge.send(line);
        s.bridge.expect("tellusererror Illegal position");
    }
    EXPECT_TRUE(s.device.quiet(200));
    // The game goes on from where it was.
    s.move("e2e4", "Me2e4");
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Force, AfterAMoveTheNextMovesAreTakenWithoutThinking) {
    // A match runner ends a game on its own side's move: "force", that
    // move, "result", then the next game.
    Session s;
    s.move("e2e4", "Me2e4");
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    s.bridge.send("force");
    s.device.answer("U ON", "Force mode on");
    s.move("g1f3", "Mg1f3");
    s.bridge.send("result 1/2-1/2 {Draw by adjudication}");
    EXPECT_TRUE(s.device.quiet(300));  // no "J", nothing: the device waits
    s.bridge.send("new");
    s.device.answer("U OFF", "Force mode off");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.move("d2d4", "Md2d4");  // the next game is played as usual
    s.device.send_line("M 1, d7-d5 |");
    s.bridge.expect("move d7d5");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("Game finish: ")) << s.log();
}

TEST(Force, DuringTheDevicesTurnItMovesAtOnceThenPlaysNeitherSide) {
    Session s;
    s.move("e2e4", "Me2e4");
    s.bridge.send("force");
    s.device.expect("J");
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    s.device.answer("U ON", "Force mode on");
    s.move("g1f3", "Mg1f3");
    EXPECT_TRUE(s.device.quiet(300));
    s.bridge.send("go");
    s.device.answer("U OFF", "Force mode off");
    s.device.expect("J");
    s.device.send_line("M 2, b8-c6 .");
    s.bridge.expect("move b8c6");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Output, TheMoveGoesOutBeforeTheReadForAReport) {
    Session s;
    s.move("e2e4", "Me2e4");
    s.device.send_line("M 1, e7-e5 .");
    // The device keeps the read after the move busy with a slow line; the
    // move must not wait for it.
    auto started = Clock::now();
    bool seen = false;
    std::string line;
    while (!seen && Clock::now() - started < std::chrono::milliseconds(1500)) {
        s.device.send("x");
        if (s.bridge.read_line(line, 40))
            seen = line == "move e7e5";
    }
    EXPECT_TRUE(seen);
    s.device.send_line("");
    s.sync();
    EXPECT_EQ(s.quit(), 0);
}

TEST(Stop, TerminateRightAfterQuitStillEndsTheLogWithQuit) {
    // xboard ends a session with "force", "quit" and SIGTERM at once.
    Session s;
    s.move("e2e4", "Me2e4");
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    // The signal comes while the bridge still waits for the device.
    s.bridge.send_raw("undo\nforce\nquit\n");
    s.device.expect("T");
    kill(s.bridge.pid(), SIGTERM);
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    std::string log = s.log();
    EXPECT_NE(log.find("==> quit\r\nSession ends: "), std::string::npos) << log;
}

TEST(Stop, TheDevicesAnswerToTheLastMoveIsStillTaken) {
    // xboard passes on a mating move and ends the session at once.
    Session s;
    s.bridge.send("d1d8");
    s.device.expect("Md1d8");
    kill(s.bridge.pid(), SIGTERM);
    s.device.send_line("M#5 Checkmate");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    std::string log = s.log();
    EXPECT_NE(log.find(" <-- M#5 Checkmate\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<== 1-0 {White mates}\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Illegal move"), std::string::npos) << log;
}

TEST(Stop, TerminateEndsAWriteThatTheLineDoesNotTake) {
    Session s;
    s.device.hold_output(true);
    // The line takes nothing while it is held: the first "T" waits.
    s.bridge.send_raw("undo\nundo\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto started = Clock::now();
    kill(s.bridge.pid(), SIGTERM);
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
    s.device.hold_output(false);
    std::string log = s.log();
    EXPECT_NE(log.find("Session ends: "), std::string::npos) << log.substr(log.size() - 200);
}

}  // namespace
