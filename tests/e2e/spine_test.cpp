// The bridge as a GUI sees it: start-up, commands, shutdown, and the log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "fixtures.h"

namespace {

using Session = StartedBridge;

bool matches(const std::string &text, const std::string &pattern) { return log_matches(text, pattern); }

TEST(Startup, SendsTheSequenceThenTheNameLineAndLogsEverything) {
    Session s;
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    EXPECT_TRUE(matches(log, "^New session: " + STAMP + "\r\n"
                             " -->  \r\n"
                             " --> U OFF\r\n <-- OK\r\n"
                             " --> I\r\n <-- OK\r\n"
                             " --> V\r\n <-- OK\r\n"
                             " --> A OFF\r\n <-- OK\r\n"
                             " --> X ON\r\n <-- OK\r\n"
                             "<== Pawnbridge\r\n"
                             "==> quit\r\n"
                             "Session ends: " + STAMP + "\r\n$"))
        << log;
}

TEST(Startup, EndOfInputEndsLikeQuitAndASecondRunAppends) {
    TempDir dir;
    PtyDevice device;
    for (int run = 0; run < 2; ++run) {
        Bridge bridge(device.path(), dir.path());
        device.answer_startup();
        bridge.expect("Pawnbridge");
        bridge.close_stdin();
        EXPECT_EQ(bridge.wait_exit(), 0);
    }
    std::string log = dir.read("NovagLog.txt");
    EXPECT_TRUE(matches(log, "Session ends: " + STAMP + "\r\nNew session: ")) << log;
    EXPECT_EQ(log.rfind("Session ends: "), log.size() - 14 - 24 - 2);
}

TEST(Startup, SilentDeviceLeavesOpenLogLinesAndStillStarts) {
    TempDir dir;
    PtyDevice device;
    Bridge bridge(device.path(), dir.path());
    bridge.expect("Pawnbridge", 6000);
    // Said where the user looks: a GUI shows tellusererror, a terminal
    // standard error; and the bridge goes on, for a device switched on late.
    std::string report = bridge.expect_line();
    EXPECT_TRUE(is_silent_device_report(report)) << report;
    report.erase(0, std::strlen("tellusererror "));
    bridge.send("new");
    // "N" goes unanswered: the empty line and "N" again, then it gives up.
    EXPECT_EQ(bridge.quiet(100), true);
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(8000), 0);
    EXPECT_NE(bridge.stderr_text().find(report), std::string::npos) << bridge.stderr_text();
    std::string log = dir.read("NovagLog.txt");
    EXPECT_NE(log.find(" --> U OFF\r\n <--  --> I\r\n <--  --> V\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<== Pawnbridge\r\n<== tellusererror " + report + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" --> N\r\n <--  --> \r\n --> N\r\n <--  --> \r\n --> N\r\n <-- ==> quit"),
              std::string::npos)
        << log;
}

TEST(Startup, MissingPortExitsWithTheErrorAndPrintsNothing) {
    TempDir dir;
    Bridge bridge(dir.file("no-such-port"), dir.path());
    EXPECT_EQ(bridge.wait_exit(), 2);  // ENOENT
    std::string line;
    EXPECT_FALSE(bridge.read_line(line, 200));
    EXPECT_NE(bridge.stderr_text().find("no-such-port"), std::string::npos);
    EXPECT_EQ(access(dir.file("NovagLog.txt").c_str(), F_OK), -1);
}

TEST(Startup, SecondInstanceOnTheSamePortIsRefused) {
    Session s;
    TempDir other;
    Bridge second(s.device.path(), other.path());
    EXPECT_NE(second.wait_exit(), 0);
    EXPECT_NE(second.stderr_text().find(" is in use by another program"), std::string::npos)
        << second.stderr_text();
    EXPECT_EQ(access(other.file("NovagLog.txt").c_str(), F_OK), -1);
    EXPECT_EQ(s.quit(), 0);
}

// A person in a terminal may ask; a GUI never gives arguments, and any other
// argument changes nothing.
TEST(Arguments, HelpAndVersionAnswerWithoutTouchingThePortOrTheLog) {
    TempDir dir;
    PtyDevice device;
    Bridge help(device.path(), dir.path(), {}, {"--help"});
    help.expect("Usage: pawnbridge [--port PORT] [--list-ports | --help | --version]");
    std::string text, line;
    while (help.read_line(line))
        text += line + "\n";
    EXPECT_EQ(help.wait_exit(), 0);
    for (const char *piece : {"--port PORT", "PAWNBRIDGE_COM1", "--list-ports", "Port", "NovagLog.txt", "Ctrl-C",
                              "Documentation: "})
        EXPECT_NE(text.find(piece), std::string::npos) << piece << " in:\n" << text;
    Bridge version(device.path(), dir.path(), {}, {"--version"});
    line = version.expect_line();
    EXPECT_EQ(line.rfind("pawnbridge ", 0), 0u) << line;
    EXPECT_GT(line.size(), std::string("pawnbridge ").size());
    EXPECT_EQ(version.wait_exit(), 0);
    EXPECT_TRUE(device.quiet(100));
    EXPECT_EQ(access(dir.file("NovagLog.txt").c_str(), F_OK), -1);
}

TEST(Arguments, OthersAreIgnored) {
    TempDir dir;
    PtyDevice device;
    Bridge bridge(device.path(), dir.path(), {}, {"-xreuse", "help"});
    device.answer_startup();
    bridge.expect("Pawnbridge");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
}

TEST(Commands, DeviceTrafficOfEachCommand) {
    Session s;
    s.bridge.send("post");
    s.device.answer("H");
    s.device.answer("S3");
    s.bridge.send("nopost");
    s.device.answer("V");
    s.bridge.send("undo");
    s.device.answer("T");
    s.bridge.send("remove");
    s.device.answer("T");
    s.device.answer("T");
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.expect("tellics whisper New Game");
    s.bridge.send("force");
    s.device.answer("U ON");
    s.bridge.send("white");
    s.device.answer("U OFF");
    for (const char *quiet : {"draw", "result 1-0 {x}", "rating 2100 1900", "otim 500", "?", "E2E4",
                              "e9e4", "i2i4", "hello"})
        s.bridge.send(quiet);
    s.bridge.send("bogus");
    s.bridge.expect("");
    EXPECT_TRUE(s.device.quiet(100));
    s.bridge.send("name Somebody");
    s.bridge.expect("tellics say Hello from a Novag Sapphire II portable chess computer!");
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    EXPECT_NE(log.find("<== \r\n"), std::string::npos);
    EXPECT_EQ(log.find("Hello from"), std::string::npos);
    EXPECT_TRUE(matches(log, "==> new\r\nGame start: " + STAMP + "\r\n --> N\r\n <-- New Game\r\n"));
    EXPECT_TRUE(matches(log, "==> result 1-0 {x}\r\nGame finish: " + STAMP + "\r\n"));
}

TEST(Commands, NewGameWhispersEveryLineUntilNewGame) {
    Session s;
    s.bridge.send("new");
    s.device.expect("N");
    // No answer at first: the empty line and "N" again.
    s.device.expect("", 2000);
    s.device.expect("N");
    s.device.send_line("Hello");
    s.device.send_line("M#3");
    s.device.send_line("New Game");
    s.bridge.expect("tellics whisper Hello");
    s.bridge.expect("tellics whisper New Game");
    EXPECT_EQ(s.quit(), 0);
}

TEST(Commands, ForceInFreshGameTimesTheSetUp) {
    Session s;
    s.bridge.send("new");
    s.device.answer_new_game();
    s.bridge.send("force");
    s.device.answer("U ON");
    for (const char *move : {"e2e4", "e7e5", "g1f3"}) {
        s.bridge.send(move);
        s.device.answer(std::string("M") + move, "OK");
    }
    s.bridge.send("time 6000");
    s.device.answer("L AT4");
    s.device.send_line("OK");
    s.bridge.send("go");
    s.device.answer("U OFF");
    s.device.expect("J");
    s.device.send_line("garbage");  // not a move: the turn ends without output
    // Once the line is logged the turn reads no more interface lines.
    ASSERT_TRUE(file_reaches(s.dir, "NovagLog.txt", " <-- garbage\r\n"));
    s.bridge.send("bogus");
    s.bridge.expect("tellics whisper New Game");
    s.bridge.expect("tellics whisper L AT4");
    s.bridge.expect("");
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    // "time" during set-up writes the set-up entry; "go" then has nothing to add.
    EXPECT_TRUE(matches(log, "==> time 6000\r\n(setup 3 moves took 0 seconds)\r\n")) << log;
    EXPECT_EQ(log.find("(setup", log.find("(setup") + 1), std::string::npos);
}

TEST(Commands, ForceOutsideAFreshGameClosesTheLogUntilTheNextLine) {
    Session s;
    s.bridge.send("force");
    // The device goes into force mode first, then the log is closed.
    s.device.answer("U ON", "Force mode on");
    // While it is closed, another writer may take the file.
    for (int tries = 0; tries < 100; ++tries) {
        int fd = open(s.dir.file("NovagLog.txt").c_str(), O_WRONLY);
        bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        if (locked)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    s.bridge.send("draw");
    EXPECT_EQ(s.quit(), 0);
    EXPECT_NE(s.log().find("==> force\r\n --> U ON\r\n <-- Force mode on\r\n==> draw\r\n==> quit\r\n"),
              std::string::npos);
}

TEST(Commands, LongAndBinaryLinesAreCutNotSplit) {
    Session s;
    std::string huge(100000, 'x');
    s.bridge.send("draw " + huge);
    s.bridge.send_raw(std::string("bog\0us\n", 7));
    s.bridge.send("bogus");
    s.bridge.expect("");
    EXPECT_EQ(s.quit(), 0);
    std::string log = s.log();
    EXPECT_NE(log.find("==> draw " + std::string(250, 'x') + "\r\n==> bog\r\n==> bogus\r\n"),
              std::string::npos);
}

TEST(Signals, InterruptIsIgnoredAndTerminateEndsTheSession) {
    Session s;
    kill(s.bridge.pid(), SIGINT);
    s.bridge.send("bogus");
    s.bridge.expect("");
    kill(s.bridge.pid(), SIGTERM);
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_TRUE(matches(s.log(), "Session ends: " + STAMP + "\r\n$"));
}

TEST(Signals, TerminateEndsALongSilentDeviceTurnAtOnce) {
    Session s;
    s.bridge.send("level 40 60 0");
    s.device.answer("L TR1");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L TR1");
    s.bridge.send("time 360000");
    s.bridge.send("go");
    s.device.expect("J");
    auto started = std::chrono::steady_clock::now();
    kill(s.bridge.pid(), SIGTERM);
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(matches(s.log(), "Session ends: " + STAMP + "\r\n$"));
}

TEST(Idle, WaitingForACommandCostsNoCpu) {
    Session s;
    long before = cpu_ms(s.bridge.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LE(cpu_ms(s.bridge.pid()) - before, 20);
    EXPECT_EQ(s.quit(), 0);
}

}  // namespace
