// The serial link and the session log, called in-process against a pty.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fixtures.h"
#include "pawnbridge.h"

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
    EXPECT_EXIT(open_link(), ::testing::ExitedWithCode(EWOULDBLOCK), expected.c_str());
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
            open_link();
        },
        ::testing::ExitedWithCode(EACCES), expected.c_str());
}

TEST(PortRefused, OtherErrorsNameTheSystemsReason) {
    TempDir dir;
    std::string port = dir.file("no-such-port");
    setenv("PAWNBRIDGE_COM1", port.c_str(), 1);
    std::string expected = "^pawnbridge: cannot open " + port + ": No such file or directory\n$";
    EXPECT_EXIT(open_link(), ::testing::ExitedWithCode(ENOENT), expected.c_str());
}

}  // namespace
