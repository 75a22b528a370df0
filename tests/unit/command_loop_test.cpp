// The command loop's handling of clocks, levels and ratings, one interface
// line at a time against a pty device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fixtures.h"

namespace {

class Loop : public LinkedTest {
protected:
    void SetUp() override {
        LinkedTest::SetUp();
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        LinkedTest::TearDown();
    }
    // One interface line; answer_level: the device answers a level command.
    void line(const char *text, bool answer_level = false) {
        if (answer_level)
            device.send("OK\r\nOK\r\n");
        std::snprintf(command_line, sizeof command_line, "%s", text);
        dispatch_command();
    }
    // The level command sent for the line, or "" when none was.
    std::string level_after(const char *text) {
        line(text, true);
        std::string sent;
        if (!device.read_line(sent, 200)) {
            // Nothing was sent: take the prepared answers back off the line.
            int kept = set_read_timeout(50);
            read_device(reply_line);
            read_device(reply_line);
            set_read_timeout(kept);
            return "";
        }
        return sent;
    }
};

TEST_F(Loop, LevelReadsItsNumbersWithDefaults) {
    EXPECT_EQ(level_after("level 40 5 0"), "L TR1");
    EXPECT_EQ(game.moves_per_control, 40);
    EXPECT_EQ(game.own_time, 300);
    EXPECT_EQ(game.increment, 0);
    EXPECT_EQ(level_after("level"), "L AT4");  // 0 moves, 2 minutes, game.increment 12
    EXPECT_EQ(game.own_time, 120);
    EXPECT_EQ(game.increment, 12);
    EXPECT_EQ(level_after("level 0"), "");  // the same level: nothing is sent
}

TEST_F(Loop, LevelReadsMinutesAndSecondsAndFractions) {
    // As python-chess and lichess-bot write them: the base always as m:ss.
    const struct {
        const char *text;
        int seconds, increment;
        const char *level;
    } rows[] = {
        {"level 0 2:30 5", 150, 5, "L AT3"},  {"level 0 1:00 1", 60, 1, "L AT1"},
        {"level 0 0:57 1.0", 57, 1, "L AT1"}, {"level 0 5:00 0", 300, 0, "L SD2"},
        {"level 0 2.5 0", 150, 0, "L AT2"},   {"level 0 10 2.9", 600, 2, "L AT5"},
        {"level 0 3 nan", 180, 0, "L SD1"},   {"level 0 1:xx 4", 60, 12, "L AT4"},
        {"level 0 1e30 0", 1073741823, 0, "L AT8"},
    };
    for (const auto &row : rows) {
        reset_level();  // every row sends its level
        EXPECT_EQ(level_after(row.text), row.level) << row.text;
        EXPECT_EQ(game.own_time, row.seconds) << row.text;
        EXPECT_EQ(game.increment, row.increment) << row.text;
    }
}

TEST_F(Loop, MoveCountControlsSpreadTheClockOverTheMovesLeft) {
    // 40 moves in 60 seconds, as cutechess-cli gives it: 1.5 s a move.
    EXPECT_EQ(level_after("level 40 1 0"), "L AT1");
    // The device plays White and has made 36 moves: 4 to go on 10 seconds.
    game_side_on_move(1);
    game_set_up(1, 71, 0);
    EXPECT_EQ(level_after("time 1000"), "");
    EXPECT_EQ(level_after("time 399"), "L FD3");
    // After move 40 a new control starts: 40 moves to go again.
    game_set_up(0, 80, 0);
    EXPECT_EQ(level_after("time 30000"), "L TR1");
    // As Black after 10 of its moves: 30 to go on 3:45 is 7.5 s a move.
    game_side_on_move(0);
    game_set_up(1, 21, 0);
    EXPECT_EQ(level_after("time 22500"), "");
    EXPECT_EQ(level_after("time 22499"), "L AT2");
}

TEST_F(Loop, MoveTimeAndDepthFixTheLevelUntilTheNextControl) {
    // The level whose pace fits inside the time a move, less its reserve.
    EXPECT_EQ(level_after("st 10.0"), "L AT2");
    EXPECT_EQ(level_after("st 150"), "L AT7");
    EXPECT_EQ(level_after("time 500"), "");  // the clock does not change it
    EXPECT_EQ(level_after("st 0.5"), "L FD3");
    EXPECT_EQ(level_after("sd 8"), "L FD8");
    EXPECT_EQ(level_after("sd 20"), "");
    EXPECT_EQ(level_after("sd 0"), "L FD1");
    EXPECT_EQ(level_after("st"), "");  // no number: nothing changes
    EXPECT_EQ(level_after("time 600"), "");
    EXPECT_EQ(level_after("level 0 5 0"), "L SD2");
    EXPECT_EQ(level_after("time 1000"), "L FD3");  // the clock counts again
}

TEST_F(Loop, TimeSetsTheClockAndTheReadTimeOut) {
    struct Row {
        const char *text;
        int timeout, seconds;
    } rows[] = {{"time 5000", 50000, 50}, {"time 99", 1000, 0}, {"time 50", 1000, 0},
                {"time 100", 1000, 1},    {"time -300", 1000, -3}};
    for (const Row &row : rows) {
        level_after(row.text);
        EXPECT_EQ(set_read_timeout(0), row.timeout) << row.text;
        EXPECT_EQ(game.own_time, row.seconds) << row.text;
    }
    line("time");  // no number: nothing changes
    EXPECT_EQ(game.own_time, -3);
    line("timeout 7000");
    EXPECT_EQ(game.own_time, -3);
}

TEST_F(Loop, SuddenDeathLevelIsKeptUntilFifteenSeconds) {
    EXPECT_EQ(level_after("level 0 5 0"), "L SD2");
    EXPECT_EQ(level_after("time 1500"), "");
    EXPECT_EQ(level_after("time 1499"), "L FD3");
}

TEST_F(Loop, HurryNeedsAWinningScoreAndAWeakerOpponent) {
    level_after("level 0 10 12");  // estimate 37: L AT5
    line("rating 2000 1700");
    last_score = 5.5f;
    EXPECT_EQ(level_after("time 60000"), "L AT1");
    last_score = 5.0f;
    EXPECT_EQ(level_after("time 60000"), "L AT5");
    last_score = 5.5f;
    line("rating 2000 1800");
    EXPECT_EQ(level_after("time 60000"), "");
    line("rating 2100");
    EXPECT_EQ(game.own_rating, 2100);
    EXPECT_EQ(game.opp_rating, 1800);
}

TEST_F(Loop, OpponentClockFromOtimAndOtime) {
    line("otim 4599");
    EXPECT_EQ(game.opp_time, 45);
    line("otime 6000");
    EXPECT_EQ(game.opp_time, 60);
    line("otim x");
    EXPECT_EQ(game.opp_time, 60);
}

TEST_F(Loop, AbsurdNumbersAreClampedNotOverflowed) {
    level_after("time 99999999999999999999");
    EXPECT_GT(set_read_timeout(0), 1000);
    EXPECT_GT(game.own_time, 0);
    level_after("time -99999999999999999999");
    EXPECT_EQ(set_read_timeout(0), 1000);
    level_after("level 99999999999 99999999999 99999999999");
    EXPECT_GT(game.own_time, 0);
    line("otim -99999999999999999999");
    EXPECT_LT(game.opp_time, 0);
    line("rating 99999999999 -99999999999");
    last_score = 9.0f;
    level_after("time 6000");  // the hurry test subtracts from a clamped rating
}

TEST_F(Loop, SetBoardMovesTheGameStateToThePosition) {
    relay_position(1);
    device.send("Force mode on\r\n");
    game_force_on();
    device.send("Position set\r\n");
    line("setboard 4k3/8/8/8/8/8/4P3/4K3 b - - 3 17");
    EXPECT_EQ(game.side_flag, 1);
    EXPECT_EQ(game.move_number, 17);
    EXPECT_EQ(in_book, 0);
    EXPECT_EQ(game.force_mode, 1);  // as the GUI left it
    // Without the move fields the game starts counting at 1.
    device.send("Position set\r\n");
    line("setboard 4k3/8/8/8/8/8/4P3/4K3 W");
    EXPECT_EQ(game.side_flag, 0);
    EXPECT_EQ(game.move_number, 1);
    // A refused position leaves everything as it was.
    game_set_up(1, 17, 9);
    line("setboard 4k3/8/8/8/8/8/4P3/4K3/p b - - 0 30");
    EXPECT_EQ(game.move_number, 9);
    EXPECT_EQ(game.side_flag, 1);
}

}  // namespace
