// Position loading and the judging of one device line, called in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fixtures.h"
#include "core.h"
#include "testsuite.h"
#include "translate.h"
#include "xboard.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class Suite : public LinkedTest {
protected:
    // Loads a placement; returns the position command the device received,
    // or "" when nothing was sent.
    std::string load(const char *placement, char side, int expected_result) {
        if (expected_result)
            device.send_line("OK");
        EXPECT_EQ(load_position(placement, side), expected_result) << placement;
        if (!expected_result) {
            EXPECT_TRUE(device.quiet(20)) << placement;
            return "";
        }
        return device.expect_line();
    }

    // Runs a test file with all the device's lines already waiting on the
    // line (the answers to "H", "S4" and "L AN8" first); returns what the
    // interface was shown.
    std::string run(const std::string &contents, const std::string &argument,
                    const std::string &device_lines) {
        dir.write("suite.txt", contents);
        device.send("OK\r\nOK\r\nOK\r\nOK\r\n" + device_lines);
        CaptureStdout();
        run_test_suite(("suite.txt " + argument).c_str());
        return GetCapturedStdout();
    }
    // Every command the device received so far.
    std::string commands() {
        std::string all, line;
        while (device.read_line(line, 50))
            all += line + "|";
        return all;
    }
};

TEST_F(Suite, PlacementsBecomePositionCommands) {
    const struct {
        const char *placement;
        char side;
        const char *command;
    } rows[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", 'w',
         "PCWPa2b2c2d2e2f2g2h2Nb1g1Bc1f1Ra1h1Qd1Ke1Bpa7b7c7d7e7f7g7h7nb8g8bc8f8ra8h8qd8ke8+"},
        {"8/8/8/4k3/8/8/4P3/4K3", 'b', "PCWPe2Ke1Bke5-"},
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1", 'w', "PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+"},
        {"r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR", 'w',
         "PCWPe4a2b2c2d2f2g2h2Nb1g1Bc4c1Ra1h1Qh5Ke1Bpa7b7c7d7f7g7h7e5nc6f6bc8f8ra8h8qd8ke8+"},
        {"8/8/8/8/8/8/8/8", 'w', "PCWB+"},
        {"8/8/8/8/8/8/8/8", 'x', "PCWB"},
        {"8/8/8/8/8/8/8/8", 'W', "PCWB"},  // the side is compared exactly
        {"8/8/8/8/8/8/8/8/8", 'w', "PCWB+"},  // an empty ninth rank is harmless
        {"/8/8/8/4k3/8/8/4P3/4K3", 'b', "PCWPe2Ke1Bke5-"},
        {"//k7", 'b', "PCWBka7-"},  // the first field is the seventh rank
        {"R7/8/8/8/8/8/8/R7", 'w', "PCWRa8a1B+"},
        {"8/8/8/8/8/2N5/8/6N1", 'w', "PCWNc3g1B+"},
        {"", 'b', "PCWB-"},
        {"k7/8/4p3", 'w', "PCWBpe6ka8+"},  // missing ranks stay empty
        {"55/p7", 'w', "PCWBpa7+"},       // a digit run past h only matters with a piece after it
        {"P7/7P/KKK5", 'w', "PCWPa8h7Ka6b6c6B+"},
        {"PPPPPPPP/8/8/8/8/8/8/8", 'w', "PCWPa8b8c8d8e8f8g8h8B+"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(load(row.placement, row.side, 1), row.command) << row.placement;
}

TEST_F(Suite, ImpossiblePlacementsAreRefusedAndNothingIsSent) {
    const char *rows[] = {
        "9/8/8/8/8/8/8/8",        // no such digit
        "8/8/8/8/8/8/8/0",
        "8p/8/8/8/8/8/8/8",       // beyond the h-file
        "4k4p/8/8/8/8/8/8/8",
        "8/8/8/8/8/8/8/8/p7",     // below the first rank
        "//8/8/8/8/8/8/8/k7",
        "8/8/8/8/8/8/8/8 w",      // a space
        "8/8/8/4x3/8/8/8/8",
        "ppppp3/pppp4/8/8/8/8/8/8",  // a ninth pawn of one colour
        "NNNNNNNN/N7/8/8/8/8/8/8",
    };
    for (const char *placement : rows)
        EXPECT_EQ(load(placement, 'w', 0), "") << placement;
    // Absurd runs of digits and separators neither overflow nor get accepted.
    std::string long_run(100000, '8');
    EXPECT_EQ(load((long_run + "p").c_str(), 'w', 0), "");
    std::string separators(100000, '/');
    EXPECT_EQ(load((separators + "p").c_str(), 'w', 0), "");
    EXPECT_EQ(load(separators.c_str(), 'w', 1), "PCWB+");
}

// ---------------------------------------------------------- check_solution

TEST_F(Suite, DeviceLinesAreJudgedAgainstTheSolutions) {
    auto line = [](const char *time, const char *pv) {
        return std::string(".= d 5 1.50 ") + time + " 12/ 34 900/s " + pv;
    };
    const struct {
        std::string line;
        const char *solutions;
        int limit;
        int result;
        const char *verdict;  // "Solved!", "Failed!" or ""
    } rows[] = {
        {line("0:00:07", "d1-d8 g8-f8"), "d1d8\n", 30, 0, "Solved!"},
        {line("0:00:29", "d1xd8"), "d1d8", 30, 0, "Solved!"},
        {line("0:00:30", "d1-d8"), "d1d8", 30, 0, "Failed!"},  // time is tested first
        {line("0:01:00", "a2-a3"), "d1d8", 30, 0, "Failed!"},
        {line("0:00:00", "a2-a3"), "d1d8", 0, 0, "Failed!"},
        {line("0:00:00", "d1-d8"), "d1d8", -5, 0, "Failed!"},
        {line("0:00:07", "a2-a3"), "d1d8", 30, 0, ""},
        {line("0:00:07", "d1-d8"), "a1a2, d1d8\n", 30, 0, "Solved!"},
        {line("0:00:07", "d1-d8"), "a1a2,d1d8", 30, 0, "Solved!"},
        {line("0:00:07", "d1-d8"), "a1a2 \t d1d8", 30, 0, "Solved!"},
        {line("0:00:07", "d1-d8"), ",d1d8", 30, 0, "Solved!"},
        {line("0:00:07", "d1-d8"), " , ,d1d8,", 30, 0, "Solved!"},
        {line("0:00:07", "d7-d8/Q"), "d7d8n", 30, 0, "Solved!"},  // promotion not compared
        {line("0:00:07", "d1-d8"), "D1D8", 30, 0, ""},
        {line("0:00:07", "d1-d"), "d1d8", 30, 0, ""},
        {line("0:00:07", "d1-d8"), "d1", 30, 0, ""},
        {line("0:00:07", "d1-d8"), "d1d", 30, 0, ""},
        {line("9:00:07", "d1-d8"), "", 30, 0, ""},  // nothing left to decide
        {line("0:00:07", "Book d1-d8"), "d1d8", 30, 0, ""},
        {"Book", "d1d8", 30, 0, ""},
        {"M 12, d1-d8", "d1d8", 30, 1, ""},
        {"", "d1d8", 30, 1, ""},
        {".=+x d 5 1.50 0:00:07 12/ 34 900/s d1-d8", "d1d8", 30, 1, ""},
        // A long score word is still an analysis line.
        {".= d 5 Matexxxxxxxxxxxx 0:00:07 12/ 34 900/s d1-d8", "d1d8", 30, 0, "Solved!"},
        {".= d 5 " + std::string(100, 'x') + " 0:00:07 12/ 34 900/s a2-a3", "d1d8", 30, 0, ""},
    };
    for (const auto &row : rows) {
        char solutions[80];
        std::snprintf(solutions, sizeof solutions, "%s", row.solutions);
        solved_count = 0;
        failed_count = 0;
        CaptureStdout();
        EXPECT_EQ(check_solution(row.line.c_str(), solutions, row.limit), row.result) << row.line;
        std::string verdict = row.verdict[0] ? std::string(row.verdict) + "\n" : "";
        EXPECT_EQ(GetCapturedStdout(), row.line + "\n" + verdict) << row.line;
        bool decided = row.verdict[0] != '\0';
        EXPECT_EQ(solved_count, std::strcmp(row.verdict, "Solved!") == 0) << row.line;
        EXPECT_EQ(failed_count, std::strcmp(row.verdict, "Failed!") == 0) << row.line;
        EXPECT_STREQ(solutions, decided ? "" : row.solutions) << row.line;
        if (decided)
            device.expect("J");
        else
            EXPECT_TRUE(device.quiet(10)) << row.line;
    }
}

// ---------------------------------------------------------- run_test_suite

// A list of separators only still has an entry to fail at the limit; the
// move-now meant for lists without any entry must not follow that verdict,
// or it would start a search for the other side after the device's move.
TEST_F(Suite, OneMoveNowPerVerdictWhateverTheList) {
    const char *placement = "setboard 8/8/8/8/8/8/8/K7 w - -\n";
    const struct {
        const char *list;
        const char *verdict;  // "" when no verdict can be given
        const char *commands;
    } rows[] = {
        {"solution ,\n", "Failed!\n", "PCWKa1B+|J|J|"},
        {"solution , ,\t,\n", "Failed!\n", "PCWKa1B+|J|J|"},
        {"solution\n", "", "PCWKa1B+|J|J|"},  // told to move once at the limit
        {"solution a1a2\n", "Failed!\n", "PCWKa1B+|J|J|"},
    };
    for (const auto &row : rows) {
        std::string first = ".= d 3 0.00 0:00:04 1/ 3 100/s a1-b1";
        std::string second = ".= d 4 0.00 0:00:05 1/ 3 100/s a1-b1";
        std::string output = run(std::string("title T\n") + placement + row.list, "5",
                                 "OK\r\n" + first + "\r\n" + second + "\r\nM 1, a1-b1 .\r\n");
        EXPECT_EQ(output, std::string("tellics whisper L AN8\nT\n\n") + row.list + "\n" + first + "\n" + second + "\n" +
                              row.verdict + "M 1, a1-b1 .\nTest complete: " +
                              (row.verdict[0] ? "0 out of 1" : "0 out of 0") +
                              " problems solved within 5 seconds\n\n")
            << row.list;
        EXPECT_EQ(commands(), std::string("H|S4|L AN8|") + row.commands) << row.list;
    }
}

// A file written on Windows reads as it would there: CR LF is a line end,
// a CR on its own is text.
TEST_F(Suite, WindowsLineEndsAreLineEnds) {
    std::string pv = ".= d 3 0.00 0:00:01 1/ 3 100/s d1-d8";
    std::string output = run("title Back-rank mate\r\n"
                             "setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -\r\n"
                             "solution a1a2, d1d8\r\n"
                             "title Carriage\rreturn\r\n"
                             "title \r\n",
                             "5", "OK\r\n" + pv + "\r\nM 1, d1-d8 .\r\n");
    EXPECT_EQ(output, "tellics whisper L AN8\n"
                      "Back-rank mate\n\n"
                      "solution a1a2, d1d8\n\n" +
                          pv + "\nSolved!\nM 1, d1-d8 .\n"
                               "Carriage\rreturn\n\n"
                               "\n\n"
                               "Test complete: 1 out of 1 problems solved within 5 seconds\n\n");
    EXPECT_EQ(commands(), "H|S4|L AN8|PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+|J|J|");
}

}  // namespace
