// Finding the chess computer wherever it is plugged in: the search of the
// serial ports, --port, the Port option of both protocols and --list-ports.
// The tests give the search their own ports (PAWNBRIDGE_SEARCH_PORTS, the
// first standing for COM1), so that no real port of the machine is touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

// No port named: the search, over these ports.
std::vector<std::string> searching(const std::vector<std::string> &ports) {
    std::string list;
    for (const auto &port : ports)
        list += (list.empty() ? "" : ":") + port;
    return {"PAWNBRIDGE_COM1=", "PAWNBRIDGE_SEARCH_PORTS=" + list};
}

// A port where something other than the device sits: it reads what it is
// sent and never answers.
void expect_only(PtyDevice &port, const std::vector<std::string> &lines) {
    for (const auto &line : lines)
        port.expect(line);
    EXPECT_TRUE(port.quiet(300));
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(Search, TheDeviceIsFoundOnAPortAfterASilentComOne) {
    TempDir dir;
    PtyDevice com1, usb;
    Bridge bridge(com1.path(), dir.path(), searching({com1.path(), usb.path()}));
    // COM1 gets the start-up's first two lines; unanswered, nothing more.
    com1.expect(" ");
    com1.expect("U OFF");
    // The next port is asked who it is, then gets the whole start-up.
    usb.expect(" ");
    usb.answer("I", "Novag Sapphire II");
    usb.answer_startup();
    bridge.expect("Pawnbridge");
    EXPECT_TRUE(com1.quiet(100));
    // The GUI's engine option shows where the device was found.
    bridge.send("uci");
    bridge.expect("id name Pawnbridge");
    bridge.expect_line();
    bridge.expect_line();
    bridge.expect("option name Port type string default " + usb.path());
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    std::string log = dir.read("NovagLog.txt");
    EXPECT_TRUE(has(log, " --> U OFF\r\n <-- (port " + com1.path() + ": no answer)\r\n -->  \r\n --> I\r\n"
                         " <-- Novag Sapphire II\r\n(port " + usb.path() +
                         ": the chess computer (Novag Sapphire II))\r\n -->  \r\n --> U OFF\r\n"))
        << log;
}

TEST(Search, WithTheDeviceOnComOneTheStartUpAndItsLogAreAsBefore) {
    std::string logs[2];
    for (int searched = 0; searched < 2; ++searched) {
        TempDir dir;
        PtyDevice com1, other;
        Bridge bridge(com1.path(), dir.path(), searched ? searching({com1.path(), other.path()})
                                                        : std::vector<std::string>{});
        com1.answer_startup();
        bridge.expect("Pawnbridge");
        bridge.send("quit");
        EXPECT_EQ(bridge.wait_exit(), 0);
        EXPECT_TRUE(other.quiet(100));
        logs[searched] = dir.read("NovagLog.txt");
        // The time stamps aside.
        std::size_t from = logs[searched].find('\n'), to = logs[searched].rfind("Session ends");
        logs[searched] = logs[searched].substr(from, to - from);
    }
    EXPECT_EQ(logs[0], logs[1]);
}

TEST(Search, NoDeviceAnywhereNamesThePortsTriedAndTheSessionGoesOn) {
    TempDir dir;
    PtyDevice com1, usb;
    auto started = Clock::now();
    Bridge bridge(com1.path(), dir.path(), searching({com1.path(), dir.file("ttyUSB9"), usb.path()}));
    bridge.expect("Pawnbridge", 5000);
    std::string report = bridge.expect_line();
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(3000));
    EXPECT_TRUE(is_silent_device_report(report)) << report;
    EXPECT_TRUE(has(report, com1.path() + ", " + dir.file("ttyUSB9") + ", " + usb.path())) << report;
    expect_only(com1, {" ", "U OFF"});
    expect_only(usb, {" ", "I"});
    // Without a device the GUI is still answered, and may set the port.
    bridge.send("uci");
    bridge.expect("id name Pawnbridge");
    bridge.expect_line();
    bridge.expect_line();
    bridge.expect("option name Port type string default auto");
    bridge.expect("uciok");
    bridge.send("isready");
    bridge.expect("readyok");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    std::string log = dir.read("NovagLog.txt");
    EXPECT_TRUE(has(log, "(port " + dir.file("ttyUSB9") + ": cannot be opened: No such file or directory)\r\n"))
        << log;
}

TEST(Search, APortNamedOnTheCommandLineComesFirst) {
    TempDir dir;
    PtyDevice in_variable, named;
    Bridge bridge(in_variable.path(), dir.path(), {}, {"--port", named.path()});
    named.answer_startup();
    bridge.expect("Pawnbridge");
    EXPECT_TRUE(in_variable.quiet(200));
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    EXPECT_FALSE(has(dir.read("NovagLog.txt"), "(port "));  // named: no search
}

TEST(Search, AUsbModemClassPortIsNeverOpened) {
    TempDir dir;
    PtyDevice com1, board;
    // An Arduino-style board resets when its port opens.
    ASSERT_EQ(symlink(board.path().c_str(), dir.file("ttyACM0").c_str()), 0);
    Bridge bridge(com1.path(), dir.path(), searching({com1.path(), dir.file("ttyACM0")}));
    bridge.expect("Pawnbridge", 5000);
    EXPECT_TRUE(is_silent_device_report(bridge.expect_line()));
    EXPECT_TRUE(board.quiet(200));
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
}

TEST(PortOption, UciChoosesThePortAndIsToldHowItWent) {
    TempDir dir;
    PtyDevice first, second;
    Bridge bridge(first.path(), dir.path(), {"PAWNBRIDGE_SEARCH_PORTS=" + dir.file("ttyS0")});
    first.answer_startup();
    bridge.expect("Pawnbridge");
    bridge.send("uci");
    for (int i = 0; i < 5; ++i)
        bridge.expect_line();  // id, id, the options, uciok
    first.answer("H", "Display on");
    first.answer("S3", "Detail 3");
    first.answer("U ON", "Force mode on");
    // Another port: the start-up there, then the device is put where the
    // first one was (force mode, its display).
    bridge.send("setoption name Port value " + second.path());
    second.answer_startup();
    second.answer("U ON", "Force mode on");
    second.answer("H", "Display on");
    second.answer("S3", "Detail 3");
    bridge.expect("info string Pawnbridge: the chess computer answers on " + second.path());
    EXPECT_TRUE(first.quiet(100));
    // The same port again: nothing to do.
    bridge.send("setoption name port value " + second.path());
    bridge.expect("info string Pawnbridge: the chess computer answers on " + second.path());
    EXPECT_TRUE(second.quiet(100));
    // A port that is not there: said, and the session goes on without one.
    bridge.send("setoption name Port value " + dir.file("ttyUSB7"));
    bridge.expect("info string Pawnbridge: cannot open " + dir.file("ttyUSB7") + ": No such file or directory");
    bridge.send("isready");
    bridge.expect("readyok");
    // A port another program holds.
    int holder = open(first.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    bridge.send("setoption name Port value " + first.path());
    bridge.expect("info string Pawnbridge: " + first.path() + " is in use by another program");
    close(holder);
    // "auto": the search again (here over a port that is not there).
    bridge.send("setoption name Port value auto");
    EXPECT_TRUE(is_silent_device_report(bridge.expect_line(5000), "info string "));
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
}

TEST(PortOption, XboardProtocolTwoOffersItAndTellsFailures) {
    TempDir dir;
    PtyDevice first, second;
    Bridge bridge(first.path(), dir.path());
    first.answer_startup();
    bridge.expect("Pawnbridge");
    bridge.send("xboard");
    bridge.send("protover 2");
    bridge.expect_line();
    bridge.expect("feature option=\"Port -string " + first.path() + "\"");
    bridge.expect("feature done=1");
    bridge.send("option Port=" + second.path());
    second.answer_startup();
    bridge.send("option Port=" + dir.file("COM9"));
    bridge.expect("tellusererror Pawnbridge: cannot open " + dir.file("COM9") + ": No such file or directory");
    bridge.send("ping 1");
    bridge.expect("pong 1");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    std::string log = dir.read("NovagLog.txt");
    EXPECT_TRUE(has(log, "==> option Port=" + second.path() + "\r\n -->  \r\n --> U OFF\r\n")) << log;
}

TEST(ListPorts, EachPortAndWhatItIs) {
    TempDir dir;
    PtyDevice silent, device, held, board;
    ASSERT_EQ(symlink(board.path().c_str(), dir.file("ttyACM0").c_str()), 0);
    int holder = open(held.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    std::vector<std::string> ports = {silent.path(), dir.file("ttyUSB3"), held.path(), device.path(),
                                      dir.file("ttyACM0")};
    Bridge lister(silent.path(), dir.path(), searching(ports), {"--list-ports"});
    device.expect(" ");
    device.answer("I", "Novag Sapphire II");
    std::string text, line;
    while (lister.read_line(line, 3000))
        text += line + "\n";
    EXPECT_EQ(lister.wait_exit(), 0) << text;
    EXPECT_TRUE(has(text, silent.path())) << text;
    EXPECT_TRUE(has(text, "no answer")) << text;
    EXPECT_TRUE(has(text, "cannot be opened: No such file or directory")) << text;
    EXPECT_TRUE(has(text, "in use by another program")) << text;
    EXPECT_TRUE(has(text, "the chess computer (Novag Sapphire II)")) << text;
    EXPECT_TRUE(has(text, "a USB modem-class port, not tried")) << text;
    EXPECT_TRUE(board.quiet(100));
    close(holder);
    // Without the device: status 1, and nothing written to the log.
    Bridge alone(silent.path(), dir.path(), searching({silent.path()}), {"--list-ports"});
    EXPECT_EQ(alone.wait_exit(), 1);
    EXPECT_EQ(access(dir.file("NovagLog.txt").c_str(), F_OK), -1);
}

}  // namespace
