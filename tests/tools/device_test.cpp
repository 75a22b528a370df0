// The emulated device against the conduct the bridge relies on, on a clock of
// the test's own: answers line by line, refusals, thinking and its analysis
// lines, move replies, end-of-game reports, levels and move-now.
#include "device.hpp"
#include "device_text.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <set>

using namespace emu;

namespace {

// A serial line whose time passes only when the device waits (and a little
// while it searches), so thinking for seconds takes no real time.
class FakeLine : public DeviceIo {
public:
    struct Sent {
        long long at;
        std::string line;
    };
    std::vector<Sent> sent;
    std::deque<std::pair<long long, std::string>> incoming;
    long long now = 0;
    long long stop_at = -1;
    int discards = 0;

    void send(const std::string &line) override { sent.push_back({now, line}); }
    long long now_ms() override { return now; }
    std::optional<std::string> receive(int timeout_ms) override {
        if (timeout_ms == 0)
            now += 4;  // looking for input between search steps
        if (!incoming.empty() && incoming.front().first <= now + timeout_ms) {
            now = std::max(now, incoming.front().first);
            std::string line = incoming.front().second;
            incoming.pop_front();
            return line;
        }
        now += timeout_ms;
        return std::nullopt;
    }
    bool stopping() override { return stop_at >= 0 && now >= stop_at; }
    void discard_unread() override { ++discards; }

    // A command that arrives after ms milliseconds from now.
    void later(long long ms, const std::string &line) { incoming.push_back({now + ms, line}); }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto &s : sent)
            out.push_back(s.line);
        return out;
    }
};

DeviceOptions quick(double speed = 1.0) {
    DeviceOptions o;
    o.speed = speed;
    return o;
}

bool is_analysis(const std::string &line) {
    char status[8], word[16];
    int depth, h, m, s, a, b, nps;
    float score;
    if (line.size() > MAX_ANALYSIS_LINE || line.find(' ') > 3)
        return false;
    return std::sscanf(line.c_str(), "%7s d %d %f %d:%d:%d %d/ %d %d/s", status, &depth, &score, &h, &m, &s, &a, &b,
                       &nps) == 9 ||
           std::sscanf(line.c_str(), "%7s d %d n %d %d:%d:%d %d/ %d %d/s", status, &depth, &a, &h, &m, &s, &a, &b,
                       &nps) == 9 ||
           std::sscanf(line.c_str(), "%7s d %d -n %d %d:%d:%d %d/ %d %d/s", status, &depth, &a, &h, &m, &s, &a, &b,
                       &nps) == 9 ||
           std::sscanf(line.c_str(), "%7s d %d %15s %d:%d:%d %d/ %d %d/s", status, &depth, word, &h, &m, &s, &a, &b,
                       &nps) == 9;
}

struct Reply {
    int number = 0;
    std::string move;
    char marker = 0;
};

// "M %d, %s %c", the layout the device answers in.
std::optional<Reply> as_reply(const std::string &line) {
    Reply r;
    char move[16];
    if (line.rfind("M ", 0) != 0 ||
        std::sscanf(line.c_str(), "M %d, %15s %c", &r.number, move, &r.marker) != 3)
        return std::nullopt;
    r.move = move;
    return r;
}

// The device's move in coordinate notation, checked legal in pos.
std::string coordinate(const chess::Position &pos, const std::string &device_move) {
    std::string c = device_move.substr(0, 2) + device_move.substr(3, 2);
    if (device_move.size() == 7)
        c += static_cast<char>(std::tolower(device_move[6]));
    EXPECT_TRUE(pos.parse_coordinate(c)) << device_move << " in " << pos.fen();
    return c;
}

}  // namespace

TEST(EmulatedDevice, EveryCommandGetsTheLinesTheBridgeReads) {
    FakeLine line;
    Device device(line, quick());
    auto count = [&](const std::string &command) {
        line.sent.clear();
        device.handle(command);
        for (const auto &s : line.sent)
            EXPECT_FALSE(s.line.empty()) << command;
        return line.sent.size();
    };
    for (const char *command : {"U ON", "U OFF", "I", "V", "H", "S1", "S2", "S3", "S4", "A OFF", "X ON", "T",
                                "PCWPe2Ke1Bke5-"})
        EXPECT_EQ(count(command), 1u) << command;
    for (const char *command : {"L TR1", "L AT8", "L SD6", "L FD3", "L AN8", "L AT1"})
        EXPECT_EQ(count(command), 2u) << command;
    EXPECT_EQ(count("N"), 1u);
    EXPECT_EQ(line.sent[0].line, "New Game");
    // The wake-up and the empty line get nothing, nor does what the device
    // does not know.
    for (const char *command : {" ", "", "Z", "L XX1", "L AT9", "L AT0", "S5", "U", "PC"})
        EXPECT_EQ(count(command), 0u) << "'" << command << "'";
    EXPECT_EQ(line.discards, 1);
    EXPECT_EQ(device.level_kind(), LevelKind::AT);
    EXPECT_EQ(device.level_number(), 1);
}

TEST(EmulatedDevice, RefusedMovesGetNoAnswerAtAll) {
    FakeLine line;
    Device device(line, quick());
    device.handle("N");
    line.sent.clear();
    for (const char *command : {"Me2e5", "Me7e5", "Me2e4/Q", "Me2e4/X", "Me2e4x", "Me2", "Mz9e4", "M", "Me1g1"})
        device.handle(command);
    EXPECT_TRUE(line.sent.empty());
    EXPECT_EQ(device.position().fen(), chess::Position::start().fen());
}

TEST(EmulatedDevice, TakesAMoveThenThinksAloudAndReplies) {
    FakeLine line;
    DeviceOptions options = quick(10);
    options.no_book = true;
    Device device(line, options);
    device.handle("N");
    device.handle("H");
    device.handle("S3");
    line.sent.clear();
    long long asked = line.now;
    device.handle("Me2e4");

    auto lines = line.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1. e2-e4");
    EXPECT_EQ(line.sent[0].at, asked);  // the answer comes at once
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(is_analysis(lines[i])) << lines[i];
        // Never silent for long: the bridge gives up on a quiet line.
        EXPECT_LE(line.sent[i].at - line.sent[i - 1].at, 250) << lines[i];
    }
    auto reply = as_reply(lines.back());
    ASSERT_TRUE(reply) << lines.back();
    EXPECT_EQ(reply->number, 1);
    EXPECT_NE(reply->marker, '|');
    // Two seconds at level AT1, ten times faster.
    long long took = line.sent.back().at - asked;
    EXPECT_GE(took, 200);
    EXPECT_LE(took, 400);
    // The lines report the device's own figures: up to its two seconds of
    // thinking, never more positions a second than it examines.
    int latest = -1;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        int h, m, s, a, b, nps;
        const char *l = lines[i].c_str();
        std::size_t time = lines[i].rfind(' ', lines[i].find(':')) + 1;
        ASSERT_EQ(std::sscanf(l + time, "%d:%d:%d %d/ %d %d/s", &h, &m, &s, &a, &b, &nps), 6) << l;
        EXPECT_GE(h * 3600 + m * 60 + s, latest) << l;
        latest = h * 3600 + m * 60 + s;
        EXPECT_LE(nps, options.nominal_nps) << l;
        EXPECT_GT(nps, 0) << l;
    }
    EXPECT_GE(latest, 1);
    EXPECT_LE(latest, 2);
    chess::Position after_e4 = chess::Position::start();
    after_e4.make(*after_e4.parse_coordinate("e2e4"));
    coordinate(after_e4, reply->move);
    EXPECT_EQ(device.position().ply_count(), 2);
}

TEST(EmulatedDevice, BookMovesComeWithTheNoticeAndTheMarker) {
    FakeLine line;
    Device device(line, quick());
    device.handle("N");
    line.sent.clear();
    device.handle("Me2e4");
    auto lines = line.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Book");
    auto reply = as_reply(lines[2]);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->marker, '|');
    // With the display off the notice goes, the marker stays.
    device.handle("V");
    line.sent.clear();
    device.handle("Mg1f3");
    lines = line.lines();
    ASSERT_EQ(lines.size(), 2u) << lines.back();
    EXPECT_EQ(as_reply(lines[1])->marker, '|');
}

TEST(EmulatedDevice, ForceModeTakesMovesForBothSidesWithoutReplying) {
    FakeLine line;
    DeviceOptions options = quick(10);
    options.no_book = true;
    Device device(line, options);
    device.handle("N");
    device.handle("L FD2");
    device.handle("U ON");
    line.sent.clear();
    device.handle("Me2e4");
    device.handle("Me7e5");
    EXPECT_EQ(line.lines(), (std::vector<std::string>{"1. e2-e4", "1... e7-e5"}));
    device.handle("U OFF");
    line.sent.clear();
    device.handle("J");
    auto reply = as_reply(line.lines().back());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->number, 2);
    EXPECT_EQ(device.position().side(), chess::BLACK);
}

TEST(EmulatedDevice, PromotionWithoutAPieceBecomesAQueen) {
    FakeLine line;
    Device device(line, quick());
    device.handle("PCWPe7Ke1Bkh8+");
    device.handle("U ON");
    line.sent.clear();
    device.handle("Me7e8");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"1. e7-e8/Q"});
    device.handle("T");
    line.sent.clear();
    device.handle("Me7e8/N");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"1. e7-e8/N"});
}

TEST(EmulatedDevice, TheInterfacesDecisiveMoveIsReportedInsteadOfAnswered) {
    FakeLine line;
    Device device(line, quick());
    // Mate.
    device.handle("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+");
    line.sent.clear();
    device.handle("Md1d8");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"M#5 Checkmate"});
    EXPECT_TRUE(device.game_over());
    line.sent.clear();
    device.handle("Mg8h8");  // the game is over: no more moves
    EXPECT_TRUE(line.sent.empty());
    device.handle("T");
    EXPECT_FALSE(device.game_over());

    // Stalemate.
    device.handle("PCWQf5Kg6Bkh8+");
    line.sent.clear();
    device.handle("Mf5f7");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"M#4 Stalemate"});

    // Third repetition of the start position.
    device.handle("N");
    device.handle("U ON");
    for (const char *m : {"Mg1f3", "Mg8f6", "Mf3g1", "Mf6g8", "Mg1f3", "Mg8f6", "Mf3g1"})
        device.handle(m);
    device.handle("U OFF");
    line.sent.clear();
    device.handle("Mf6g8");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"M#1 Draw by repetition"});

    // In force mode the same moves are only recorded.
    device.handle("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+");
    device.handle("U ON");
    line.sent.clear();
    device.handle("Md1d8");
    EXPECT_EQ(line.lines(), std::vector<std::string>{"1. d1-d8"});
    device.handle("U OFF");
}

TEST(EmulatedDevice, ItsOwnDrawIsReportedAfterItsReplyItsOwnMateIsNot) {
    FakeLine line;
    Device device(line, quick(10));
    device.handle("L FD3");
    // Taking the last rook leaves bare kings.
    device.handle("PCWKe1Brd2kh8+");
    line.sent.clear();
    device.handle("J");
    auto lines = line.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "M 1, e1xd2 .");
    EXPECT_EQ(lines.back(), "M#3 Draw, no mating material");

    device.handle("PCWPf2g2h2Rd1Kg1Bpf7g7h7kg8+");
    line.sent.clear();
    device.handle("J");
    EXPECT_EQ(line.lines().back(), "M 1, d1-d8 .");
    EXPECT_TRUE(device.game_over());
}

TEST(EmulatedDevice, ResignsOnceWhenHopelessAndStillMoves) {
    FakeLine line;
    Device device(line, quick(10));
    device.handle("L FD3");
    device.handle("PCWKa1Bke8qc8qg8+");
    line.sent.clear();
    device.handle("J");  // the first hopeless move is still played out
    for (const auto &l : line.lines())
        EXPECT_NE(l.rfind("M#", 0), 0u) << l;
    ASSERT_TRUE(as_reply(line.lines().back()));
    line.sent.clear();
    device.handle("Me8e7");
    auto lines = line.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "M#6 Resigns");
    EXPECT_TRUE(as_reply(lines.back()));
    line.sent.clear();
    device.handle("Me7e8");
    for (const auto &l : line.lines())
        EXPECT_NE(l, "M#6 Resigns");
}

TEST(EmulatedDevice, MoveNowEndsAnAnalysisAndALateMoveNowIsIgnored) {
    FakeLine line;
    Device device(line, quick());
    device.handle("L AN8");
    device.handle("PCWPa2b2c2d4e3f2g2h2Nc3f3Bf1Rh1Qd1Ke1Bpa7b7c7d5e6f7g7h7nc6f6be7ra8h8qd8ke8+");
    line.sent.clear();
    long long started = line.now;
    line.later(3000, "J");
    device.handle("J");
    auto lines = line.lines();
    ASSERT_GE(lines.size(), 10u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(is_analysis(lines[i])) << lines[i];
        if (i > 0) {
            EXPECT_LE(line.sent[i].at - line.sent[i - 1].at, 250);
        }
    }
    ASSERT_TRUE(as_reply(lines.back()));
    EXPECT_GE(line.sent.back().at - started, 3000);
    EXPECT_LE(line.sent.back().at - started, 3050);

    // "J" right behind the reply was meant for the move just made.
    line.sent.clear();
    device.handle("L FD2");
    line.sent.clear();
    device.handle("J");
    ASSERT_TRUE(as_reply(line.lines().back()));
    line.sent.clear();
    device.handle("J");
    EXPECT_TRUE(line.sent.empty());
    line.now += 600;
    device.handle("J");
    EXPECT_TRUE(as_reply(line.lines().back()));
}

TEST(EmulatedDevice, AnAnalysisSearchesNoMoreThanTheDeviceWouldInTenMinutes) {
    // The bridge multiplies nodes per second by seconds in an int: the
    // product must stay near the nodes searched however long it runs.
    FakeLine line;
    DeviceOptions options = quick();
    options.nominal_nps = 100;  // ten minutes' worth: 60000 positions
    Device device(line, options);
    device.handle("L AN8");
    device.handle("PCWPa2b2c2d4e3f2g2h2Nc3f3Bf1Rh1Qd1Ke1Bpa7b7c7d5e6f7g7h7nc6f6be7ra8h8qd8ke8+");
    line.later(20000, "J");
    device.handle("J");
    long long largest = 0;
    for (const auto &l : line.lines()) {
        int h, m, s, nps;
        char status[8];
        float score;
        int depth, a, b;
        if (std::sscanf(l.c_str(), "%7s d %d %f %d:%d:%d %d/ %d %d/s", status, &depth, &score, &h, &m, &s, &a, &b,
                        &nps) == 9)
            largest = std::max(largest, static_cast<long long>(nps) * (h * 3600 + m * 60 + s));
    }
    EXPECT_GT(largest, 0);
    EXPECT_LE(largest, 60000 + 2 * static_cast<long long>(chess::Searcher::POLL_INTERVAL));
    EXPECT_TRUE(as_reply(line.lines().back()));
}

TEST(EmulatedDevice, ANewGameOrANewSessionAbandonsTheSearch) {
    for (const char *interrupting : {"N", " ", "PCWPe2Ke1Bke5-"}) {
        FakeLine line;
        Device device(line, quick());
        line.later(0, "L AN8");
        line.later(0, "J");
        line.later(500, interrupting);
        line.stop_at = 3000;
        device.run();
        for (const auto &l : line.lines())
            EXPECT_FALSE(as_reply(l)) << interrupting << ": " << l;
        EXPECT_EQ(device.position().ply_count(), 0) << interrupting;
    }
}

TEST(EmulatedDevice, DisplayAndDetailDecideTheAnalysisLines) {
    FakeLine line;
    DeviceOptions options = quick(10);
    options.no_book = true;
    Device device(line, options);
    device.handle("V");
    line.sent.clear();
    device.handle("Me2e4");
    EXPECT_EQ(line.sent.size(), 2u);  // the answer and the reply: nothing between

    device.handle("H");
    device.handle("S1");
    device.handle("L FD5");
    device.handle("PCWPf2g2h2Qd5Kg1Brf8pg7h7kh8+");
    line.sent.clear();
    device.handle("Mg1h1");
    device.handle("T");
    device.handle("PCWPg2h2Nh6Qd5Kg1Brf8pg7h7kh8+");
    line.sent.clear();
    device.handle("J");
    for (const auto &l : line.lines())
        if (is_analysis(l)) {
            EXPECT_TRUE(l.rfind(".= ", 0) == 0 || l.rfind(". ", 0) == 0) << l;
        }
}

TEST(EmulatedDevice, LevelsSetHowLongItThinks) {
    struct Case {
        const char *level;
        long long low, high;  // ms from the move to the reply
    };
    const Case cases[] = {{"L AT1", 2000, 2100}, {"L AT3", 10000, 10100}, {"L TR1", 7500, 7600},
                          {"L SD1", 6000, 6100}, {"L FD2", 0, 200}};
    for (const auto &c : cases) {
        FakeLine line;
        DeviceOptions options = quick();
        options.no_book = true;
        Device device(line, options);
        device.handle(c.level);
        long long asked = line.now;
        device.handle("Me2e4");
        long long took = line.sent.back().at - asked;
        EXPECT_GE(took, c.low) << c.level;
        EXPECT_LE(took, c.high) << c.level;
        ASSERT_TRUE(as_reply(line.sent.back().line)) << c.level;
    }
}

TEST(EmulatedDevice, TheSameSeedPlaysTheSameGame) {
    auto game = [](std::uint64_t seed) {
        FakeLine line;
        DeviceOptions options = quick(10);
        options.seed = seed;
        Device device(line, options);
        device.handle("N");
        std::string replies;
        for (const char *m : {"Me2e4", "Md2d4", "Mb1c3", "Mg1f3", "Mf1d3"}) {
            line.sent.clear();
            device.handle(m);
            if (line.sent.empty())
                break;  // our scripted move did not fit the device's answer
            replies += line.sent.back().line + ";";
        }
        return replies;
    };
    EXPECT_EQ(game(7), game(7));
    std::set<std::string> first_replies;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        std::string replies = game(seed);
        first_replies.insert(replies.substr(0, replies.find(';')));
    }
    EXPECT_GE(first_replies.size(), 2u);
}
