#include "game.hpp"

#include "search.hpp"

#include <time.h>

#include <cctype>
#include <cstring>

namespace driver {

namespace {

bool starts_with(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

const char *state_reason(chess::GameState state) {
    switch (state) {
    case chess::GameState::REPETITION: return "Draw by repetition";
    case chess::GameState::FIFTY_MOVES: return "Draw by 50 move rule";
    case chess::GameState::INSUFFICIENT: return "Draw by insufficient material";
    case chess::GameState::STALEMATE: return "Stalemate";
    default: return "";
    }
}

// Ply, score, time, nodes and the variation: "%2d%c %5d %3d %6d  %s", where
// the character after the ply is a marker or a blank.
bool is_thinking(const std::string &line) {
    std::size_t i = 0, n = line.size();
    auto skip_blanks = [&] {
        std::size_t from = i;
        while (i < n && line[i] == ' ')
            ++i;
        return i > from;
    };
    auto number = [&](bool sign) {
        if (sign && i < n && line[i] == '-')
            ++i;
        std::size_t from = i;
        while (i < n && std::isdigit(static_cast<unsigned char>(line[i])))
            ++i;
        return i > from;
    };
    skip_blanks();
    if (!number(false))
        return false;
    if (i < n && std::strchr("&.+-", line[i]))
        ++i;
    for (bool sign : {true, false, true}) {
        if (!skip_blanks() || !number(sign))
            return false;
    }
    return i == n || line[i] == ' ';
}

// Waits for further lines only this long once the move is in: the bridge
// prints a result that follows a move in the same burst.
constexpr int TRAILING_MS = 40;

}  // namespace

BridgeLine classify(const std::string &line) {
    BridgeLine out;
    // "move e7e5": the device's move.
    {
        int used = 0;
        char move[8] = {0};
        if (std::sscanf(line.c_str(), "move %6s%n", move, &used) == 1 &&
            static_cast<std::size_t>(used) == line.size()) {
            std::size_t n = std::strlen(move);
            bool squares = n >= 4 && n <= 5 && move[0] >= 'a' && move[0] <= 'h' && move[1] >= '1' &&
                           move[1] <= '8' && move[2] >= 'a' && move[2] <= 'h' && move[3] >= '1' && move[3] <= '8';
            if (squares) {
                out.kind = BridgeLine::DEVICE_MOVE;
                out.text = move;
                return out;
            }
        }
    }
    if (starts_with(line, "tellics whisper ")) {
        out.kind = BridgeLine::WHISPER;
        out.text = line.substr(16);
        return out;
    }
    if (starts_with(line, "tellics say ")) {
        out.kind = BridgeLine::SAY;
        out.text = line.substr(12);
        return out;
    }
    if (line == "resign") {
        out.kind = BridgeLine::RESIGN;
        return out;
    }
    if (starts_with(line, "Illegal move: ")) {
        out.kind = BridgeLine::ILLEGAL;
        out.text = line.substr(14);
        return out;
    }
    for (const char *result : {"1-0", "0-1", "1/2-1/2"}) {
        std::size_t n = std::strlen(result);
        if (line.compare(0, n, result) == 0 && (line.size() == n || line[n] == ' ')) {
            out.kind = BridgeLine::RESULT;
            out.text = result;
            auto open = line.find('{'), close = line.rfind('}');
            if (open != std::string::npos && close != std::string::npos && close > open)
                out.reason = line.substr(open + 1, close - open - 1);
            return out;
        }
    }
    if (is_thinking(line))
        out.kind = BridgeLine::THINKING;
    return out;
}

GameDriver::GameDriver(EngineProcess &bridge, GameOptions options, std::FILE *out)
    : bridge_(bridge), options_(std::move(options)), out_(out), pos_(chess::Position::start()),
      random_state_(options_.seed), thinking_(out) {
    device_cs_ = own_cs_ = static_cast<long long>(options_.base_minutes) * 6000;
}

void GameDriver::fail(const std::string &problem) {
    if (outcome_.problem.empty())
        outcome_.problem = problem;
    outcome_.sound = false;
    thinking_.flush();
    std::fprintf(out_, "!! %s\n", problem.c_str());
}

void GameDriver::show(const BridgeLine &line, const std::string &raw) {
    if (line.kind == BridgeLine::THINKING) {
        if (auto thought = parse_thinking(raw)) {
            thinking_.add(*thought);
            return;
        }
    }
    if (line.kind == BridgeLine::WHISPER) {
        thinking_.note("       whisper: " + line.text);
        std::fflush(out_);
        return;
    }
    thinking_.flush();
    switch (line.kind) {
    case BridgeLine::THINKING: std::fprintf(out_, "       thinking %s\n", raw.c_str()); break;
    case BridgeLine::SAY: std::fprintf(out_, "       says: %s\n", line.text.c_str()); break;
    default:
        if (options_.show_raw || line.kind != BridgeLine::OTHER || !raw.empty())
            std::fprintf(out_, "       bridge: %s\n", raw.c_str());
    }
    std::fflush(out_);
}

std::string GameDriver::move_label(bool device, const chess::Move &move) const {
    char buffer[96];
    bool white = pos_.side() == chess::WHITE;
    std::string number = std::to_string(pos_.fullmove_number()) + (white ? "." : "...");
    std::snprintf(buffer, sizeof buffer, "%7s %-8s %s (%s)", number.c_str(), san(pos_, move).c_str(),
                  device ? "the device" : "the driver", chess::to_coordinate(move).c_str());
    return buffer;
}

// The board after a move, its squares in brackets, the latest moves beside.
void GameDriver::show_board(const chess::Move &last) {
    thinking_.flush();
    std::vector<std::string> beside = {"moves"};
    for (const std::string &row : record_.recent(8))
        beside.push_back(row);
    std::fprintf(out_, "\n");
    for (const std::string &row : board_rows(pos_, last.from, last.to, beside))
        std::fprintf(out_, "%s\n", row.c_str());
    std::fprintf(out_, "\n");
    std::fflush(out_);
}

void GameDriver::show_move_list() {
    std::fprintf(out_, "Moves:\n");
    for (const std::string &line : record_.wrapped(72))
        std::fprintf(out_, "  %s\n", line.c_str());
}

// Shows the bridge's answer to "new" before the game goes on, so that what
// the device says about its new game comes before the first move.
bool GameDriver::wait_new_game() {
    long long deadline = now_ms() + 5000;
    while (now_ms() < deadline) {
        auto raw = bridge_.read_line(static_cast<int>(deadline - now_ms()));
        if (!raw)
            return false;
        BridgeLine line = classify(*raw);
        show(line, *raw);
        if (line.kind == BridgeLine::WHISPER && starts_with(line.text, "New Game"))
            return true;
    }
    return false;
}

void GameDriver::send_clocks() {
    bridge_.send("time " + std::to_string(device_cs_ < 0 ? 0 : device_cs_));
    bridge_.send("otim " + std::to_string(own_cs_ < 0 ? 0 : own_cs_));
}

void GameDriver::finish(const std::string &result, const std::string &reason) {
    if (outcome_.finished)
        return;
    outcome_.finished = true;
    outcome_.result = result;
    outcome_.reason = reason;
    thinking_.flush();
    std::fprintf(out_, "Result: %s {%s}\n", result.c_str(), reason.c_str());
    std::fflush(out_);
}

bool GameDriver::check_claim(const BridgeLine &line) {
    chess::GameState state = pos_.state();
    bool true_claim;
    if (line.text == "1/2-1/2") {
        if (line.reason.find("repetition") != std::string::npos)
            true_claim = state == chess::GameState::REPETITION;
        else if (line.reason.find("50") != std::string::npos)
            true_claim = state == chess::GameState::FIFTY_MOVES;
        else if (line.reason.find("insufficient") != std::string::npos)
            true_claim = state == chess::GameState::INSUFFICIENT;
        else
            true_claim = state == chess::GameState::STALEMATE;
    } else {
        // "1-0": Black is mated and to move; "0-1" the other way round.
        chess::Color loser = line.text == "1-0" ? chess::BLACK : chess::WHITE;
        true_claim = state == chess::GameState::CHECKMATE && pos_.side() == loser;
    }
    thinking_.flush();
    if (!true_claim)
        fail("the bridge reported " + line.text + " {" + line.reason + "}, which the board does not show");
    finish(line.text, line.reason);
    return true_claim;
}

bool GameDriver::handshake() {
    long long deadline = now_ms() + 20000;
    while (now_ms() < deadline) {
        auto line = bridge_.read_line(static_cast<int>(deadline - now_ms()));
        if (!line)
            break;
        if (*line == "Pawnbridge")
            return true;
        show(classify(*line), *line);
    }
    fail("the bridge did not announce itself");
    return false;
}

chess::Move GameDriver::choose_move() {
    while (opening_index_ < options_.opening.size()) {
        auto m = pos_.parse_coordinate(options_.opening[opening_index_++]);
        if (m)
            return *m;
    }
    auto next = [this] {
        random_state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = random_state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    chess::MoveList legal;
    pos_.generate_legal(legal);
    if (options_.random_percent > 0 && static_cast<int>(next() % 100) < options_.random_percent)
        return legal[static_cast<int>(next() % static_cast<std::uint64_t>(legal.size))];
    static chess::Searcher searcher(16);
    chess::SearchLimits limits;
    limits.max_depth = options_.depth;
    chess::Position scratch = pos_;
    return searcher.run(scratch, limits, nullptr).best;
}

bool GameDriver::wait_device_move() {
    long long asked = now_ms();
    for (;;) {
        auto raw = bridge_.read_line(options_.reply_timeout_ms);
        if (!raw) {
            fail(bridge_.output_ended() ? "the bridge ended in the middle of the game"
                                        : "no move from the device in time");
            return false;
        }
        BridgeLine line = classify(*raw);
        switch (line.kind) {
        case BridgeLine::ILLEGAL:
            fail("the bridge refused the driver's move " + line.text);
            return false;
        case BridgeLine::RESIGN:
            show(line, *raw);
            device_resigned_ = true;
            finish(options_.device_white ? "0-1" : "1-0",
                   options_.device_white ? "White resigns" : "Black resigns");
            continue;  // the device's move may still follow
        case BridgeLine::RESULT:
            check_claim(line);
            return true;
        case BridgeLine::DEVICE_MOVE:
            break;
        default:
            show(line, *raw);
            if (device_resigned_ && line.kind == BridgeLine::OTHER)
                return true;
            continue;
        }

        auto move = pos_.parse_coordinate(line.text);
        if (!move) {
            fail("the device played " + line.text + ", which is not legal in " + pos_.fen());
            return false;
        }
        device_cs_ -= (now_ms() - asked) / 10;
        thinking_.flush();
        std::fprintf(out_, "%s\n", move_label(true, *move).c_str());
        record_.add(pos_, *move);
        pos_.make(*move);
        ++outcome_.device_moves;
        show_board(*move);
        last_device_move_shown_ = now_ms();
        if (device_resigned_)
            return true;
        // A report that follows the move comes in the same burst.
        while (auto more = bridge_.read_line(TRAILING_MS)) {
            BridgeLine next = classify(*more);
            if (next.kind == BridgeLine::RESULT)
                check_claim(next);
            else if (next.kind == BridgeLine::DEVICE_MOVE)
                fail("a second device move came: " + *more);
            else
                show(next, *more);
        }
        if (!outcome_.finished) {
            chess::GameState state = pos_.state();
            if (state == chess::GameState::CHECKMATE)
                finish(pos_.side() == chess::WHITE ? "0-1" : "1-0",
                       pos_.side() == chess::WHITE ? "Black mates" : "White mates");
            else if (state != chess::GameState::ONGOING)
                finish("1/2-1/2", std::string(state_reason(state)) + ", seen by the driver");
        }
        return true;
    }
}

bool GameDriver::make_own_move() {
    // Time to look at the board; neither side's clock runs meanwhile.
    pause_until(last_device_move_shown_ + options_.pace_ms);
    long long started = now_ms();
    chess::Move m = choose_move();
    own_cs_ -= (now_ms() - started) / 10;
    std::string text = chess::to_coordinate(m);
    std::fprintf(out_, "%s\n", move_label(false, m).c_str());
    std::fflush(out_);
    bridge_.interrupt();
    send_clocks();
    bridge_.send(text);
    record_.add(pos_, m);
    pos_.make(m);
    if (pos_.state() == chess::GameState::ONGOING)
        return true;
    show_board(m);
    // The move ends the game: the device reports that instead of answering.
    for (;;) {
        auto raw = bridge_.read_line(10000);
        if (!raw) {
            fail("the device did not report the end of the game");
            return false;
        }
        BridgeLine line = classify(*raw);
        if (line.kind == BridgeLine::RESULT) {
            check_claim(line);
            return false;
        }
        if (line.kind == BridgeLine::DEVICE_MOVE || line.kind == BridgeLine::ILLEGAL) {
            fail("after the game ended the bridge said: " + *raw);
            return false;
        }
        show(line, *raw);
    }
}

GameOutcome GameDriver::play() {
    std::fprintf(out_, "=== The device plays %s, the driver %s ===\n", options_.device_white ? "White" : "Black",
                 options_.device_white ? "Black" : "White");
    if (!handshake())
        return outcome_;
    for (const char *line : {"xboard", "new", "random"})
        bridge_.send(line);
    bridge_.send("level 0 " + std::to_string(options_.base_minutes) + " 0");
    for (const char *line : {"post", "hard", "easy", "force"})
        bridge_.send(line);
    wait_new_game();

    if (options_.device_white) {
        bridge_.send("computer");
        bridge_.send("black");
        send_clocks();
        bridge_.send("white");
        bridge_.send("go");
    } else {
        chess::Move m = choose_move();
        std::string text = chess::to_coordinate(m);
        std::fprintf(out_, "%s\n", move_label(false, m).c_str());
        send_clocks();
        bridge_.send(text);
        record_.add(pos_, m);
        pos_.make(m);
        bridge_.send("black");
        bridge_.send("go");
    }

    while (!outcome_.finished && outcome_.sound) {
        if (!wait_device_move() || outcome_.finished)
            break;
        if (pos_.fullmove_number() > options_.max_moves) {
            fail("no result after " + std::to_string(options_.max_moves) + " moves");
            break;
        }
        if (!make_own_move())
            break;
    }
    outcome_.full_moves = pos_.fullmove_number() - (pos_.side() == chess::WHITE ? 1 : 0);

    if (outcome_.finished)
        bridge_.send("result " + outcome_.result + " {" + outcome_.reason + "}");
    bridge_.send("force");
    bridge_.send("quit");
    // Show what the bridge still has to say, up to its end.
    while (auto raw = bridge_.read_line(3000)) {
        BridgeLine line = classify(*raw);
        if (line.kind == BridgeLine::DEVICE_MOVE && !device_resigned_)
            fail("a device move after the end of the game: " + *raw);
        show(line, *raw);
    }
    thinking_.flush();
    show_move_list();
    std::fflush(out_);
    return outcome_;
}

namespace {

// The lines of a test file that the bridge echoes or acts on, in order.
struct SuiteEntry {
    enum Kind { TITLE, SETBOARD, SOLUTION } kind;
    std::string text;  // the title, the FEN after "setboard ", the whole solution line
};

std::vector<SuiteEntry> read_suite_file(const std::string &file) {
    std::vector<SuiteEntry> entries;
    std::FILE *in = std::fopen(file.c_str(), "rb");
    if (in == nullptr)
        return entries;
    std::string line;
    auto take = [&] {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (starts_with(line, "title"))
            entries.push_back({SuiteEntry::TITLE, line.size() >= 6 ? line.substr(6) : ""});
        else if (starts_with(line, "setboard "))
            entries.push_back({SuiteEntry::SETBOARD, line.substr(9)});
        else if (starts_with(line, "solution"))
            entries.push_back({SuiteEntry::SOLUTION, line});
        line.clear();
    };
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c == '\n')
            take();
        else
            line += static_cast<char>(c);
    }
    take();
    std::fclose(in);
    return entries;
}

// Turns the bridge's output during a test run into what a person follows:
// each problem's title, its position, the device's thinking and the verdict.
class SuiteView {
public:
    SuiteView(std::vector<SuiteEntry> entries, int seconds, std::FILE *out, int pace_ms)
        : entries_(std::move(entries)), seconds_(seconds), out_(out), pace_ms_(pace_ms), thinking_(out) {}

    void line(const std::string &raw) {
        if (raw.empty())
            return;  // the line ends the bridge keeps after titles and solutions
        if (starts_with(raw, "tellics whisper ")) {
            say("       whisper: " + raw.substr(16));
        } else if (starts_with(raw, "Test complete: ")) {
            say("\n" + raw);
        } else if (raw == "Solved!" || raw == "Failed!") {
            verdict(raw);
        } else if (raw == "Illegal forsythe position!") {
            say("   the device was not given this position: " + raw);
        } else if (auto thought = parse_device_analysis(raw)) {
            thinking_.add(*thought);
        } else if (starts_with(raw, "solution") && find(SuiteEntry::SOLUTION, raw)) {
            position(raw);
        } else if (find(SuiteEntry::TITLE, raw)) {
            title(raw);
        } else if (char move[16]; std::sscanf(raw.c_str(), "M %*d, %15s", move) == 1) {
            say(std::string("   the device plays ") + move);
        } else {
            say("       bridge: " + raw);
        }
        std::fflush(out_);
    }

    void finish() { thinking_.flush(); }

private:
    void say(const std::string &text) {
        thinking_.flush();
        std::fprintf(out_, "%s\n", text.c_str());
    }

    // Finds the next entry of the kind with this text and moves past it,
    // taking note of the positions passed on the way. False, and nothing
    // moves, when there is none.
    bool find(SuiteEntry::Kind kind, const std::string &text) {
        for (std::size_t i = next_; i < entries_.size(); ++i) {
            if (entries_[i].kind != kind || entries_[i].text != text)
                continue;
            for (std::size_t j = next_; j < i; ++j)
                if (entries_[j].kind == SuiteEntry::SETBOARD)
                    fen_ = entries_[j].text;
            next_ = i + 1;
            return true;
        }
        return false;
    }

    void title(const std::string &text) {
        thinking_.flush();
        if (shown_at_ > 0)
            pause_until(shown_at_ + pace_ms_);
        shown_at_ = now_ms();
        std::fprintf(out_, "\nProblem %d: %s\n", ++problems_, text.c_str());
    }

    void position(const std::string &solution_line) {
        thinking_.flush();
        thinking_.forget();
        std::string solutions = solution_line.substr(8);
        solutions.erase(0, solutions.find_first_not_of(" \t"));
        auto pos = chess::Position::from_fen(fen_);
        if (pos) {
            for (const std::string &row : board_rows(*pos, -1, -1))
                std::fprintf(out_, "%s\n", row.c_str());
            std::fprintf(out_, "   %s to move; solution %s; FEN %s\n",
                         pos->side() == chess::WHITE ? "White" : "Black", solutions.c_str(), fen_.c_str());
        } else {
            std::fprintf(out_, "   position %s; solution %s\n", fen_.empty() ? "(as the device has it)" : fen_.c_str(),
                         solutions.c_str());
        }
        std::fprintf(out_, "   the device thinks (depth, score, its time, positions, its line):\n");
    }

    void verdict(const std::string &word) {
        thinking_.flush();
        const auto &last = thinking_.last();
        char buffer[200];
        if (last && !last->book) {
            std::string first = last->pv.substr(0, last->pv.find(' '));
            std::snprintf(buffer, sizeof buffer, "   %s after %llds of the device's time (limit %ds): %s at depth %d",
                          word.c_str(), last->seconds, seconds_, first.empty() ? "no move" : first.c_str(),
                          last->ply);
        } else {
            std::snprintf(buffer, sizeof buffer, "   %s", word.c_str());
        }
        say(buffer);
    }

    std::vector<SuiteEntry> entries_;
    std::size_t next_ = 0;
    std::string fen_;
    int seconds_;
    std::FILE *out_;
    int pace_ms_;
    ThinkingView thinking_;
    int problems_ = 0;
    long long shown_at_ = 0;
};

}  // namespace

SuiteOutcome run_suite(EngineProcess &bridge, const std::string &file, int seconds, std::FILE *out,
                       int timeout_ms, int pace_ms) {
    SuiteOutcome outcome;
    std::fprintf(out, "=== Test suite %s, %d seconds a problem ===\n", file.c_str(), seconds);
    long long deadline = now_ms() + timeout_ms;
    bool announced = false;
    while (!announced && now_ms() < deadline) {
        auto line = bridge.read_line(static_cast<int>(deadline - now_ms()));
        if (!line)
            break;
        announced = *line == "Pawnbridge";
    }
    if (!announced) {
        std::fprintf(out, "!! the bridge did not announce itself\n");
        return outcome;
    }
    bridge.send("xboard");
    bridge.send("new");
    bridge.send("test " + file + " " + std::to_string(seconds));
    // The bridge reads nothing more until the run is over.
    bridge.send("quit");
    SuiteView view(read_suite_file(file), seconds, out, pace_ms);
    while (now_ms() < deadline) {
        auto line = bridge.read_line(static_cast<int>(deadline - now_ms()));
        if (!line)
            break;
        view.line(*line);
        int solved = 0, total = 0, limit = 0;
        if (std::sscanf(line->c_str(), "Test complete: %d out of %d problems solved within %d seconds", &solved,
                        &total, &limit) == 3) {
            outcome.completed = true;
            outcome.solved = solved;
            outcome.total = total;
        }
    }
    view.finish();
    if (!outcome.completed)
        std::fprintf(out, "!! the test run did not complete\n");
    return outcome;
}

}  // namespace driver
