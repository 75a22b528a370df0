// What the benches read: lines as they come off a descriptor, and the
// device's part in each position change from the session log. A fault here
// gives a wrong figure without a word.
#include "bench_support.hpp"
#include "change_log.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

using bench::change_traffic;
using bench::ChangeTraffic;
using bench::LineReader;

namespace {

TEST(LineReader, LinesSplitAcrossReadsComeWholeWithTheirLastReadsTime) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    LineReader reader(fds[0]);
    auto put = [&](const std::string &bytes) {
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    put("bestmo");
    ASSERT_TRUE(reader.take());
    EXPECT_TRUE(reader.lines.empty()) << "half a line is no line";
    auto before = bench::Clock::now();
    put("ve e7e5\r\n\nreadyok\npartial");
    ASSERT_TRUE(reader.take());
    ASSERT_EQ(reader.lines.size(), 3u);
    EXPECT_EQ(reader.lines[0].text, "bestmove e7e5");
    EXPECT_GE(reader.lines[0].at, before) << "stamped when its end came";
    EXPECT_EQ(reader.lines[1].text, "");
    EXPECT_EQ(reader.lines[2].text, "readyok");
    close(fds[1]);
    EXPECT_FALSE(reader.take());
    EXPECT_TRUE(reader.ended());
    EXPECT_EQ(reader.lines.size(), 3u) << "a last line without its end is not taken as one";
    close(fds[0]);
}

std::vector<std::string> commands(const ChangeTraffic &t) { return t.commands; }

TEST(ChangeLog, EachChangeHasTheCommandsUpToTheGuisNextLineOrTheFirstThinkingLine) {
    // Two changes with the same text each get their own; a change before
    // the analysis is not one of the changes looked for.
    const std::string log =
        "==> undo\r\n --> T\r\n <-- Take back e2-e4\r\n"
        "==> analyze\r\n --> J\r\n <-- .= d 1 0.26 0:00:00 20/ 20 13666/s d2-d4\r\n<== 1 25 0 0 d2-d4\r\n"
        "==> undo\r\n --> J\r\n <-- M 1, e2-e4 .\r\n --> T\r\n <-- Take back e2-e4\r\n --> T\r\n"
        " <-- Take back d7-d5\r\n --> J\r\n==> ping 1\r\n<== pong 1\r\n"
        "==> undo\r\n --> J\r\n <-- M 1, d2-d4 .\r\n --> T\r\n <-- Take back d2-d4\r\n --> T\r\n"
        " <-- Take back: none\r\n --> J\r\n <-- .+ d 1 0.26 0:00:00 3/ 20 7000/s d2-d4\r\n"
        "<== 1 25 0 0 d2-d4\r\n --> H\r\n"
        "==> setboard 8/8/8/4k3/8/8/4P3/4K3 b - - 0 1\r\n --> J\r\n <-- M 1, e5-e4 .\r\n"
        " --> PCWPe2Ke1Bke5-\r\n <-- Position set\r\n --> J\r\n==> ping 2\r\n";
    std::vector<ChangeTraffic> found =
        change_traffic(log, {"analyze", "undo", "undo", "setboard 8/8/8/4k3/8/8/4P3/4K3 b - - 0 1"});
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(commands(found[0]), (std::vector<std::string>{"J"}));
    EXPECT_EQ(commands(found[1]), (std::vector<std::string>{"J", "T", "T", "J"}));
    EXPECT_EQ(commands(found[2]), (std::vector<std::string>{"J", "T", "T", "J"})) << "H came after the thinking line";
    EXPECT_EQ(commands(found[3]), (std::vector<std::string>{"J", "PCWPe2Ke1Bke5-", "J"}));
    // J, the move reply, T and its answer, T and its answer, J; CR LF each.
    EXPECT_EQ(found[1].bytes, 3 + 14 + 3 + 17 + 3 + 17 + 3);
}

TEST(ChangeLog, ReadsThatGotNothingNeitherHideACommandNorCountAsBytes) {
    // A read that got nothing leaves its " <-- " without a line end; a long
    // one notes its time-out instead of the device's bytes.
    const std::string log = "==> e2e4\r\n --> J\r\n <--  --> T\r\n <-- (Timeout 2000 msecs)\r\n --> Me2e4\r\n"
                            " <-- 1. e2-e4\r\n --> J\r\n <-- ==> ping 1\r\n";
    std::vector<ChangeTraffic> found = change_traffic(log, {"e2e4", "ping 1"});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(commands(found[0]), (std::vector<std::string>{"J", "T", "Me2e4", "J"}));
    EXPECT_EQ(found[0].bytes, 3 + 3 + 7 + 10 + 3);
}

TEST(ChangeLog, AChangeMissingFromTheLogEndsTheResultThere) {
    const std::string log = "==> e2e4\r\n --> J\r\n==> e7e5\r\n --> J\r\n";
    EXPECT_EQ(change_traffic(log, {"e2e4", "g1f3", "e7e5"}).size(), 1u);
    EXPECT_TRUE(change_traffic("", {"e2e4"}).empty());
}

}  // namespace
