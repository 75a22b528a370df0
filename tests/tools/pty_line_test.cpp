// The emulator's serial line: CR LF framing both ways, a line that nobody
// reads must not hang the emulator, a new session starts clean, and a port
// left in exclusive mode by a closed bridge opens again.
#include "pty_line.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

// What the bridge would read from the port within timeout_ms.
std::string read_port(int fd, int timeout_ms) {
    std::string got;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0) {
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.append(chunk, static_cast<std::size_t>(n));
        timeout_ms = 20;
    }
    return got;
}

int open_port(const std::string &path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

}  // namespace

TEST(PtyLine, FramesLinesWithCrLfBothWays) {
    emu::PtyLine line;
    std::string error;
    ASSERT_TRUE(line.open(error)) << error;
    int port = open_port(line.slave_path());
    ASSERT_GE(port, 0);

    ASSERT_EQ(write(port, "Me2e4\r\nU O", 10), 10);
    EXPECT_EQ(line.receive(1000), "Me2e4");
    EXPECT_FALSE(line.receive(50));  // half a line is no line
    ASSERT_EQ(write(port, "N\r\n\r\n", 5), 5);
    EXPECT_EQ(line.receive(1000), "U ON");
    EXPECT_EQ(line.receive(1000), "");

    line.send("New Game");
    EXPECT_EQ(read_port(port, 1000), "New Game\r\n");
    close(port);
}

TEST(PtyLine, NobodyReadingNeverHangsItAndANewSessionStartsClean) {
    emu::PtyLine line;
    std::string error;
    ASSERT_TRUE(line.open(error)) << error;
    auto started = std::chrono::steady_clock::now();
    // Far more than the terminal buffers: the excess is dropped.
    for (int i = 0; i < 3000; ++i)
        line.send(std::string(90, 'x'));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    int port = open_port(line.slave_path());
    ASSERT_GE(port, 0);
    line.discard_unread();
    line.send("Force mode off");
    EXPECT_EQ(read_port(port, 1000), "Force mode off\r\n");
    close(port);
}

TEST(PtyLine, APortLeftExclusiveByAClosedUserOpensAgain) {
    emu::PtyLine line;
    std::string error;
    ASSERT_TRUE(line.open(error)) << error;
    // The bridge's way of holding the port.
    int port = open_port(line.slave_path());
    ASSERT_GE(port, 0);
    ASSERT_EQ(flock(port, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(port, TIOCEXCL), 0);
    int exclusive = 0;
    line.receive(50);
    ASSERT_EQ(ioctl(port, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);  // kept while its user holds it
    close(port);
    line.receive(100);  // the emulator notices the close
    port = open_port(line.slave_path());
    ASSERT_GE(port, 0);
    ASSERT_EQ(ioctl(port, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(port);
}
