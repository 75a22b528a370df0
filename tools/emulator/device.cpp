#include "device.hpp"

#include "device_text.hpp"
#include "position_command.hpp"

#include <algorithm>
#include <cstdio>

namespace emu {

namespace {

// Seconds per move at the average-time levels AT1 to AT8.
constexpr int AVERAGE_SECONDS[8] = {2, 5, 10, 15, 30, 60, 120, 180};
// Minutes for the whole game at the sudden-death levels SD1 to SD8.
constexpr int SUDDEN_DEATH_MINUTES[8] = {3, 5, 10, 15, 30, 60, 90, 120};
// Minutes for 40 moves at the tournament levels: TR1 is 40 moves in 5 minutes.
constexpr int TOURNAMENT_MINUTES_PER_STEP = 5;
// Thinking time, in the device's seconds, after which an analysis stops
// searching and only reports its result until told to move.
constexpr int ANALYSIS_SECONDS = 600;
// A position worse than this (centipawns) on two moves running is given up.
constexpr int RESIGN_SCORE = -900;
// A "J" this soon after the device's move, with nothing in between, belongs
// to that move.
constexpr long long STALE_MOVE_NOW_MS = 500;

bool blank(const std::string &s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// Commands that end a search without a move: a new game, a new position, or
// a new session starting on the line.
bool abandons_search(const std::string &s) { return s == "N" || s.rfind("PCW", 0) == 0 || (!s.empty() && blank(s)); }

const char *report_text(chess::GameState state) {
    switch (state) {
    case chess::GameState::REPETITION: return "M#1 Draw by repetition";
    case chess::GameState::FIFTY_MOVES: return "M#2 Draw by the 50 move rule";
    case chess::GameState::INSUFFICIENT: return "M#3 Draw, no mating material";
    case chess::GameState::STALEMATE: return "M#4 Stalemate";
    case chess::GameState::CHECKMATE: return "M#5 Checkmate";
    default: return nullptr;
    }
}

}  // namespace

const char *level_name(LevelKind kind) {
    switch (kind) {
    case LevelKind::TR: return "TR";
    case LevelKind::AT: return "AT";
    case LevelKind::SD: return "SD";
    case LevelKind::FD: return "FD";
    case LevelKind::AN: return "AN";
    }
    return "??";
}

// The search's view of the line while the device thinks: it takes in
// commands, sends the analysis lines the display asks for, keeps the line
// from falling silent, and says when to stop.
class Device::Thinking : public chess::SearchHooks {
public:
    Thinking(Device &device, const Plan &plan) : d_(device), plan_(plan) {
        start_ = d_.io_.now_ms();
        last_line_ = start_;
    }

    bool poll(const chess::SearchInfo &progress) override {
        while (auto line = d_.io_.receive(0))
            if (d_.take_input_while_thinking(line, abandon_))
                move_now_ = true;
        if (d_.io_.stopping())
            abandon_ = true;
        long long now = d_.io_.now_ms();
        if (plan_.hard_ms > 0 && now - start_ >= plan_.hard_ms)
            out_of_time_ = true;
        keep_alive(progress, now);
        return move_now_ || abandon_ || out_of_time_;
    }

    void report(const chess::SearchInfo &info) override {
        int needed = 1;
        const char *status = ".=";
        switch (info.kind) {
        case chess::InfoKind::ITERATION: break;
        case chess::InfoKind::NEW_BEST: status = ".+"; needed = 2; break;
        case chess::InfoKind::FAIL_HIGH: status = ".>"; needed = 3; break;
        case chess::InfoKind::FAIL_LOW: status = ".<"; needed = 3; break;
        }
        if (d_.detail_ >= needed)
            send(status, info, d_.io_.now_ms());
    }

    // After the search: the rest of the thinking time, still on the line.
    void wait_out(const chess::SearchInfo &final_info) {
        for (;;) {
            if (move_now_ || abandon_)
                return;
            long long now = d_.io_.now_ms();
            long long left = plan_.infinite ? d_.options_.keepalive_ms : start_ + plan_.wall_ms - now;
            if (left <= 0)
                return;
            long long until_line = last_line_ + d_.options_.keepalive_ms - now;
            int wait = static_cast<int>(std::clamp<long long>(std::min(left, until_line), 0, 1000));
            auto line = d_.io_.receive(wait);
            if (d_.take_input_while_thinking(line, abandon_))
                move_now_ = true;
            if (d_.io_.stopping())
                abandon_ = true;
            keep_alive(final_info, d_.io_.now_ms());
        }
    }

    bool abandoned() const { return abandon_; }
    long long elapsed() const { return d_.io_.now_ms() - start_; }

private:
    void keep_alive(const chess::SearchInfo &progress, long long now) {
        if (now - last_line_ >= d_.options_.keepalive_ms)
            send(".", progress, now);
    }

    void send(const char *status, const chess::SearchInfo &info, long long now) {
        if (!d_.display_)
            return;
        AnalysisFields f;
        f.status = status;
        f.depth = info.depth;
        f.score = info.score;
        // The figures are the emulated device's own, not the host's: its
        // thinking time is the wall time times the speed-up, or, when the
        // host has searched ahead of the device's pace, the time the device
        // needs for the positions searched so far. So the time and the
        // positions a second mean what they would on the device, and the
        // same search reports the same figures on any host fast enough.
        long long wall_ms = static_cast<long long>(static_cast<double>(now - start_) * d_.options_.speed);
        long long nodes = static_cast<long long>(info.nodes);
        long long pace = std::max(d_.options_.nominal_nps, 1);
        long long paced_ms = (nodes * 1000 + pace - 1) / pace;  // rounded up: never above the pace
        f.elapsed_ms = std::max(wall_ms, paced_ms);
        f.searched = info.root_index;
        f.root_moves = info.root_count;
        long long ms = std::max<long long>(f.elapsed_ms, 1);
        f.nodes_per_second = nodes * 1000 / ms;
        d_.io_.send(analysis_line(f, d_.pos_, info.pv));
        last_line_ = now;
    }

    Device &d_;
    Plan plan_;
    long long start_ = 0;
    long long last_line_ = 0;
    bool move_now_ = false;
    bool abandon_ = false;
    bool out_of_time_ = false;
};

Device::Device(DeviceIo &io, DeviceOptions options)
    : io_(io), options_(options), pos_(chess::Position::start()), random_state_(options.seed) {
    new_game();
}

std::uint64_t Device::next_random() {
    random_state_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = random_state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void Device::new_game() {
    pos_ = chess::Position::start();
    searcher_.clear();
    game_over_ = false;
    resigned_ = false;
    hopeless_moves_ = 0;
    if (level_kind_ == LevelKind::SD)
        sd_left_seconds_ = SUDDEN_DEATH_MINUTES[level_number_ - 1] * 60.0;
}

void Device::run() {
    while (!io_.stopping()) {
        if (!pending_.empty()) {
            std::string command = pending_.front();
            pending_.pop_front();
            handle(command);
            continue;
        }
        if (auto line = io_.receive(500))
            handle(*line);
    }
}

void Device::handle(const std::string &command) {
    bool stale_move_now = just_moved_ && io_.now_ms() - moved_at_ < STALE_MOVE_NOW_MS;
    just_moved_ = false;

    if (command.empty())
        return;  // the empty line only wakes the device
    if (blank(command)) {
        // The wake-up that opens a session: whatever the last session left
        // unread is not for this one.
        io_.discard_unread();
        return;
    }
    if (command == "N") {
        new_game();
        io_.send("New Game");
    } else if (command == "J") {
        if (!stale_move_now)
            think();
    } else if (command == "T") {
        on_take_back();
    } else if (command.rfind("PCW", 0) == 0) {
        if (auto pos = decode_position_command(command)) {
            pos_ = *pos;
            game_over_ = false;
            resigned_ = false;
            hopeless_moves_ = 0;
        }
        io_.send("Position set");
    } else if (command[0] == 'M') {
        on_move_command(command);
    } else if (command[0] == 'L' && command.size() == 5 && command[1] == ' ') {
        on_level(command);
    } else if (command == "U ON" || command == "U OFF") {
        force_ = command == "U ON";
        io_.send(force_ ? "Force mode on" : "Force mode off");
    } else if (command == "I") {
        io_.send("Novag Sapphire II emulator");
    } else if (command == "V") {
        display_ = false;
        io_.send("Display off");
    } else if (command == "H") {
        display_ = true;
        io_.send("Display on");
    } else if (command.size() == 2 && command[0] == 'S' && command[1] >= '1' && command[1] <= '4') {
        detail_ = command[1] - '0';
        io_.send("Detail " + command.substr(1));
    } else if (command == "A ON" || command == "A OFF" || command == "X ON" || command == "X OFF") {
        io_.send(command);
    }
    // Anything else is not a command of this device: no answer, as the
    // device gives none to what it does not understand.
}

void Device::on_level(const std::string &command) {
    static const struct {
        const char *name;
        LevelKind kind;
    } kinds[] = {{"TR", LevelKind::TR}, {"AT", LevelKind::AT}, {"SD", LevelKind::SD},
                 {"FD", LevelKind::FD}, {"AN", LevelKind::AN}};
    char digit = command[4];
    if (digit < '1' || digit > '8')
        return;
    for (const auto &k : kinds) {
        if (command.compare(2, 2, k.name) != 0)
            continue;
        level_kind_ = k.kind;
        level_number_ = digit - '0';
        char second[64];
        switch (level_kind_) {
        case LevelKind::TR:
            std::snprintf(second, sizeof second, "40 moves in %d min", level_number_ * TOURNAMENT_MINUTES_PER_STEP);
            break;
        case LevelKind::AT:
            std::snprintf(second, sizeof second, "%d sec per move", AVERAGE_SECONDS[level_number_ - 1]);
            break;
        case LevelKind::SD:
            sd_left_seconds_ = SUDDEN_DEATH_MINUTES[level_number_ - 1] * 60.0;
            std::snprintf(second, sizeof second, "Game in %d min", SUDDEN_DEATH_MINUTES[level_number_ - 1]);
            break;
        case LevelKind::FD:
            std::snprintf(second, sizeof second, "Depth %d", level_number_);
            break;
        case LevelKind::AN:
            std::snprintf(second, sizeof second, "Analysis");
            break;
        }
        io_.send("Level " + command.substr(2));
        io_.send(second);
        return;
    }
}

void Device::on_take_back() {
    if (!pos_.has_history()) {
        io_.send("Take back: none");
        return;
    }
    chess::Move m = pos_.last_move();
    pos_.unmake();
    game_over_ = false;
    io_.send("Take back " + device_move(pos_, m));
}

void Device::on_move_command(const std::string &command) {
    // M e2 e4 [/ Q]: a refused move gets no answer at all.
    int from = chess::parse_square(std::string_view(command).substr(1));
    int to = command.size() >= 5 ? chess::parse_square(std::string_view(command).substr(3)) : -1;
    if (from < 0 || to < 0 || game_over_)
        return;
    int promo = chess::NO_TYPE;
    if (command.size() == 7 && command[5] == '/') {
        switch (command[6]) {
        case 'Q': promo = chess::QUEEN; break;
        case 'R': promo = chess::ROOK; break;
        case 'B': promo = chess::BISHOP; break;
        case 'N': promo = chess::KNIGHT; break;
        default: return;
        }
    } else if (command.size() != 5) {
        return;
    }
    auto move = pos_.find_legal(from, to, promo);
    // A pawn moved to the last rank without a piece named becomes a queen.
    if (!move && promo == chess::NO_TYPE)
        move = pos_.find_legal(from, to, chess::QUEEN);
    if (!move)
        return;

    std::string text = device_move(pos_, *move);
    int number = pos_.fullmove_number();
    bool black = pos_.side() == chess::BLACK;
    pos_.make(*move);
    if (!force_ && report_end(pos_.state(), false))
        return;  // the report stands in for the answer
    io_.send(std::to_string(number) + (black ? "... " : ". ") + text);
    if (!force_)
        think();
}

bool Device::report_end(chess::GameState state, bool after_own_move) {
    if (state == chess::GameState::ONGOING)
        return false;
    game_over_ = true;
    // The device's own mating move is not announced: the other side sees the
    // mate on its own board.
    if (!(after_own_move && state == chess::GameState::CHECKMATE))
        io_.send(report_text(state));
    return true;
}

Device::Plan Device::plan() const {
    Plan p;
    double seconds = 0;
    switch (level_kind_) {
    case LevelKind::TR:
        seconds = level_number_ * TOURNAMENT_MINUTES_PER_STEP * 60.0 / 40.0;
        break;
    case LevelKind::AT:
        seconds = AVERAGE_SECONDS[level_number_ - 1];
        break;
    case LevelKind::SD:
        seconds = std::max(0.5, sd_left_seconds_ / 30.0);
        break;
    case LevelKind::FD:
        p.max_depth = level_number_;
        p.hard_ms = static_cast<long long>(60000 / options_.speed);
        return p;
    case LevelKind::AN:
        // Analyses until told to move, but searches no more than the device
        // would in ten minutes: the receiving side multiplies nodes per
        // second by seconds in a plain int, which a host searching at full
        // speed for a quarter of an hour would overflow.
        p.infinite = true;
        p.nodes = static_cast<std::uint64_t>(options_.nominal_nps) * ANALYSIS_SECONDS;
        return p;
    }
    p.nodes = static_cast<std::uint64_t>(seconds * options_.nominal_nps);
    p.wall_ms = static_cast<long long>(seconds * 1000.0 / options_.speed);
    p.hard_ms = p.wall_ms * 3 + 1000;
    return p;
}

bool Device::take_input_while_thinking(std::optional<std::string> line, bool &abandon) {
    if (!line)
        return false;
    if (*line == "J")
        return true;
    if (abandons_search(*line))
        abandon = true;
    pending_.push_back(*line);
    return false;
}

void Device::think() {
    if (report_end(pos_.state(), false))
        return;
    long long started = io_.now_ms();

    if (level_kind_ != LevelKind::AN && !options_.no_book && !options_.blunder) {
        if (auto m = book_.pick(pos_, next_random())) {
            if (display_)
                io_.send("Book");
            play_own(*m, true);
            return;
        }
    }

    Plan p = plan();
    Thinking thinking(*this, p);
    chess::SearchLimits limits;
    limits.max_depth = options_.blunder ? 1 : p.max_depth;
    limits.max_nodes = p.nodes;
    chess::SearchResult result = searcher_.run(pos_, limits, &thinking);
    chess::SearchInfo final_info;
    final_info.depth = result.depth;
    final_info.score = result.score;
    final_info.pv = result.pv;
    final_info.nodes = result.nodes;
    {
        chess::MoveList legal;
        pos_.generate_legal(legal);
        final_info.root_index = final_info.root_count = legal.size;
    }
    thinking.wait_out(final_info);
    if (thinking.abandoned())
        return;  // no move: the command that stopped it is waiting

    if (level_kind_ == LevelKind::SD)
        sd_left_seconds_ = std::max(0.0, sd_left_seconds_ - (io_.now_ms() - started) * options_.speed / 1000.0);

    chess::Move best = result.best;
    if (options_.blunder) {
        chess::MoveList legal;
        pos_.generate_legal(legal);
        best = legal[static_cast<int>(next_random() % static_cast<std::uint64_t>(legal.size))];
    } else if (level_kind_ != LevelKind::AN && result.depth >= 3 && result.score <= RESIGN_SCORE) {
        // Resigns once per game; its move still follows, so the game goes on
        // where the other side does not accept the resignation.
        if (++hopeless_moves_ >= 2 && !resigned_) {
            resigned_ = true;
            io_.send("M#6 Resigns");
        }
    } else {
        hopeless_moves_ = 0;
    }
    play_own(best, false);
}

void Device::play_own(const chess::Move &m, bool book) {
    io_.send(move_reply(pos_.fullmove_number(), device_move(pos_, m), book));
    pos_.make(m);
    just_moved_ = true;
    moved_at_ = io_.now_ms();
    report_end(pos_.state(), true);
}

}  // namespace emu
