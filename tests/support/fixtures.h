// Shared starting points for the tests: the link opened in-process, and a
// started bridge with its start-up sequence answered.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

// The line that tells the user the device answers nothing, whatever the
// port is called (a pty here, COM1 under wine); prefix "tellusererror ".
inline bool is_silent_device_report(const std::string &line, const std::string &prefix = "tellusererror ") {
    const std::string head = prefix + "Pawnbridge: no answer from the chess computer on ";
    const std::string tail = ": is it switched on and connected?";
    return line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

// The link opened on a fresh pty, in a temporary working directory.
class LinkedTest : public ::testing::Test {
protected:
    TempDir dir;
    PtyDevice device;
    char previous_dir[4096] = {};

    void SetUp() override {
        ASSERT_NE(getcwd(previous_dir, sizeof previous_dir), nullptr);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        setenv("PAWNBRIDGE_COM1", device.path().c_str(), 1);
        reset_session();
        begin_xboard_session();
        open_link(plat_port_from_environment());
    }
    void TearDown() override {
        close_link();
        ASSERT_EQ(chdir(previous_dir), 0);
    }
    // The log as written so far, without its "New session" line.
    std::string log() const {
        std::string all = dir.read("NovagLog.txt");
        return all.substr(all.find('\n') + 1);
    }
};

// A started bridge with the start-up sequence answered and the name line read.
struct StartedBridge {
    TempDir dir;
    PtyDevice device;
    Bridge bridge{device.path(), dir.path()};

    StartedBridge() {
        device.answer_startup();
        bridge.expect("Pawnbridge");
    }
    std::string log() const { return dir.read("NovagLog.txt"); }
    int quit() {
        bridge.send("quit");
        return bridge.wait_exit();
    }
    // The interface's move, taken by the device.
    void move(const std::string &coordinates, const std::string &command) {
        bridge.send(coordinates);
        device.answer(command, "OK");
    }
    // A command whose empty answer line shows that everything before it has
    // been handled and printed.
    void sync() {
        bridge.send("bogus");
        bridge.expect("");
    }
};

// A started bridge that has become a UCI engine.
struct UciSession : StartedBridge {
    UciSession() {
        bridge.send("uci");
        bridge.expect("id name Pawnbridge");
        EXPECT_EQ(bridge.expect_line().rfind("id author ", 0), 0u);
        bridge.expect("option name Move Overhead type spin default 100 min 0 max 5000");
        bridge.expect("option name Port type string default " + bridge_port_name(device.path()));
        bridge.expect("uciok");
        // The device shows its thinking and waits in force mode.
        device.answer("H", "Display on");
        device.answer("S3", "Detail 3");
        device.answer("U ON", "Force mode on");
    }
    void ready() {
        bridge.send("isready");
        bridge.expect("readyok");
    }
    void new_game() {
        bridge.send("ucinewgame");
        device.answer_new_game();
        bridge.expect("info string New Game");
    }
    // "go" with the level it leads to ("" for none): the device leaves force
    // mode and is told to move.
    void go(const std::string &line, const std::string &level) {
        bridge.send(line);
        if (!level.empty()) {
            device.answer(level, "OK");
            device.send_line("OK");
        }
        device.answer("U OFF", "Force mode off");
        device.expect("J");
        if (!level.empty())
            bridge.expect("info string " + level);
    }
    // The device's move reply, bestmove, and force mode again.
    void device_moves(const std::string &reply, const std::string &best) {
        device.send_line(reply);
        std::string line = bridge.expect_line();
        if (line == "info string Out of book.")  // the first move after the book
            line = bridge.expect_line();
        EXPECT_EQ(line, "bestmove " + best);
        device.answer("U ON", "Force mode on");
    }
    bool log_has(const std::string &text) const { return log().find(text) != std::string::npos; }
};
