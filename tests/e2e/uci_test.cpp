// The device as a UCI engine: a GUI that opens with "uci" gets UCI's
// hand-shake, positions brought onto the device by the cheapest route,
// searches from its clocks, info lines and bestmove.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string analysis(const std::string &status, int depth, const std::string &score, const std::string &pv) {
    return status + " d " + std::to_string(depth) + " " + score + " 0:00:07 12/ 34 900/s " + pv;
}

TEST(Uci, HandshakeAndWordsThatAreOnlyLogged) {
    UciSession s;
    for (const char *line : {"debug on", "setoption name Hash value 16", "register later", "ponderhit", "stop",
                             "xyzzy"})
        s.bridge.send(line);
    s.ready();
    EXPECT_TRUE(s.device.quiet(100));
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("<== Pawnbridge\r\n==> uci\r\n<== id name Pawnbridge\r\n")) << s.log();
    EXPECT_TRUE(s.log_has("==> xyzzy\r\n==> isready\r\n<== readyok\r\n==> quit\r\nSession ends: ")) << s.log();
}

TEST(Uci, AnyOtherFirstLineKeepsTheXboardProtocol) {
    StartedBridge s;
    s.bridge.send("xboard");
    s.bridge.send("uci");  // not the first line: only logged
    s.move("e2e4", "Me2e4");
    s.device.send_line("M 1, e7-e5 .");
    s.bridge.expect("move e7e5");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Uci, PositionsTakeTheCheapestRoute) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos moves e2e4");
    s.device.answer("Me2e4", "1. e2-e4");
    // One more move: that move alone.
    s.bridge.send("position startpos moves e2e4 e7e5 g1f3");
    s.device.answer("Me7e5", "1... e7-e5");
    s.device.answer("Mg1f3", "2. g1-f3");
    // A shorter list: take-backs.
    s.bridge.send("position startpos moves e2e4 e7e5");
    s.device.answer("T", "Take back");
    // The same: nothing at all.
    s.bridge.send("position startpos moves e2e4 e7e5");
    s.ready();
    EXPECT_TRUE(s.device.quiet(50));
    // Another last move: back one, on one.
    s.bridge.send("position startpos moves e2e4 c7c5");
    s.device.answer("T", "Take back");
    s.device.answer("Mc7c5", "1... c7-c5");
    // Another game altogether: a new game and its moves, fewer commands
    // than two take-backs and two moves.
    s.bridge.send("position startpos moves d2d4");
    s.device.answer_new_game();
    s.device.answer("Md2d4", "1. d2-d4");
    s.bridge.expect("info string New Game");
    // A position by FEN: the position command, then the moves; then the
    // same position one move on: the move alone.
    const std::string fen = "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 30";
    s.bridge.send("position fen " + fen + " moves d1d7");
    s.device.answer("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+", "Position set");
    s.device.answer("Md1d7", "30. d1-d7");
    s.bridge.send("position fen " + fen + " moves d1d7 g8f8");
    s.device.answer("Mg8f8", "30... g8-f8");
    s.ready();
    EXPECT_TRUE(s.device.quiet(50));
    EXPECT_EQ(s.quit(), 0);
}

TEST(Uci, ALongGameIsReadWholeAndFollowedMoveByMove) {
    UciSession s;
    s.new_game();
    // 300 plies: knights out and back, 1,500 characters on one line.
    std::string moves;
    for (int i = 0; i < 75; ++i)
        moves += " g1f3 g8f6 f3g1 f6g8";
    s.bridge.send("position startpos moves" + moves);
    for (int i = 0; i < 75; ++i)
        for (const char *m : {"Mg1f3", "Mg8f6", "Mf3g1", "Mf6g8"})
            s.device.answer(m, "OK");
    s.bridge.send("position startpos moves" + moves + " e2e4");
    s.device.answer("Me2e4", "OK");
    s.ready();
    EXPECT_TRUE(s.device.quiet(50));
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("==> position startpos moves" + moves + "\r\n")) << "the line was cut";
}

TEST(Uci, RefusedPositionsAndMovesAreNamedAndTheNextPositionStartsAfresh) {
    UciSession s;
    s.new_game();
    s.bridge.send("position fen 9/8/8/8/8/8/8/8 w - - 0 1");
    s.bridge.expect("info string Pawnbridge: the chess computer cannot take the position 9/8/8/8/8/8/8/8 w - - 0 1");
    s.bridge.send("position startpos moves e2e5");
    s.device.answer_new_game();
    s.device.expect("Me2e5");  // no answer: refused
    s.bridge.expect("info string New Game", 3000);
    s.bridge.expect("info string Pawnbridge: the chess computer refused the move e2e5");
    s.bridge.send("position startpos moves e2e4 zz99");
    s.bridge.expect("info string Pawnbridge: not a move: zz99");
    s.bridge.send("position startpos moves e2e4");
    s.device.answer_new_game();
    s.device.answer("Me2e4", "OK");
    s.bridge.expect("info string New Game");
    s.ready();
    EXPECT_EQ(s.quit(), 0);
}

TEST(Uci, ASearchGivesInfoLinesAndBestmove) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos moves e2e4");
    s.device.answer("Me2e4", "OK");
    s.go("go wtime 60000 btime 60000 winc 1000 binc 1000", "L AT1");
    s.device.send("Book\r\n" + analysis(".", 3, "0.10", "e7-e5 g1-f3") + "\r\n");
    s.bridge.expect("info string book");
    s.bridge.expect("info depth 3 score cp 10 time 7000 nodes 6300 nps 900 pv e7e5 g1f3");
    s.device.send_line(analysis(".=", 7, "n 3", "g7-g8/Q h1xg1 junk e2-e4"));
    s.bridge.expect("info string Mate in 3");
    s.bridge.expect("info depth 7 score mate 3 time 7000 nodes 6300 nps 900 pv g7g8q h1g1");
    s.device.send_line(analysis(".+", 8, "-n 2", ""));
    s.bridge.expect("info depth 8 score mate -2 time 7000 nodes 6300 nps 900");
    // isready is answered at once, while the device still thinks.
    auto asked = Clock::now();
    s.bridge.send("isready");
    s.bridge.expect("readyok");
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(500));
    s.device_moves("M 1, e7-e5 .", "e7e5");
    // The GUI's next position holds the device's move: only the new move.
    s.bridge.send("position startpos moves e2e4 e7e5 g1f3");
    s.device.answer("Mg1f3", "OK");
    s.ready();
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("==> isready !!!\r\n<== readyok\r\n")) << s.log();
}

TEST(Uci, IsReadyIsAnsweredWhileADeviceLineIsStillOnTheWire) {
    // At 9600 baud a line takes some 70 ms; the GUI's lines do not wait
    // for its end. A line the device leaves unfinished still ends at the
    // read time-out, as before.
    UciSession s;
    s.new_game();
    s.go("go wtime 1000 btime 1000", "L FD3");  // a read time-out of a second
    const std::string line = analysis(".=", 5, "0.25", "e7-e5");
    s.device.send(line.substr(0, 20));
    EXPECT_TRUE(s.bridge.quiet(100));
    auto asked = Clock::now();
    s.bridge.send("isready");
    s.bridge.expect("readyok");
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(200));
    s.device.send(line.substr(20) + "\r\n");
    s.bridge.expect("info depth 5 score cp 25 time 7000 nodes 6300 nps 900 pv e7e5");
    // A second on the clock: the device was told to move long ago.
    s.device.expect("J");
    s.device.send(line.substr(0, 20));  // and then nothing
    s.bridge.expect("bestmove 0000", 5000);
    s.device.answer("U ON");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_TRUE(s.log_has("==> isready !!!\r\n<== readyok\r\n <-- " + line + "\r\n")) << s.log();
    EXPECT_TRUE(s.log_has(" <-- " + line.substr(0, 20) + "<== bestmove 0000")) << s.log();
}

TEST(Uci, LevelsFromMoveTimeDepthAndClocks) {
    UciSession s;
    s.new_game();
    // AT2's 5 s would be cut every move by the move's reserve: AT1 fits.
    s.go("go movetime 5000", "L AT1");
    s.device_moves("M 1, e2-e4 .", "e2e4");
    s.go("go depth 5", "L FD5");
    s.device_moves("M 2, d2-d4 .", "d2d4");
    // 40 moves to go on 60 s: 1.5 s a move, not the tournament level, and
    // not AT1's two seconds either.
    s.go("go wtime 60000 btime 60000 movestogo 40", "L FD3");
    s.device_moves("M 3, c2-c4 .", "c2c4");
    // Black's clock when Black is to move: back to the device's first move.
    s.bridge.send("position startpos moves e2e4");
    s.device.answer("T", "Take back");
    s.device.answer("T", "Take back");
    s.go("go wtime 1000 btime 300000", "L SD2");
    s.device_moves("M 1, e7-e5 .", "e7e5");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Uci, InfiniteSearchesUntilStop) {
    UciSession s;
    s.new_game();
    s.go("go infinite", "L AN8");
    // To the nearest centipawn: the device's 0.13 is no 12.
    s.device.send_line(analysis(".=", 9, "0.13", "e2-e4"));
    s.bridge.expect("info depth 9 score cp 13 time 7000 nodes 6300 nps 900 pv e2e4");
    EXPECT_TRUE(s.device.quiet(300));
    s.bridge.send("stop");
    s.device.expect("J");
    s.device_moves("M 1, e2-e4 .", "e2e4");
    // The move was the analysis's answer: out of the device's game again.
    s.device.answer("T", "Take back e2-e4");
    s.bridge.send("position startpos moves d2d4");
    s.device.answer("Md2d4", "OK");
    s.ready();
    EXPECT_EQ(s.quit(), 0);
}

TEST(Uci, ATurnWithoutAMoveStillAnswersBestmove) {
    UciSession s;
    s.new_game();
    s.bridge.send("position startpos");
    // The game is over: the device reports it instead of a move, and says
    // nothing more; it is no silent device.
    s.go("go movetime 1000", "L FD3");
    s.device.send("M#5 Checkmate\r\n");
    s.bridge.expect("info string 0-1 {Black mates}", 5000);
    s.bridge.expect("bestmove 0000", 5000);
    s.device.answer("U ON");
    // A silent device: told to move when its time is up, then reported,
    // and still a bestmove.
    s.go("go wtime 1000 btime 1000", "");
    s.device.expect("J");
    EXPECT_TRUE(is_silent_device_report(s.bridge.expect_line(5000), "info string "));
    s.bridge.expect("bestmove 0000");
    s.device.answer("U ON");
    // A position that did not reach the device: no search of another one.
    s.bridge.send("position fen 4k3/8/8/8/8/8/8/4K3");
    s.bridge.expect("info string Pawnbridge: the chess computer cannot take the position 4k3/8/8/8/8/8/8/4K3");
    s.bridge.send("go movetime 1000");
    s.bridge.expect("info string Pawnbridge: no position to search: the last one did not reach the chess computer");
    s.bridge.expect("bestmove 0000");
    EXPECT_TRUE(s.device.quiet(100));
    EXPECT_EQ(s.quit(), 0);
}

// How the session is ended: 0 quit, 1 the end of input, 2 SIGTERM.
void ended_while_thinking(int how) {
    UciSession s;
    s.new_game();
    s.go("go infinite", "L AN8");
    auto asked = Clock::now();
    if (how == 0)
        s.bridge.send("quit");
    else if (how == 1)
        s.bridge.close_stdin();
    else
        kill(s.bridge.pid(), SIGTERM);
    s.device.expect("J");
    EXPECT_EQ(s.bridge.wait_exit(), 0) << how;
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(1500)) << how;
    EXPECT_NE(s.log().rfind("Session ends: "), std::string::npos) << how;
}

TEST(Uci, QuitOrTheEndOfInputEndTheSessionWhileTheDeviceThinks) {
    ended_while_thinking(0);
    ended_while_thinking(1);
}

TEST(Stop, AUciSessionEndsOnTerminateWhileTheDeviceThinks) { ended_while_thinking(2); }

}  // namespace
