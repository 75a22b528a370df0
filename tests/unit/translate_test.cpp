// Moves, analysis relay, level choice and end of game, called in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "fixtures.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "uci.h"
#include "xboard.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

using Linked = LinkedTest;

// ------------------------------------------------------------------ moves

using SendMove = Linked;

TEST_F(SendMove, MovesBecomeMoveCommands) {
    const struct {
        const char *move, *command;
    } rows[] = {
        {"e2e4", "Me2e4"},     {"e7e8q", "Me7e8/Q"}, {"e7e8Q", "Me7e8/Q"},
        {"e2e4x", "Me2e4/X"},  {"e7e8q+", "Me7e8/Q"}, {"a7a8n extra", "Ma7a8/N"},
    };
    for (const auto &row : rows) {
        device.send_line("OK");
        EXPECT_EQ(send_move(row.move), 1) << row.move;
        device.expect(row.command);
    }
}

TEST_F(SendMove, MoveAnswersDecideAcceptance) {
    const struct {
        const char *answer;
        int accepted;
        const char *output;
    } rows[] = {
        {"OK\r\n", 1, ""},
        {"\r\n", 1, ""},  // only a completely empty answer is no answer
        {"New Gam\r\n", 1, ""},
        {"New Game\r\n", 0, "flag\nadjourn\n"},
        {"New Games\r\n", 0, "flag\nadjourn\n"},
    };
    for (const auto &row : rows) {
        device.send(row.answer);
        CaptureStdout();
        EXPECT_EQ(send_move("e2e4"), row.accepted) << row.answer;
        EXPECT_EQ(GetCapturedStdout(), row.output) << row.answer;
        device.expect("Me2e4");
        EXPECT_EQ(set_read_timeout(0), 500) << "the move's own time-out is set back";
    }
}

TEST_F(SendMove, UnansweredMoveIsRefusedAfterASecond) {
    EXPECT_EQ(send_move("e2e4"), 0);
    EXPECT_EQ(set_read_timeout(0), 500);
}

TEST_F(SendMove, ReportAnsweredToAMoveIsLeftPending) {
    device.send("M#5\r\n");
    EXPECT_EQ(send_move("e2e4"), 0);
    EXPECT_EQ(end_code, 5);
    end_code = 0;
}

TEST(ParseDeviceMove, RecognisesTheThreeLayouts) {
    const struct {
        const char *line;
        int result;
        const char *after;  // the line afterwards
        int book_before, book_after;
    } rows[] = {
        {"M 12, e2-e4 |", 1, "e2e4", 0, 1},
        {"M 12 e2-e4", 1, "e2e4", 1, 0},
        {"M 12 e2-e4 |", 1, "e2e4", 0, 1},
        {"M 12, e2xe4 .", 1, "e2e4", 1, 0},
        {"m 12 g7-g8/Q", 1, "g7g8q", 1, 1},
        {"m 12 g7-g8/q |", 1, "g7g8q", 0, 0},
        {"M 12, b2-b1/n", 1, "b2b1n", 1, 0},
        {"M 12, a7-a8/R |", 1, "a7a8r", 0, 1},
        {"M 12, e2-e4+check", 1, "e2e4", 1, 0},
        {"M 12, e2-e4xxxxxxxxxx", 1, "e2e4", 1, 0},  // 15 characters: fits
        // Refused: nothing changed except as noted.
        {"M 30, a7-a8/K", 0, "M 30, a7-a8/K", 1, 0},  // the book flag is written first
        {"M 30, a7-a8/", 0, "M 30, a7-a8/", 1, 0},
        {"M 12, i2-e4", 0, "M 12, i2-e4", 1, 1},
        {"M 12, e0-e4", 0, "M 12, e0-e4", 1, 1},
        {"M 12, e2-e9", 0, "M 12, e2-e9", 1, 1},
        {"M 12, e2-e", 0, "M 12, e2-e", 1, 1},
        {"M 12, e2", 0, "M 12, e2", 1, 1},
        {"M 12, e2-e4xxxxxxxxxxx", 0, "M 12, e2-e4xxxxxxxxxxx", 1, 1},  // 16: too long
        {"m 12 e2-e4xxxxxxxxxxxxxxxxxxxxxxxxxx", 0, "m 12 e2-e4xxxxxxxxxxxxxxxxxxxxxxxxxx", 1, 1},
        {"M e2-e4", 0, "M e2-e4", 1, 1},
        {"x 12 e2-e4", 0, "x 12 e2-e4", 1, 1},
        {".= d 5 0.25 0:00:07 1/ 2 900/s e2-e4", 0, ".= d 5 0.25 0:00:07 1/ 2 900/s e2-e4", 1, 1},
        {"", 0, "", 1, 1},
    };
    for (const auto &row : rows) {
        char line[64];
        std::snprintf(line, sizeof line, "%s", row.line);
        int number = -1, book = row.book_before;
        EXPECT_EQ(parse_device_move(&number, line, &book), row.result) << row.line;
        EXPECT_STREQ(line, row.after) << row.line;
        EXPECT_EQ(number, row.result ? 12 : -1) << row.line;
        EXPECT_EQ(book, row.book_after) << row.line;
    }
}

// ---------------------------------------------------------- analysis relay

struct Relayed {
    int result;
    std::string output;
};

Relayed relay(const std::string &line) {
    CaptureStdout();
    int result = relay_analysis(line.c_str());
    return {result, GetCapturedStdout()};
}

class Relay : public ::testing::Test {
protected:
    void SetUp() override {
        last_score = 0.0f;
        in_book = 0;
    }
};

std::string analysis(const std::string &status, const std::string &score,
                     const std::string &time = "0:00:07", const std::string &pv = "e2-e4 e7-e5") {
    return status + " d 5 " + score + " " + time + " 12/ 34 900/s " + pv;
}

TEST_F(Relay, ScoresBecomeTruncatedCentipawns) {
    const struct {
        const char *field;
        int centipawns;
    } rows[] = {
        {"0.25", 25},     {"0.29", 28},     {"1.15", 114},      {"-1.15", -114},
        {"n 1", 9997},    {"n 2", 9997},    {"n 3", 9995},      {"-n 3", -9995},
        {"Mate", 9998},   {"-Mate", -9998}, {"Draw", 0},        {"n 0", 0},
        {"-n -2", 0},     {"1e30", INT_MAX}, {"-1e30", INT_MIN}, {"nan", 0},
    };
    for (const auto &row : rows) {
        Relayed r = relay(analysis(".", row.field));
        char expected[128];
        std::snprintf(expected, sizeof expected, " 5& %5d   7   6300  e2-e4 e7-e5\n", row.centipawns);
        EXPECT_EQ(r.result, 1) << row.field;
        EXPECT_EQ(r.output, expected) << row.field;
    }
}

TEST_F(Relay, TheSecondProtocolAndUciTakeTheScoreExactlyAsWritten) {
    // The first protocol's truncated float above; the same line in the
    // protocol-2 form and in UCI.
    const struct {
        const char *field;
        long long centipawns;
    } rows[] = {
        {"0.13", 13},  {"0.29", 29},  {"1.15", 115},  {"-1.15", -115}, {"-0.01", -1},
        {"0.125", 13}, {"12.34", 1234}, {"Mate", 9999}, {"-Mate", -9999}, {"Draw", 0}, {"nan", 0},
    };
    for (const auto &row : rows) {
        use_xboard_front_end(2);
        Relayed r = relay(analysis(".", row.field));
        EXPECT_EQ(r.output, "5 " + std::to_string(row.centipawns) + " 700 6300 e2-e4 e7-e5\n") << row.field;
        use_uci_front_end();
        r = relay(analysis(".", row.field));
        EXPECT_EQ(r.output.rfind("info depth 5 score cp " + std::to_string(row.centipawns) + " ", 0), 0u)
            << row.field << ": " << r.output;
    }
    use_xboard_front_end(1);
}

TEST_F(Relay, StatusTokenGivesTheMarker) {
    const struct {
        const char *status;
        char marker;
    } rows[] = {
        {".", '&'}, {".+", '.'}, {".=", '.'}, {".<", '-'}, {".>", '+'},
        {".x", ' '}, {".=+", '.'}, {"5", ' '}, {"x=", ' '}, {"+.", ' '},
    };
    for (const auto &row : rows) {
        last_score = 0.0f;
        Relayed r = relay(analysis(row.status, "0.25"));
        EXPECT_EQ(r.result, 1) << row.status;
        EXPECT_EQ(r.output, std::string(" 5") + row.marker + "    25   7   6300  e2-e4 e7-e5\n")
            << row.status;
    }
}

TEST_F(Relay, SettledScoresAreWhisperedWhenTheyMoveThreeQuartersOfAPawn) {
    const struct {
        const char *status, *score;
        const char *whisper;
        float last_after;
    } steps[] = {
        {".=", "0.25", "", 0.25f},
        {".=", "1.00", "tellics whisper Score: 1.00 (+0.75)\n", 1.00f},
        {".=", "0.25", "tellics whisper Score: 0.25 (-0.75)\n", 0.25f},
        {".=", "0.75", "", 0.75f},  // half a pawn: kept, not whispered
        {".+", "9.00", "", 0.75f},  // unsettled lines never count
        {".<", "-9.00", "", 0.75f},
        {"x=", "-0.50", "tellics whisper Score: -0.50 (-1.25)\n", -0.50f},
        {".=", "n 3", "tellics whisper Mate in 3\n", 99.96f},
        {".=", "-n 3", "tellics whisper Mate in 3\n", -99.96f},
        {".=", "Mate", "tellics whisper Score: 99.99 (+199.95)\n", 99.99f},
    };
    for (const auto &step : steps) {
        in_book = 1;
        Relayed r = relay(analysis(step.status, step.score));
        EXPECT_EQ(r.result, 1) << step.score;
        ASSERT_GE(r.output.size(), std::strlen(step.whisper));
        EXPECT_EQ(r.output.substr(0, std::strlen(step.whisper)), step.whisper) << step.score;
        EXPECT_EQ(r.output.find("tellics", std::strlen(step.whisper)), std::string::npos)
            << step.score;
        EXPECT_FLOAT_EQ(last_score, step.last_after) << step.score;
        EXPECT_EQ(in_book, step.status[1] == '=' ? 0 : 1) << step.score;
    }
}

TEST_F(Relay, TimeAndSpeedGiveSecondsAndNodes) {
    const struct {
        const char *time, *speed;
        const char *fields;
    } rows[] = {
        {"1:02:03", "900", "3723 3350700"},
        {"0:00:00", "90000", "  0      0"},
        // An hour at a million nodes a second does not fit an int.
        {"1:00:00", "1000000", "3600 3600000000"},
        {"2147483647:00:00", "2147483647", "7730941129200 9223372036854775807"},
    };
    for (const auto &row : rows) {
        std::string line = std::string(".") + " d 5 0.25 " + row.time + " 1/ 2 " + row.speed + "/s a";
        Relayed r = relay(line);
        EXPECT_EQ(r.output, std::string(" 5&    25 ") + row.fields + "  a\n") << row.time;
    }
}

TEST_F(Relay, ThinkingLineIsCutToItsArea) {
    Relayed empty = relay(". d 12 0.25 0:00:07 1/ 2 900/s");
    EXPECT_EQ(empty.output, "12&    25   7   6300  \n");

    std::string pv(300, 'x');
    Relayed r = relay(analysis(".", "0.25", "0:00:07", pv));
    EXPECT_EQ(r.result, 1);
    std::string head = " 5&    25   7   6300  ";
    EXPECT_EQ(r.output, head + pv.substr(0, 127 - head.size()) + "\n");
}

TEST_F(Relay, BookNoticesAndOtherLines) {
    Relayed book = relay(analysis(".=", "3.00", "0:00:07", "Book move"));
    EXPECT_EQ(book.result, 1);
    EXPECT_EQ(book.output, "1 0 100 0 (Book)\n");
    EXPECT_EQ(in_book, 1);
    EXPECT_EQ(last_score, 0.0f);

    in_book = 1;
    last_score = 0.5f;
    const char *others[] = {
        "",
        "M 12, e2-e4 |",
        "book",
        ".=+x d 5 9.00 0:00:07 1/ 2 900/s e2-e4",  // status token longer than its area
        ".= d 5 9.00 0:07 1/ 2 900/s e2-e4",
        ".= 5 9.00 0:00:07 1/ 2 900/s e2-e4",
    };
    for (const char *line : others) {
        Relayed r = relay(line);
        EXPECT_EQ(r.result, 0) << line;
        EXPECT_EQ(r.output, "") << line;
    }
    EXPECT_EQ(in_book, 1);
    EXPECT_EQ(last_score, 0.5f);

}

// A score word of any length is read as a word: cut to its area, score 0
// unless it is "Mate" or "-Mate", and the line is relayed all the same.
TEST_F(Relay, ScoreWordsOfAnyLengthAreRelayed) {
    const struct {
        std::string word;
        const char *centipawns;
    } rows[] = {
        {"Matexxxxxxxxxxx", "    0"},                // 15 characters fit
        {"Matexxxxxxxxxxxx", "    0"},               // 16 do not, but still count
        {"-Mate" + std::string(200, 'x'), "    0"},  // not "-Mate" once cut
        {std::string(15, 'x') + "Mate", "    0"},
        {"Mate", " 9998"},
        {"-Mate", "-9998"},
    };
    for (const auto &row : rows) {
        last_score = 0.5f;
        in_book = 1;
        Relayed r = relay(".= d 5 " + row.word + " 0:00:07 1/ 2 900/s e2-e4");
        EXPECT_EQ(r.result, 1) << row.word;
        std::string thinking = std::string(" 5. ") + row.centipawns + "   7   6300  e2-e4\n";
        ASSERT_GE(r.output.size(), thinking.size()) << row.word;
        EXPECT_EQ(r.output.substr(r.output.size() - thinking.size()), thinking) << row.word;
        EXPECT_EQ(in_book, 0) << row.word;
    }
    EXPECT_FLOAT_EQ(last_score, -99.99f);
}

TEST_F(Relay, SpeedWithoutItsUnitLeavesNoPrincipalVariation) {
    // Nine fields are there, but the line stops short of "/s": a line cut
    // off by a time-out looks like this.
    for (const char *line : {".= d 5 0.25 0:00:07 1/ 2 900", ".= d 5 0.25 0:00:07 1/ 2 900 e2-e4"}) {
        Relayed r = relay(line);
        EXPECT_EQ(r.result, 1) << line;
        EXPECT_EQ(r.output, " 5.    25   7   6300  \n") << line;
    }
}

// ------------------------------------------------------------ level choice

class Levels : public Linked {
protected:
    // Calls choose_level and returns the level command that reached the
    // device, or "" when none did.
    std::string choose(int moves, int seconds, int increment_seconds, int hurry,
                       bool expect_command, long long allowed_ms = -1) {
        if (expect_command)
            device.send("OK\r\nOK\r\n");
        CaptureStdout();
        if (allowed_ms < 0)
            choose_level(moves, seconds, increment_seconds, hurry);
        else
            choose_level_within(moves, seconds, increment_seconds, hurry, allowed_ms);
        std::string whisper = GetCapturedStdout();
        std::string command;
        if (expect_command) {
            command = device.expect_line();
            EXPECT_EQ(whisper, "tellics whisper " + command + "\n");
        } else {
            EXPECT_TRUE(device.quiet(30));
            EXPECT_EQ(whisper, "");
        }
        return command;
    }
};

TEST_F(Levels, ChoicesFromTheTimeControlAndTheClock) {
    const struct {
        int moves, seconds, increment, hurry;
        const char *command;
    } rows[] = {
        // Worked choices.
        {40, 300, 0, 0, "L TR1"},  {0, 300, 0, 0, "L SD2"},  {0, 180, 0, 0, "L SD1"},
        {0, 3600, 0, 0, "L SD6"},  {0, 300, 2, 0, "L AT4"},  {0, 120, 12, 0, "L AT4"},
        {0, 60, 0, 0, "L AT1"},    {0, 5400, 30, 0, "L AT8"}, {0, 600, 12, 1, "L AT1"},
        {0, 10, 0, 0, "L FD3"},    {0, 0, 0, 0, "L FD3"},
        // Band edges.
        {0, 199, 0, 0, "L SD1"},   {0, 200, 0, 0, "L AT3"},  {0, 319, 0, 0, "L SD2"},
        {0, 320, 0, 0, "L AT4"},   {0, 179, 0, 0, "L AT2"},  {0, 600, 0, 0, "L SD3"},
        {0, 619, 0, 0, "L SD3"},   {0, 900, 0, 0, "L SD4"},  {0, 1819, 0, 0, "L SD5"},
        {0, 1820, 0, 0, "L AT6"},  {0, 3619, 0, 0, "L SD6"},
        // Estimate edges: increment 1 and 24 × (estimate - 1) seconds.
        {0, 48, 1, 0, "L AT1"},    {0, 72, 1, 0, "L AT2"},   {0, 144, 1, 0, "L AT2"},
        {0, 168, 1, 0, "L AT3"},   {0, 264, 1, 0, "L AT3"},  {0, 288, 1, 0, "L AT4"},
        {0, 456, 1, 0, "L AT4"},   {0, 480, 1, 0, "L AT5"},  {0, 1032, 1, 0, "L AT5"},
        {0, 1056, 1, 0, "L AT6"},  {0, 2112, 1, 0, "L AT6"}, {0, 2136, 1, 0, "L AT7"},
        {0, 3552, 1, 0, "L AT7"},  {0, 3576, 1, 0, "L AT8"},
        // Hurry only changes the average-time number.
        {0, 300, 0, 1, "L SD2"},   {0, 10, 0, 1, "L FD3"},   {0, 5400, 30, 1, "L AT1"},
        {40, 200, 0, 1, "L AT1"},  {40, 300, 0, 1, "L TR1"},
        // Moves still to play: the tournament level from 7.5 s a move up,
        // below it the time a move picks the level.
        {40, 299, 0, 0, "L AT2"},  {40, 60, 0, 0, "L AT1"},  {40, 39, 0, 0, "L FD3"},
        {10, 65, 1, 0, "L TR1"},   {10, 64, 1, 0, "L AT2"},  {1, 8, 0, 0, "L TR1"},
        {40, 0, 0, 1, "L FD3"},    {1, -50, -3, 0, "L FD3"}, {1, 0, 8, 0, "L TR1"},
        {INT_MAX, INT_MAX, INT_MAX, 0, "L TR1"}, {INT_MAX, INT_MIN, INT_MIN, 0, "L FD3"},
        // Low clocks.
        {0, 3, 5, 0, "L FD3"},     {0, 23, 0, 0, "L FD3"},   {0, -5, 0, 0, "L FD3"},
        {0, 4, 0, 0, "L FD3"},     {0, 4, 5, 0, "L AT1"},    {0, 24, 0, 0, "L AT1"},
        // Absurd values.
        {0, INT_MAX, INT_MAX, 0, "L AT8"}, {0, INT_MIN, 0, 0, "L FD3"},
        {0, INT_MIN, INT_MIN, 0, "L FD3"}, {0, INT_MAX, INT_MIN, 0, "L FD3"},
    };
    for (const auto &row : rows) {
        reset_level();  // nothing sent yet: every choice is sent
        EXPECT_EQ(choose(row.moves, row.seconds, row.increment, row.hurry, true), row.command)
            << row.moves << " " << row.seconds << " " << row.increment << " " << row.hurry;
    }
}

TEST_F(Levels, ALevelIsSentOnlyWhenItChanges) {
    reset_level();
    EXPECT_EQ(choose(0, 60, 0, 0, true), "L AT1");  // the first call always sends
    EXPECT_EQ(choose(0, 60, 0, 0, false), "");
    EXPECT_EQ(choose(0, 70, 0, 0, false), "");  // same band of the estimate
    EXPECT_EQ(choose(0, 300, 0, 0, true), "L SD2");
    EXPECT_EQ(level_kind, 2);
    EXPECT_EQ(level_number, 2);
    EXPECT_EQ(choose(40, 300, 0, 0, true), "L TR1");
    EXPECT_EQ(choose(40, 400, 0, 0, false), "");
}

TEST_F(Levels, ALevelWhosePaceDoesNotFitTheMovesLimitGivesWay) {
    const struct {
        int moves, seconds, increment;
        long long allowed_ms;
        const char *command;
    } rows[] = {
        // 40 moves in 60 s: AT1's two seconds fit a limit of three.
        {40, 60, 0, 2966, "L AT1"}, {40, 60, 0, 1999, "L FD3"},
        // The tournament level's 7.5 s, and an average-time level's own
        // pace, give way to the slowest average-time level that fits.
        {40, 300, 0, 14947, "L TR1"}, {40, 300, 0, 7499, "L AT2"}, {0, 120, 12, 14999, "L AT3"},
        {0, 120, 12, 15000, "L AT4"}, {0, 3600, 0, 120000, "L SD6"}, {0, 3600, 0, 119999, "L AT6"},
        // The fastest play fits any limit, 0 included.
        {0, 10, 0, 0, "L FD3"}, {0, 60, 0, 0, "L FD3"},
    };
    for (const auto &row : rows) {
        reset_level();
        EXPECT_EQ(choose(row.moves, row.seconds, row.increment, 0, true, row.allowed_ms), row.command)
            << row.moves << " " << row.seconds << " " << row.increment << " " << row.allowed_ms;
    }
}

// ------------------------------------------------------------- move limit

TEST(MoveLimit, FromTheClockTheTimeAMoveAndTheReserve) {
    const struct {
        long long clock, increment;
        int moves_to_go;
        long long move_time, overhead, limit;
    } rows[] = {
        // Nothing said of the time: no limit.
        {-1, 0, 0, -1, 100, -1},
        // A time a move less the link's 50 ms and the GUI's 100, never
        // below nothing; with a clock too, the smaller.
        {-1, 0, 0, 1000, 100, 850}, {-1, 0, 0, 500, 100, 350}, {-1, 0, 0, 100, 100, 0},
        {3000, 0, 1, 5000, 100, 2850},
        // A clock below its reserve: move at once.
        {100, 0, 0, -1, 100, 0}, {0, 0, 40, -1, 100, 0},
        // 40 moves in 60 s: two fair shares; a hundredth of a long clock is
        // kept for the GUI (600 ms here).
        {60000, 0, 40, -1, 100, 2966},
        // A control's last move: the clock but its reserve.
        {3000, 0, 1, -1, 100, 2850}, {3000, 2000, 1, -1, 100, 2850},
        // The moves still to play keep 200 ms each.
        {5000, 0, 10, -1, 100, 970}, {5000, 0, 40, -1, 100, 0}, {9000, 0, 40, -1, 100, 442},
        // An increment larger than the clock comes after the move.
        {500, 5000, 0, -1, 100, 350},
        // Sudden death: two twentieths of what is left.
        {60000, 0, 0, -1, 100, 5934}, {600000, 0, 0, -1, 100, 59894},
        // The GUI's overhead, when it is larger.
        {10000, 0, 0, -1, 1000, 894}, {-1, 0, 0, 2000, 1000, 950},
    };
    for (const auto &row : rows) {
        ClockReading reading{row.clock, row.increment, row.moves_to_go, row.move_time, row.overhead};
        EXPECT_EQ(move_limit_ms(reading), row.limit)
            << row.clock << " " << row.increment << " " << row.moves_to_go << " " << row.move_time;
    }
    // The time a move allows a level's pace: a fair share of the clock, not
    // two (two moves to go on 2.87 s allow 1.435 s: no AT1, whose two
    // seconds would leave the last move 0.87 s), ending a reserve before the
    // limit (the last move on 2.2 s allows 1.9 s); a time a move, its limit.
    const struct {
        long long clock, increment;
        int moves_to_go;
        long long move_time, share;
    } shares[] = {
        {60000, 0, 40, -1, 1500}, {300000, 0, 40, -1, 7500}, {2870, 0, 2, -1, 1435}, {60000, 0, 0, -1, 3000},
        {30000, 500, 0, -1, 2000}, {2200, 0, 1, -1, 1900}, {-1, 0, 0, 10000, 9850}, {-1, 0, 0, -1, -1},
        {500, 5000, 0, -1, 200},
    };
    for (const auto &row : shares) {
        ClockReading reading{row.clock, row.increment, row.moves_to_go, row.move_time, 100};
        EXPECT_EQ(move_share_ms(reading), row.share) << row.clock << " " << row.moves_to_go << " " << row.move_time;
    }
    // Absurd readings stay within the clock, without overflow.
    ClockReading huge{1000000000LL, 1000000000LL, 100000, 1000000000LL, 5000};
    EXPECT_GE(move_limit_ms(huge), 0);
    EXPECT_LE(move_limit_ms(huge), 1000000000LL);
}

// ------------------------------------------------------------- end of game

TEST(ReportResult, CodesBecomeResultLines) {
    const struct {
        int code, side, own, opp;
        const char *output;
    } rows[] = {
        {1, 0, 0, 0, "1/2-1/2 {Draw by repetition}\n"},
        {2, 1, 0, 0, "1/2-1/2 {Draw by 50 move rule}\n"},
        {3, 0, 0, 0, "1/2-1/2 {Draw by insufficient material}\n"},
        {4, 0, 0, 0, "1/2-1/2 {Draw 4}\n"},
        {5, 0, 0, 0, "1-0 {White mates}\n"},
        {5, 1, 0, 0, "0-1 {Black mates}\n"},
        {6, 0, 100, 50, ""},
        {6, 0, 100, 100, "resign\ntellics resign\n"},
        {6, 1, 50, 100, "resign\ntellics resign\n"},
        {0, 0, 0, 0, ""},
        {7, 0, 0, 0, ""},
        {'X' - '0', 0, 0, 0, ""},
        {'\r' - '0', 0, 0, 0, ""},
    };
    for (const auto &row : rows) {
        end_code = row.code;
        CaptureStdout();
        report_result(row.side, row.own, row.opp);
        report_result(row.side, row.own, row.opp);  // the code has been cleared
        EXPECT_EQ(GetCapturedStdout(), row.output) << row.code;
        EXPECT_EQ(end_code, 0);
    }
}

}  // namespace
