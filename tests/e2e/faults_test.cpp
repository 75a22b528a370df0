// Faults from outside the bridge: a device that is unplugged or sends
// endless lines, an interface that sends huge or binary lines or goes away in
// the middle of the device's turn, a log that cannot be written or is held by
// another writer. The bridge must keep answering where it can, never spin,
// end cleanly, and lose no line while its log is open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "harness.h"

namespace {

using std::chrono::milliseconds;

const std::string ANALYSIS = ".= d 5 0.25 0:00:07 10/ 20 900/s e7-e5 g1-f3";
const std::string THINKING = " 5.    25   7   6300  e7-e5 g1-f3";

// Every piece appears in the text, each after the end of the one before.
::testing::AssertionResult in_order(const std::string &text, const std::vector<std::string> &pieces) {
    std::size_t at = 0;
    for (const std::string &piece : pieces) {
        std::size_t found = text.find(piece, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure()
                   << "missing after offset " << at << ": \"" << piece << "\"\nin:\n" << text;
        at = found + piece.size();
    }
    return ::testing::AssertionSuccess();
}

std::size_t count(const std::string &text, const std::string &piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

// CPU time the process uses over a stretch of wall-clock time.
long cpu_over(pid_t pid, int ms) {
    long before = cpu_ms(pid);
    std::this_thread::sleep_for(milliseconds(ms));
    return cpu_ms(pid) - before;
}

// A waiting bridge uses next to no CPU; a spinning one about all of a core.
constexpr long IDLE_CPU_MS = 60;

// Sends the device's bytes and waits until the bridge has read them all: a
// hang-up drops whatever is still unread, so a test that cuts the line
// after them waits for this. The bridge reads nothing else meanwhile, so its
// read count tells when they are in.
void send_taken_up(PtyDevice &device, Bridge &bridge, const std::string &bytes) {
    long before = bytes_read(bridge.pid());
    device.send(bytes);
    long target = before + static_cast<long>(bytes.size());
    for (int waited = 0; before >= 0 && bytes_read(bridge.pid()) < target; waited += 5) {
        ASSERT_LT(waited, 5000) << "the bridge did not take up the bytes sent to it";
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_TRUE(device.drained());
    // Under a launcher such as wine the count includes the launcher's own
    // traffic and says little: give the bridge time as well.
    const char *launcher = getenv("PAWNBRIDGE_LAUNCHER");
    if (launcher && *launcher)
        std::this_thread::sleep_for(milliseconds(150));
}

// Waits until the log holds the text, for at most ms milliseconds.
bool log_reaches(const TempDir &dir, const std::string &text, int ms) {
    return file_reaches(dir, "NovagLog.txt", text, "", ms);
}

// What a test puts in the working directory before the bridge starts: once
// it runs, the bridge may already have made or opened NovagLog.txt.
using Prepare = std::function<void(const TempDir &)>;

struct Session {
    TempDir dir;
    PtyDevice device;
    Bridge bridge;

    explicit Session(const Prepare &prepare = {})
        : bridge(device.path(), prepared(dir, prepare).path()) {}
    static const TempDir &prepared(const TempDir &dir, const Prepare &prepare) {
        if (prepare)
            prepare(dir);
        return dir;
    }

    void start() {
        device.answer_startup();
        bridge.expect("Pawnbridge");
    }
    void start_game() {
        bridge.send("new");
        device.answer_new_game();
        bridge.expect("tellics whisper New Game");
    }
    std::string log() const { return dir.read("NovagLog.txt"); }
};

// With the device gone the bridge still answers every command it can, at
// once and without spinning, and quits cleanly.
void expect_runs_on_without_device(const TempDir &dir, Bridge &bridge) {
    EXPECT_LE(cpu_over(bridge.pid(), 300), IDLE_CPU_MS);
    bridge.send("bogus");
    bridge.expect("");
    bridge.send("e2e4");
    bridge.expect("Illegal move: e2e4");
    bridge.send("new");
    bridge.send("go");
    // The device's turn ends at the first failed read, logged after the
    // "J" that starts it; a line sent while it lasts would be taken as said
    // during the turn.
    EXPECT_TRUE(file_reaches(dir, "NovagLog.txt", " --> J\r\n <-- (err: ", "==> go\r\n"));
    // Not a word from the device in its whole turn: the user is told.
    EXPECT_TRUE(is_silent_device_report(bridge.expect_line()));
    bridge.send("level 40 5 0");
    bridge.expect("tellics whisper L TR1");
    bridge.send("bogus");
    bridge.expect("", 2000);
    EXPECT_LE(cpu_over(bridge.pid(), 300), IDLE_CPU_MS);
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
}

// ------------------------------------------------------------ unplugged

TEST(UnpluggedFault, BeforeStartUpTheBridgeEndsAtOnceWithTheError) {
    TempDir dir;
    PtyDevice device;
    std::string port = device.path();
    device.close_master();
    Bridge bridge(port, dir.path());
    EXPECT_NE(bridge.wait_exit(2000), 0);
    EXPECT_TRUE(bridge.quiet(100));
    EXPECT_EQ(access(dir.file("NovagLog.txt").c_str(), F_OK), -1);
}

TEST(UnpluggedFault, DuringTheStartUpSequence) {
    Session s;
    s.device.expect(" ");
    s.device.answer("U OFF");
    s.device.expect("I");
    s.device.close_master();
    s.bridge.expect("Pawnbridge", 2000);
    expect_runs_on_without_device(s.dir, s.bridge);
    EXPECT_TRUE(in_order(s.log(), {" --> U OFF\r\n <-- OK\r\n --> I\r\n <-- (err: ", "<== Pawnbridge\r\n",
                                   "==> bogus\r\n<== \r\n", "==> e2e4\r\n --> Me2e4\r\n",
                                   "<== Illegal move: e2e4\r\n", "==> quit\r\nSession ends: "}));
}

TEST(UnpluggedFault, DuringNew) {
    Session s;
    s.start();
    s.bridge.send("new");
    s.device.expect("N");
    send_taken_up(s.device, s.bridge, "New G");  // cut off in the middle of its answer
    s.device.close_master();
    s.bridge.expect("tellics whisper New G");
    expect_runs_on_without_device(s.dir, s.bridge);
    EXPECT_TRUE(in_order(s.log(), {"==> new\r\nGame start: ", " --> N\r\n <-- (err: ", ")New G",
                                   "==> bogus\r\n<== \r\n", "==> quit\r\n"}));
}

TEST(UnpluggedFault, WhileTheDeviceThinks) {
    Session s;
    s.start();
    s.start_game();
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "OK");
    s.device.send_line(ANALYSIS);
    s.bridge.expect(THINKING);
    send_taken_up(s.device, s.bridge, ".= d 6 0.3");
    s.device.close_master();
    // The failed read that ends the turn without a move is logged ahead of
    // the bytes it got; "?" after it is only logged.
    ASSERT_TRUE(log_reaches(s.dir, ").= d 6 0.3", 5000));
    s.bridge.send("?");
    expect_runs_on_without_device(s.dir, s.bridge);
    EXPECT_TRUE(in_order(s.log(), {"==> e2e4\r\n --> Me2e4\r\n <-- OK\r\n", " <-- " + ANALYSIS + "\r\n",
                                   "<== " + THINKING + "\r\n",
                                   " <-- (err: ", ").= d 6 0.3", "==> ?\r\n==> bogus\r\n"}));
}

TEST(UnpluggedFault, DuringATestRun) {
    Session s;
    s.start();
    s.dir.write("suite.epd", "title One\n"
                             "setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -\n"
                             "solution d1d8\n"
                             "title Two\n"
                             "setboard 8/8/8/4k3/8/8/4P3/4K3 b - -\n"
                             "solution e5e4\n");
    s.bridge.send("test " + s.dir.file("suite.epd") + " 5");
    s.device.answer("H");
    s.device.answer("S4");
    s.device.answer("L AN8");
    s.device.send_line("OK");
    s.device.answer("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+");
    s.device.expect("J");
    send_taken_up(s.device, s.bridge, ".= d 2 0.25 0:00:01 1/ 2 900/s a1-a2\r\n");
    s.device.close_master();
    // The rest of the file is worked through against the dead line: the
    // second problem is set up and run, and neither is counted.
    for (const char *line : {"tellics whisper L AN8", "One", "", "solution d1d8", "",
                             ".= d 2 0.25 0:00:01 1/ 2 900/s a1-a2", "", "Two", "", "solution e5e4", "",
                             "", "Test complete: 0 out of 0 problems solved within 5 seconds", ""})
        s.bridge.expect(line, 2000);
    expect_runs_on_without_device(s.dir, s.bridge);
    EXPECT_TRUE(in_order(s.log(), {" --> J\r\n", " <-- .= d 2 0.25 0:00:01 1/ 2 900/s a1-a2\r\n",
                                   " <-- (err: ", "<== Two\n\r\n", " --> PCWPe2Ke1Bke5-\r\n <-- (err: ",
                                   " --> J\r\n <-- (err: ", "==> bogus\r\n"}));
}

// ------------------------------------------------------------ interface

TEST(InterfaceFault, ClosedInTheMiddleOfTheDevicesTurn) {
    // A GUI that crashed or was killed: nobody waits for the move, and the
    // port must be free for the next bridge at once, not after the clock.
    Session s;
    s.start();
    s.start_game();
    s.bridge.send("time 600000");  // an hour and a half to wait for the device
    s.device.answer("L AT8", "OK");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L AT8");
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "OK");
    s.device.send_line(ANALYSIS);
    s.bridge.expect(THINKING);
    s.bridge.close_stdin();
    s.device.expect("J");  // the device stops searching
    EXPECT_EQ(s.bridge.wait_exit(2000), 0);
    std::string log = s.log();
    EXPECT_TRUE(in_order(log, {"==> e2e4\r\n", " --> J\r\nSession ends: "}));
    EXPECT_EQ(log.find(" !!!"), std::string::npos);  // nothing more was read
}

TEST(InterfaceFault, OneMebibyteLinesAreCutAndTheirRestDropped) {
    Session s;
    s.start();
    const std::string huge(1 << 20, 'x');
    s.bridge.send("draw " + huge);
    s.bridge.send("bogus");
    s.bridge.expect("");
    // The same during the device's turn, where standard input is watched
    // while the device is read; the writer must not hold the device up.
    s.start_game();
    s.bridge.send("time 60000");  // a read time-out of 600 s: only the device ends this turn
    s.device.answer("L AT5");
    s.device.send_line("OK");
    s.bridge.expect("tellics whisper L AT5");
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "OK");
    // Each interface line read in the turn is followed by one device line, so
    // the device talks on until "?" has made it through.
    std::thread writer([&] {
        s.bridge.send("hint " + huge);
        s.bridge.send("?");
    });
    std::string got;
    int sent = 0;
    while (sent < 100 && !(s.device.read_line(got, 50) && got == "J")) {
        s.device.send_line(ANALYSIS);
        ++sent;
    }
    writer.join();
    EXPECT_EQ(got, "J");
    s.device.send_line("M 1, e7-e5");
    for (int i = 0; i < sent; ++i)
        s.bridge.expect(THINKING);
    s.bridge.expect("tellics whisper Out of book.");
    s.bridge.expect("move e7e5");
    s.bridge.send("bogus");
    s.bridge.expect("");
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    std::string log = s.log();
    EXPECT_TRUE(in_order(log, {"==> draw " + std::string(250, 'x') + "\r\n==> bogus\r\n",
                               "==> hint " + std::string(250, 'x') + " !!!\r\n", "==> ? !!!\r\n --> J\r\n",
                               "==> bogus\r\n<== \r\n==> quit\r\n"}));
    // No piece of either line came back as a line of its own.
    EXPECT_EQ(count(log, "==> "), 9u) << log.substr(0, 2000);
}

TEST(InterfaceFault, NulBytesEndTheCommandButNotTheLine) {
    Session s;
    s.start();
    s.bridge.send_raw(std::string("\0bogus\n", 7));
    s.bridge.send_raw(std::string("bogus\0tail\n", 11));
    s.bridge.expect("");
    s.bridge.send_raw(std::string("e2e4\0q\n", 7));
    s.device.expect("Me2e4");
    s.device.send_line("OK");
    s.device.send_line("M 1, e7-e5");
    s.bridge.expect("move e7e5");
    s.bridge.send_raw(std::string("\0\0\0\n", 4));
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_TRUE(in_order(s.log(), {"==> \r\n==> bogus\r\n<== \r\n==> e2e4\r\n --> Me2e4\r\n",
                                   "<== move e7e5\r\n", "==> \r\n==> quit\r\n"}));
}

// --------------------------------------------------------------- device

TEST(DeviceFault, LinesOfAHundredKibibytesWithoutALineEnd) {
    Session s;
    const std::string flood(100 * 1024, 'x');
    s.device.expect(" ");
    s.device.answer("U OFF");
    s.device.expect("I");
    s.device.send(flood);  // the answer to "I" never ends; the gap after it does
    s.device.expect("V", 2000);
    s.device.send_line("OK");
    s.device.answer("A OFF");
    s.device.answer("X ON");
    s.bridge.expect("Pawnbridge");
    // While the device thinks: the flood is no analysis and ends the turn.
    s.start_game();
    s.bridge.send("e2e4");
    s.device.answer("Me2e4", "OK");
    s.device.send(flood);
    // Reading the flood is work in proportion to it (a real line brings a
    // thousand bytes a second); once the gap after it has ended the turn, the
    // bridge waits idle again.
    ASSERT_TRUE(log_reaches(s.dir, " <-- OK\r\n <-- " + flood, 5000));
    std::this_thread::sleep_for(milliseconds(100));
    s.bridge.send("bogus");
    s.bridge.expect("");
    EXPECT_LE(cpu_over(s.bridge.pid(), 300), IDLE_CPU_MS);
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    // Every byte of both floods is in the log, in one piece.
    EXPECT_TRUE(in_order(s.log(), {" --> I\r\n <-- " + flood + " --> V\r\n",
                                   " --> Me2e4\r\n <-- OK\r\n <-- " + flood + "==> bogus\r\n"}));
}

// ------------------------------------------------------------------ log

TEST(LogFault, ANameThatIsADirectoryLeavesTheBridgeWithoutALog) {
    Session s([](const TempDir &dir) { ASSERT_EQ(mkdir(dir.file("NovagLog.txt").c_str(), 0755), 0); });
    s.start();
    s.start_game();
    s.bridge.send("bogus");
    s.bridge.expect("");
    s.bridge.send("quit");
    EXPECT_EQ(s.bridge.wait_exit(), 0);
    EXPECT_EQ(rmdir(s.dir.file("NovagLog.txt").c_str()), 0);  // still there, still empty
}

TEST(LogFault, AWorkingDirectoryThatCannotBeWrittenLeavesTheBridgeWithoutALog) {
    // Not even root may create files in /proc.
    PtyDevice device;
    Bridge bridge(device.path(), "/proc");
    device.answer_startup();
    bridge.expect("Pawnbridge");
    bridge.send("bogus");
    bridge.expect("");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
}

TEST(LogFault, HeldByAnotherWriterTheBridgeRunsOnAndTakesItUpOnceFree) {
    TempDir dir;
    int holder = open(dir.file("NovagLog.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    PtyDevice device;
    Bridge bridge(device.path(), dir.path());
    device.answer_startup();
    bridge.expect("Pawnbridge");
    bridge.send("bogus");
    bridge.expect("");
    EXPECT_EQ(dir.read("NovagLog.txt"), "");
    close(holder);
    // The next line opens the log again, without a "New session" entry.
    bridge.send("bogus");
    bridge.expect("");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    const std::string logged = "==> bogus\r\n<== \r\n==> quit\r\nSession ends: ";
    std::string log = dir.read("NovagLog.txt");
    EXPECT_EQ(log.substr(0, logged.size()), logged);
    EXPECT_EQ(log.size(), logged.size() + 24 + 2) << log;  // the time stamp and CR LF
}

TEST(LogFault, AFullDiskLeavesOnlyWholeEntries) {
    // A file-size limit stands for a full disk: a write that crosses it is
    // cut, and the next fails. The bridge inherits the limit from here.
    TempDir dir;
    PtyDevice device;
    rlimit kept{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &kept), 0);
    rlimit small = kept;
    small.rlim_cur = 400;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Bridge bridge(device.path(), dir.path());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &kept), 0);
    device.answer_startup();
    bridge.expect("Pawnbridge");
    // An entry that crosses the limit: neither it nor anything after it
    // may leave a piece in the log, and the session goes on.
    bridge.send("xyzzy " + std::string(300, 'x'));
    bridge.send("bogus");
    bridge.expect("");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    std::string log = dir.read("NovagLog.txt");
    EXPECT_LE(log.size(), 400u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << log;
    EXPECT_EQ(log.find("xyzzy"), std::string::npos) << log;
}

}  // namespace
