// The serial link and the session log, called in-process against a pty.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "fixtures.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"
#include "platform.h"

namespace {

using Link = LinkedTest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST_F(Link, ReadTimeoutIsAQueryAtZero) {
    EXPECT_EQ(set_read_timeout(0), 500);
    EXPECT_EQ(set_read_timeout(1000), 500);
    EXPECT_EQ(set_read_timeout(0), 1000);
}

TEST_F(Link, LinesKeepTheirLineEndAndAreLogged) {
    device.send("New Game\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "New Game\r\n");
    send_device("");
    EXPECT_EQ(device.expect_line(), "");
    EXPECT_EQ(log(), " <-- New Game\r\n --> \r\n");
}

// The new-game exchange whispers each device line whole: only its line end
// is replaced, a CR inside the text stays.
TEST_F(Link, NewGameWhispersWholeLines) {
    device.send("Hello\rthere\r\nNew Game\rstarted\r\n");
    CaptureStdout();
    new_device_game();
    EXPECT_EQ(GetCapturedStdout(),
              "tellics whisper Hello\rthere\n"
              "tellics whisper New Game\rstarted\n");
    EXPECT_EQ(device.expect_line(), "N");
}

TEST_F(Link, TimeOutsAreNotedOnlyAboveHalfASecond) {
    set_read_timeout(100);
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "");
    device.send("par");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "par");
    set_read_timeout(600);
    read_device(reply_line);
    send_device("X");
    EXPECT_EQ(log(), " <-- "
                     " <-- par"
                     " <-- (Timeout 600 msecs)\r\n"
                     " --> X\r\n");
}

TEST_F(Link, ReportLinesAreTakenUpAndReplacedByTheNextLine) {
    set_read_timeout(700);
    device.send("M#1\r\nM#3 draw\r\nM 12, e2-e4 .\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "M 12, e2-e4 .\r\n");
    EXPECT_EQ(end_code, 3);
    EXPECT_EQ(set_read_timeout(0), 700);

    device.send("M#X\r\n");
    read_device(reply_line);  // nothing follows within 110 ms
    EXPECT_STREQ(reply_line, "");
    EXPECT_EQ(end_code, 'X' - '0');
    device.send("M#\r\nX#1\r\n");
    read_device(reply_line);
    EXPECT_EQ(end_code, '\r' - '0');
    EXPECT_STREQ(reply_line, "X#1\r\n");
    EXPECT_EQ(log(), " <-- M#1\r\n <-- M#3 draw\r\n <-- M 12, e2-e4 .\r\n"
                     " <-- M#X\r\n <-- "
                     " <-- M#\r\n <-- X#1\r\n");
}

TEST_F(Link, OverlongLinesAreCutButLoggedWhole) {
    std::string line(1000, 'a');
    device.send(line + "\r\nnext\r\n");
    read_device(reply_line);
    EXPECT_EQ(std::strlen(reply_line), sizeof reply_line - 1);
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "next\r\n");
    EXPECT_EQ(log(), " <-- " + line + "\r\n <-- next\r\n");
}

TEST_F(Link, AHungUpLineReadsAsAnErrorAtOnce) {
    set_read_timeout(5000);
    device.close_master();
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "");
    EXPECT_EQ(log(), " <-- (err: 5)");
}

// ------------------------------------------------- the port read in blocks
// One read takes whatever the device has sent so far, and lines are framed
// from what it took: lines that share a read, lines spread over several,
// and the bytes left over after a line are where that can go wrong.

using Blocks = LinkedTest;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Waits until the line holds all of the bytes sent, so that the next read
// of the port takes them together.
void wait_until_queued(const PtyDevice &device, std::size_t bytes) {
    for (int waited = 0; device.unread() < static_cast<int>(bytes) && waited < 5000; waited += 2)
        std::this_thread::sleep_for(milliseconds(2));
    ASSERT_EQ(device.unread(), static_cast<int>(bytes));
}

void send_queued(PtyDevice &device, const std::string &bytes) {
    device.send(bytes);
    wait_until_queued(device, bytes.size());
}

// Standard input replaced by an empty pipe while it lives, so that a wait
// for input or port can only be woken by the port.
class SilentInput {
public:
    SilentInput() {
        EXPECT_EQ(pipe(ends_), 0);
        saved_ = dup(0);
        dup2(ends_[0], 0);
    }
    ~SilentInput() {
        dup2(saved_, 0);
        close(saved_);
        close(ends_[0]);
        close(ends_[1]);
    }

private:
    int ends_[2] = {-1, -1};
    int saved_ = -1;
};

TEST_F(Blocks, LinesThatShareAReadStaySeparateLines) {
    send_queued(device, "first\r\nsecond\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "first\r\n");
    EXPECT_EQ(device.unread(), 0);  // both came in with the one read
    set_read_timeout(100);
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "second\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "");
    EXPECT_EQ(log(), " <-- first\r\n <-- second\r\n <-- ");
}

// The device's turn waits for the interface and the port together before
// each line; a line already taken from the port must wake that wait at once.
TEST_F(Blocks, BytesLeftAfterALineWakeTheWaitForThePortAtOnce) {
    SilentInput input;
    send_queued(device, "OK\r\n. d 3 0.10 0:00:01 1/ 2 900/s e7-e5\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "OK\r\n");
    auto started = Clock::now();
    EXPECT_EQ(plat_wait_input_or_port(20000), 2);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    read_device(reply_line);
    EXPECT_STREQ(reply_line, ". d 3 0.10 0:00:01 1/ 2 900/s e7-e5\r\n");
    // Nothing left: the wait runs out.
    EXPECT_EQ(plat_wait_input_or_port(100), 0);
}

// Each read waits the time-out for the next byte, not for the whole line.
// The gaps keep wide margins to the time-out, for a busy machine.
constexpr int TIMEOUT_MS = 500;
constexpr int SHORT_GAP_MS = TIMEOUT_MS * 2 / 5;
constexpr int LONG_GAP_MS = TIMEOUT_MS * 5 / 2;

TEST_F(Blocks, GapsShorterThanTheTimeOutJoinALineLongerOnesEndIt) {
    set_read_timeout(TIMEOUT_MS);
    std::thread sender([this] {
        for (const char *piece : {"M 1", ", e7", "-e5", " .\r\n", "M 2, d7"}) {
            std::this_thread::sleep_for(milliseconds(SHORT_GAP_MS));
            device.send(piece);
        }
        std::this_thread::sleep_for(milliseconds(LONG_GAP_MS));
        device.send("-d5 .\r\n");
    });
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "M 1, e7-e5 .\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "M 2, d7");
    set_read_timeout(LONG_GAP_MS * 2);  // the rest is the next line
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "-d5 .\r\n");
    sender.join();
    EXPECT_EQ(log(), " <-- M 1, e7-e5 .\r\n <-- M 2, d7 <-- -d5 .\r\n");
}

TEST_F(Blocks, AReportAndTheLinesAfterItInOneRead) {
    set_read_timeout(800);
    send_queued(device, "M#5 mate\r\nM 12, e2-e4 .\r\nthird\r\n");
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "M 12, e2-e4 .\r\n");
    EXPECT_EQ(end_code, 5);
    EXPECT_EQ(set_read_timeout(0), 800);
    read_device(reply_line);
    EXPECT_STREQ(reply_line, "third\r\n");
    EXPECT_EQ(log(), " <-- M#5 mate\r\n <-- M 12, e2-e4 .\r\n <-- third\r\n");
}

// Only LF ends a line. A line longer than the reader's buffer is cut to it
// even when it spans several reads of the port, and the line after it in
// the last of them is still a line of its own.
TEST_F(Blocks, NulBytesLoneCarriageReturnsAndOverlongLines) {
    const std::string odd("a\0b\rc\r\n", 7);
    const std::string overlong(3000, 'o');
    send_queued(device, odd + overlong + "\r\nlast\r\n");
    char small[8];
    read_device(small);
    EXPECT_EQ(std::string(small, sizeof small), odd + '\0');
    read_device(small);
    EXPECT_STREQ(small, "ooooooo");
    read_device(small);
    EXPECT_STREQ(small, "last\r\n");
    EXPECT_EQ(log(), " <-- " + odd + " <-- " + overlong + "\r\n <-- last\r\n");
}

TEST(Timestamp, IsTwentyFourEnglishCharactersWhateverTheLocale) {
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    std::string stamp = timestamp();
    ASSERT_EQ(stamp.size(), 24u) << stamp;
    EXPECT_TRUE(stamp_at(stamp, 0)) << stamp;
    EXPECT_NE(std::string("Sun Mon Tue Wed Thu Fri Sat ").find(stamp.substr(0, 4)), std::string::npos) << stamp;
    EXPECT_NE(std::string("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ").find(stamp.substr(4, 4)),
              std::string::npos)
        << stamp;
}

// A port that cannot be had ends the run with the system error code and one
// line on standard error that says what to do about it.
TEST(PortRefused, HeldByAnotherProgramSaysSo) {
    PtyDevice device;
    int holder = open(device.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    setenv("PAWNBRIDGE_COM1", device.path().c_str(), 1);
    std::string expected = "^pawnbridge: " + device.path() + " is in use by another program\n$";
    EXPECT_EXIT(open_link(plat_port_from_environment()), ::testing::ExitedWithCode(EWOULDBLOCK), expected.c_str());
    close(holder);
}

TEST(PortRefused, PermissionDeniedNamesTheDialoutGroup) {
    TempDir dir;
    std::string port = dir.file("ttyS0");
    dir.write("ttyS0", "");
    ASSERT_EQ(chmod(port.c_str(), 0), 0);
    setenv("PAWNBRIDGE_COM1", port.c_str(), 1);
    std::string expected = "^pawnbridge: cannot open " + port + ": Permission denied .*dialout group.*\n$";
    EXPECT_EXIT(
        {
            // Root may open anything; the bridge is then run as nobody.
            if (geteuid() == 0 && setuid(65534) != 0)
                _exit(100);
            open_link(plat_port_from_environment());
        },
        ::testing::ExitedWithCode(EACCES), expected.c_str());
}

TEST(PortRefused, OtherErrorsNameTheSystemsReason) {
    TempDir dir;
    std::string port = dir.file("no-such-port");
    setenv("PAWNBRIDGE_COM1", port.c_str(), 1);
    std::string expected = "^pawnbridge: cannot open " + port + ": No such file or directory\n$";
    EXPECT_EXIT(open_link(plat_port_from_environment()), ::testing::ExitedWithCode(ENOENT), expected.c_str());
}

}  // namespace
