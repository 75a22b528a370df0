// The port as a user gives it: on the command line, as UCI's setoption and
// as the xboard protocol's option command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core.h"
#include "uci.h"
#include "xboard.h"

namespace {

Arguments read(std::vector<const char *> words) {
    words.insert(words.begin(), "pawnbridge");
    return read_arguments(static_cast<int>(words.size()), words.data());
}

TEST(Arguments, ThePortAndWhatAPersonAsksFor) {
    EXPECT_STREQ(read({"--port", "COM4"}).port, "COM4");
    EXPECT_STREQ(read({"--port=/dev/ttyUSB0"}).port, "/dev/ttyUSB0");
    EXPECT_STREQ(read({"-xreuse", "--port", "COM3", "help"}).port, "COM3");  // others ignored
    EXPECT_STREQ(read({"--port", "COM3", "--port", "COM5"}).port, "COM5");    // the last one
    // Without a name, or "auto", no port is named: the search.
    EXPECT_EQ(read({"--port"}).port, nullptr);
    EXPECT_EQ(read({"--port", "auto"}).port, nullptr);
    EXPECT_EQ(read({"--port="}).port, nullptr);
    EXPECT_EQ(read({}).port, nullptr);
    Arguments asked = read({"--list-ports", "--version", "--help"});
    EXPECT_TRUE(asked.list_ports && asked.version && asked.help);
    Arguments none = read({"--ports", "-port", "list-ports"});
    EXPECT_FALSE(none.list_ports || none.version || none.help);
    EXPECT_EQ(none.port, nullptr);
}

TEST(Options, UciSetoptionNamesAndValues) {
    char name[64];
    const char *value = nullptr;
    ASSERT_TRUE(read_setoption("setoption name Port value COM4", name, sizeof name, &value));
    EXPECT_STREQ(name, "Port");
    EXPECT_STREQ(value, "COM4");
    // A name of two words, and a value with blanks (a Windows path).
    ASSERT_TRUE(read_setoption("setoption name Move Overhead value 300", name, sizeof name, &value));
    EXPECT_STREQ(name, "Move Overhead");
    EXPECT_STREQ(value, "300");
    ASSERT_TRUE(read_setoption("setoption  name  Port  value  \\\\.\\COM 12", name, sizeof name, &value));
    EXPECT_STREQ(name, "Port");
    EXPECT_STREQ(value, "\\\\.\\COM 12");
    // A button has no value; an empty value is empty.
    ASSERT_TRUE(read_setoption("setoption name Clear Hash", name, sizeof name, &value));
    EXPECT_STREQ(name, "Clear Hash");
    EXPECT_EQ(value, nullptr);
    ASSERT_TRUE(read_setoption("setoption name Port value", name, sizeof name, &value));
    EXPECT_STREQ(value, "");
    EXPECT_FALSE(read_setoption("setoption Port value COM4", name, sizeof name, &value));
    EXPECT_FALSE(read_setoption("setoption name", name, sizeof name, &value));
    std::string long_name = "setoption name " + std::string(100, 'x') + " value 1";
    EXPECT_FALSE(read_setoption(long_name.c_str(), name, sizeof name, &value));
}

TEST(Options, XboardOptionNamesAndValues) {
    char name[32];
    const char *value = nullptr;
    ASSERT_TRUE(read_option("option Port=COM4", name, sizeof name, &value));
    EXPECT_STREQ(name, "Port");
    EXPECT_STREQ(value, "COM4");
    ASSERT_TRUE(read_option("option Port=", name, sizeof name, &value));
    EXPECT_STREQ(value, "");
    ASSERT_TRUE(read_option("option Port=/dev/serial/by-id/usb-FTDI=x-port0", name, sizeof name, &value));
    EXPECT_STREQ(value, "/dev/serial/by-id/usb-FTDI=x-port0");
    EXPECT_FALSE(read_option("option Port", name, sizeof name, &value));
    EXPECT_FALSE(read_option("option =COM4", name, sizeof name, &value));
    std::string long_name = "option " + std::string(40, 'x') + "=1";
    EXPECT_FALSE(read_option(long_name.c_str(), name, sizeof name, &value));
}

}  // namespace
