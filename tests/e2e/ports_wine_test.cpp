// The Windows build finding the chess computer among COM ports, run under
// wine by scripts/test-wine: COM1 and COM2 are mapped to links that the run
// owns, each pointed here at a line of its own, and at most one of the two
// answers as the device. The bridge learns of them from the system's list
// of serial ports (HARDWARE\DEVICEMAP\SERIALCOMM), which wine fills for
// every port it maps and the run leaves holding COM1, COM2 and COM5, a USB
// modem-class port on COM1's line. Without those links (the native run)
// the group is skipped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"

namespace {

const char COM1_LINK[] = "PAWNBRIDGE_WINE_COM1_LINK";
const char COM2_LINK[] = "PAWNBRIDGE_WINE_COM2_LINK";

// No port named: the search, over the ports Windows lists.
const std::vector<std::string> SEARCH = {"PAWNBRIDGE_COM1="};
// The port named, as the other tests under wine start the bridge.
const std::vector<std::string> ON_COM1 = {"PAWNBRIDGE_COM1=COM1"};

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// --list-ports' lines as "PORT: what it is", its padding taken out.
std::string listing(Bridge &lister) {
    std::string text, line;
    while (lister.read_line(line, 5000)) {
        std::size_t gap = line.find(' ');
        std::size_t what = line.find_first_not_of(' ', gap);
        text += gap == std::string::npos || what == std::string::npos
                    ? line + "\n"
                    : line.substr(0, gap) + ": " + line.substr(what) + "\n";
    }
    return text;
}

class WinePorts : public ::testing::Test {
protected:
    TempDir dir;
    PtyDevice com1, com2;

    void SetUp() override {
        if (wine_link(COM1_LINK).empty() || wine_link(COM2_LINK).empty())
            GTEST_SKIP() << "needs COM1 and COM2 mapped under wine (scripts/test-wine)";
        // Each Bridge points COM1 at com1 when it starts; COM2 is pointed
        // here, once for the test.
        ASSERT_TRUE(point_wine_link(COM2_LINK, com2.path()));
    }

    // The UCI handshake up to the device's force mode, with the port the
    // option shows.
    void become_uci(Bridge &bridge, PtyDevice &device, const std::string &port) {
        bridge.send("uci");
        bridge.expect("id name Pawnbridge");
        bridge.expect_line();  // author
        bridge.expect_line();  // Move Overhead
        bridge.expect("option name Port type string default " + port);
        bridge.expect("uciok");
        device.answer("H", "Display on");
        device.answer("S3", "Detail 3");
        device.answer("U ON", "Force mode on");
    }
    // The start-up on a newly chosen port, then the device put where the
    // last one was: force mode, its display.
    static void answer_move_to(PtyDevice &device) {
        device.answer_startup();
        device.answer("U ON", "Force mode on");
        device.answer("H", "Display on");
        device.answer("S3", "Detail 3");
    }
    // COM1 left when "U OFF" goes unanswered; COM2 asked who it is, then
    // started.
    void answer_search_to_com2() {
        com1.expect(" ");
        com1.expect("U OFF");
        com2.expect(" ");
        com2.answer("I", "Novag Sapphire II");
        com2.answer_startup();
    }
    std::string log() const { return dir.read("NovagLog.txt"); }
};

TEST_F(WinePorts, TheSearchTakesComTwoFromTheSystemsListAfterASilentComOne) {
    Bridge bridge(com1.path(), dir.path(), SEARCH);
    answer_search_to_com2();
    bridge.expect("Pawnbridge");
    EXPECT_TRUE(com1.quiet(100));
    become_uci(bridge, com2, "COM2");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    EXPECT_TRUE(has(log(), " --> U OFF\r\n <-- (port COM1: no answer)\r\n -->  \r\n --> I\r\n"
                           " <-- Novag Sapphire II\r\n(port COM2: the chess computer (Novag Sapphire II))\r\n"))
        << log();
}

// COM5 would be tried last; it is never opened, and not named as tried.
TEST_F(WinePorts, WithNoDeviceTheSearchNamesThePortsTriedAndLeavesTheModemAlone) {
    Bridge bridge(com1.path(), dir.path(), SEARCH);
    bridge.expect("Pawnbridge", 5000);
    bridge.expect("tellusererror Pawnbridge: no answer from the chess computer on COM1, COM2: "
                  "is it switched on and connected?");
    com1.expect(" ");
    com1.expect("U OFF");
    com2.expect(" ");
    com2.expect("I");
    bridge.send("uci");
    bridge.expect("id name Pawnbridge");
    bridge.expect_line();
    bridge.expect_line();
    bridge.expect("option name Port type string default auto");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    EXPECT_TRUE(com1.quiet(100));
    EXPECT_TRUE(com2.quiet(100));
}

TEST_F(WinePorts, APortNamedOnTheCommandLineIsOpenedAloneAndBeforeTheVariable) {
    Bridge bridge(com1.path(), dir.path(), ON_COM1, {"--port", "COM2"});
    com2.answer_startup();
    bridge.expect("Pawnbridge");
    EXPECT_TRUE(com1.quiet(200));
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    EXPECT_FALSE(has(log(), "(port ")) << log();  // named: no search
}

// Each change closes the port in use, with its read still pending, and
// opens the next; a port left is free to be taken again.
TEST_F(WinePorts, TheUciPortOptionMovesTheSessionBetweenThePorts) {
    Bridge bridge(com1.path(), dir.path(), ON_COM1);
    com1.answer_startup();
    bridge.expect("Pawnbridge");
    become_uci(bridge, com1, "COM1");

    bridge.send("setoption name Port value COM2");
    answer_move_to(com2);
    bridge.expect("info string Pawnbridge: the chess computer answers on COM2");
    EXPECT_TRUE(com1.quiet(100));

    // A port Windows does not have: said, and the session goes on.
    bridge.send("setoption name Port value COM200");
    std::string refusal = bridge.expect_line();
    EXPECT_EQ(refusal.rfind("info string Pawnbridge: cannot open COM200: ", 0), 0u) << refusal;
    bridge.send("isready");
    bridge.expect("readyok");

    bridge.send("setoption name Port value COM1");
    answer_move_to(com1);
    bridge.expect("info string Pawnbridge: the chess computer answers on COM1");

    // "auto": the search once more, which passes over a COM1 gone silent.
    bridge.send("setoption name Port value auto");
    answer_search_to_com2();
    com2.answer("U ON", "Force mode on");
    com2.answer("H", "Display on");
    com2.answer("S3", "Detail 3");
    bridge.expect("info string Pawnbridge: the chess computer answers on COM2");
    bridge.send("isready");
    bridge.expect("readyok");
    bridge.send("quit");
    EXPECT_EQ(bridge.wait_exit(), 0);
    EXPECT_TRUE(com1.quiet(100));
}

TEST_F(WinePorts, ListPortsSaysWhatEachPortIs) {
    const std::vector<std::string> survey = {"--list-ports"};
    {
        Bridge lister(com1.path(), dir.path(), SEARCH, survey);
        com1.expect(" ");
        com1.expect("I");
        com2.expect(" ");
        com2.answer("I", "Novag Sapphire II");
        std::string text = listing(lister);
        EXPECT_EQ(lister.wait_exit(), 0) << text;
        EXPECT_EQ(text, "COM1: no answer\nCOM2: the chess computer (Novag Sapphire II)\n"
                        "COM5: a USB modem-class port, not tried (name it to use it)\n");
    }
    EXPECT_TRUE(com1.quiet(100));
    EXPECT_TRUE(com2.quiet(100));
    EXPECT_EQ(access(dir.file("NovagLog.txt").c_str(), F_OK), -1);

    // A second bridge keeps off the port the first holds, though wine, unlike
    // Windows, would let it open the line.
    Bridge holder(com1.path(), dir.path(), ON_COM1, {"--port", "COM2"});
    com2.answer_startup();
    holder.expect("Pawnbridge");
    TempDir other;
    Bridge lister(com1.path(), other.path(), SEARCH, survey);
    com1.expect(" ");
    com1.expect("I");
    std::string text = listing(lister);
    EXPECT_EQ(lister.wait_exit(), 1) << text;  // no device to be had
    EXPECT_TRUE(has(text, "\nCOM2: in use by another program\n")) << text;
    EXPECT_TRUE(com2.quiet(200));
    holder.send("quit");
    EXPECT_EQ(holder.wait_exit(), 0);
}

}  // namespace
