// Test-suite runs as a GUI starts them with "test FILE [SECONDS]".
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

const char BACK_RANK[] = "setboard 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -\n";
const char BACK_RANK_COMMAND[] = "PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+";

struct Session : StartedBridge {
    // "test" with the device's preparation for the run answered.
    void start(const std::string &argument) {
        bridge.send("test " + argument);
        device.answer("H");
        device.answer("S4");
        device.expect("L AN8");
        device.send("OK\r\nOK\r\n");
    }
    // The device searches: "J", then these lines.
    void search(const std::vector<std::string> &lines) {
        device.expect("J");
        for (const std::string &line : lines)
            device.send_line(line);
    }
    // The verdict's "J", then the device's move, which ends the problem.
    void move_after_verdict(const std::string &reply) {
        device.expect("J");
        device.send_line(reply);
    }
    // The whole output of the run, up to the empty line after its summary.
    void expect_output(const std::vector<std::string> &lines) {
        for (const std::string &line : lines)
            bridge.expect(line);
    }
};

std::string analysis(const std::string &time, const std::string &pv,
                     const std::string &score = "Mate") {
    return ".= d 5 " + score + " " + time + " 10/ 20 500/s " + pv;
}

TEST(TestSuite, SolvedFailedAndSolutionLists) {
    Session s;
    s.dir.write("suite.txt", std::string("title Back-rank mate\n") + BACK_RANK +
                                 "solution d1d8\n"
                                 "title On the limit\n" +
                                 BACK_RANK +
                                 "solution d1d8\n"
                                 "title Second entry\n"
                                 "solution a1a2, d1d8\n"
                                 "solution a1a2,d1d8\n"
                                 "solution a1a2 \t d1d8\n"
                                 "solution ,d1d8\n");
    s.start("suite.txt 10");

    s.device.answer(BACK_RANK_COMMAND);
    s.search({analysis("0:00:02", "d1-d8 g8-f8")});
    s.move_after_verdict("M 1, d1-d8 .");

    s.device.answer(BACK_RANK_COMMAND);
    s.search({analysis("0:00:09", "a2-a3", "0.50"), analysis("0:00:10", "d1-d8")});
    s.move_after_verdict(analysis("0:00:11", "d1-d8"));  // after the verdict: echoed only
    s.device.send_line("M 1, d1-d8 .");

    for (int entry = 0; entry < 4; ++entry) {
        s.search({"Book", analysis("0:00:01", "d1xd8")});
        s.move_after_verdict("M 1, d1-d8 .");
    }

    s.expect_output({"tellics whisper L AN8",
                     "Back-rank mate", "",
                     "solution d1d8", "",
                     analysis("0:00:02", "d1-d8 g8-f8"), "Solved!", "M 1, d1-d8 .",
                     "On the limit", "",
                     "solution d1d8", "",
                     analysis("0:00:09", "a2-a3", "0.50"), analysis("0:00:10", "d1-d8"), "Failed!",
                     analysis("0:00:11", "d1-d8"), "M 1, d1-d8 .",
                     "Second entry", ""});
    for (const char *list : {"a1a2, d1d8", "a1a2,d1d8", "a1a2 \t d1d8", ",d1d8"})
        s.expect_output({std::string("solution ") + list, "", "Book", analysis("0:00:01", "d1xd8"),
                         "Solved!", "M 1, d1-d8 ."});
    s.expect_output({"Test complete: 5 out of 6 problems solved within 10 seconds", ""});
    EXPECT_EQ(s.quit(), 0);
}

TEST(TestSuite, RejectedPlacementSkipsItsProblemAndTheLimitDefaultsToThirty) {
    Session s;
    s.dir.write("suite.txt", std::string("title Bad\n"
                                         "setboard 9/8/8/8/8/8/8/8 w - -\n") +
                                 BACK_RANK +
                                 "solution d1d8\n"
                                 "setboard 8/8/8/8/8/8/8/8\n"  // no side: not a setboard line
                                 "title Good\n"
                                 "setboard 8/8/8/8/8/8/8/K7 B\n"
                                 "solution a1a2\n");
    s.start("suite.txt");
    s.device.answer(BACK_RANK_COMMAND);  // loaded, but its solution is skipped
    s.device.answer("PCWKa1B-");
    s.search({analysis("0:00:29", "a1-a2", "0.00")});
    s.move_after_verdict("M 1, a1-a2 .");
    s.expect_output({"tellics whisper L AN8",
                     "Bad", "",
                     "Illegal forsythe position!",
                     "Good", "",
                     "solution a1a2", "",
                     analysis("0:00:29", "a1-a2", "0.00"), "Solved!", "M 1, a1-a2 .",
                     "Test complete: 1 out of 1 problems solved within 30 seconds", ""});
    EXPECT_EQ(s.quit(), 0);
}

TEST(TestSuite, UndecidedProblemsAreNotCounted) {
    Session s;
    s.dir.write("suite.txt", std::string("title\n") + BACK_RANK +
                                 "solution\n"
                                 "title Undecided\n"
                                 "solution d1d8\n");
    s.start("suite.txt 5");
    s.device.answer(BACK_RANK_COMMAND);
    // An empty list can never be decided: once the search time reaches the
    // limit the device is told to move (once), and its move ends the problem.
    s.search({analysis("0:00:04", "d1-d8"), analysis("0:00:09", "d1-d8")});
    s.device.expect("J");
    s.device.send_line(analysis("0:00:10", "d1-d8"));
    s.device.send_line("M 1, d1-d8 .");
    // A line that is no analysis line ends it before any verdict.
    s.search({"garbage"});
    s.expect_output({"tellics whisper L AN8",
                     "",  // the empty title
                     "solution", "",
                     analysis("0:00:04", "d1-d8"), analysis("0:00:09", "d1-d8"),
                     analysis("0:00:10", "d1-d8"), "M 1, d1-d8 .",
                     "Undecided", "",
                     "solution d1d8", "",
                     "garbage",
                     "Test complete: 0 out of 0 problems solved within 5 seconds", ""});
    EXPECT_TRUE(s.device.quiet(50));  // no second "J" without a verdict
    EXPECT_EQ(s.quit(), 0);
}

TEST(TestSuite, EachDeviceLineIsShownWhileTheProblemRuns) {
    Session s;
    s.dir.write("suite.txt", std::string("title Slow\n") + BACK_RANK + "solution d1d8\n");
    s.start("suite.txt 10");
    s.device.answer(BACK_RANK_COMMAND);
    s.search({analysis("0:00:01", "a2-a3", "0.10")});
    // The run goes on, and the interface has already seen its lines.
    s.expect_output({"tellics whisper L AN8", "Slow", "", "solution d1d8", "",
                     analysis("0:00:01", "a2-a3", "0.10")});
    s.device.send_line(analysis("0:00:02", "d1-d8"));
    s.move_after_verdict("M 1, d1-d8 .");
    s.expect_output({analysis("0:00:02", "d1-d8"), "Solved!", "M 1, d1-d8 .",
                     "Test complete: 1 out of 1 problems solved within 10 seconds", ""});
    EXPECT_EQ(s.quit(), 0);
}

TEST(TestSuite, MissingFileDoesNothing) {
    Session s;
    s.bridge.send("test no-such-file.txt 5");
    s.bridge.send("test");
    s.bridge.send("bogus");
    s.bridge.expect("");
    EXPECT_TRUE(s.device.quiet(50));
    EXPECT_EQ(s.quit(), 0);
}

TEST(TestSuite, HostileFileContentsAreCutOrRefused) {
    Session s;
    std::string contents;
    contents += std::string("title A\0hidden\n", 15);
    contents += "setboard " + std::string(150, '8') + " w - -\n";  // placement too long
    contents += "title B\n";
    contents += "setboard 8/8/8/8/8/8/8/K7 w " + std::string(100, 'K') + " -\n";
    contents += "solution " + std::string(100, 'x') + " a1a2\n";  // list cut before a1a2
    contents += std::string(1000, 'y') + "\n";
    contents += std::string("solution\0 a1a2\n", 15);
    s.dir.write("suite.txt", contents);
    s.start("suite.txt 5");
    s.device.answer("PCWKa1B+");
    s.search({analysis("0:00:01", "a1-a2"), "M 1, a1-a2 ."});
    s.search({analysis("0:00:01", "a1-a2"), "M 1, a1-a2 ."});
    s.expect_output({"tellics whisper L AN8",
                     "A",
                     "Illegal forsythe position!",
                     "B", "",
                     "solution " + std::string(100, 'x') + " a1a2", "",
                     analysis("0:00:01", "a1-a2"), "M 1, a1-a2 .",
                     "solution",
                     analysis("0:00:01", "a1-a2"), "M 1, a1-a2 .",
                     "Test complete: 0 out of 0 problems solved within 5 seconds", ""});
    EXPECT_EQ(s.quit(), 0);
}

// The suite shipped with the program: every position loads, and the device
// that plays the first listed solution solves them all.
TEST(TestSuite, ShippedMatesSuiteRuns) {
    std::string root = __FILE__;
    root = root.substr(0, root.rfind("/tests/"));
    std::ifstream in(root + "/suites/mates.txt");
    ASSERT_TRUE(in) << root;
    std::stringstream text;
    text << in.rdbuf();

    Session s;
    s.dir.write("mates.txt", text.str());
    s.start("mates.txt 5");
    std::istringstream lines(text.str());
    std::string line;
    int problems = 0;
    std::vector<std::string> output = {"tellics whisper L AN8"};
    while (std::getline(lines, line)) {
        if (line.rfind("title ", 0) == 0) {
            output.push_back(line.substr(6));
            output.push_back("");
        } else if (line.rfind("setboard ", 0) == 0) {
            std::string command = s.device.expect_line();
            EXPECT_EQ(command.rfind("PCW", 0), 0u) << line;
            EXPECT_NE(command.find('B'), std::string::npos) << line;
            s.device.send_line("OK");
        } else if (line.rfind("solution ", 0) == 0) {
            std::string first = line.substr(9, 4);
            std::string pv = first.substr(0, 2) + "-" + first.substr(2, 2);
            s.search({analysis("0:00:01", pv)});
            s.move_after_verdict("M 1, " + pv + " .");
            output.insert(output.end(), {line, "", analysis("0:00:01", pv), "Solved!",
                                         "M 1, " + pv + " ."});
            ++problems;
        }
    }
    EXPECT_GE(problems, 5);
    output.push_back("Test complete: " + std::to_string(problems) + " out of " +
                     std::to_string(problems) + " problems solved within 5 seconds");
    output.push_back("");
    s.expect_output(output);
    EXPECT_EQ(s.quit(), 0);
}

}  // namespace
