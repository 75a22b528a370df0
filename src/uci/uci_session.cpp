// The UCI front end: a session whose GUI opens with "uci". UCI is stateless
// where the device is not: the GUI sends the whole game before every
// search, and the device is brought to it by the cheapest route from the
// game it holds. Between searches the device stays in force mode, so that
// nothing but "go" makes it think.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "front_end.h"
#include "pawnbridge.h"
#include "platform.h"

namespace {

// A GUI writes the whole game on one line: a game of the longest length the
// rules allow fits.
constexpr std::size_t UCI_LINE_SIZE = 65536;
constexpr int MAX_GAME_PLIES = 6000;
constexpr std::size_t FEN_SIZE = 128;
constexpr std::size_t MOVE_SIZE = 6;
// What "Move Overhead" may be set to, in ms.
constexpr long long MOVE_OVERHEAD_MAX_MS = 5000;

char uci_line[UCI_LINE_SIZE];

// The game the device holds: where it started and the moves since.
struct HeldGame {
    bool known;  // false: the next position starts afresh
    bool from_fen;
    char fen[FEN_SIZE];
    int start_side;   // 0 White, 1 Black to move at the start
    int start_plies;  // plies before the start, from the FEN's move number
    int count;
    char moves[MAX_GAME_PLIES][MOVE_SIZE];
};
HeldGame held;

// The clock of the last search with one, to tell a new time control.
struct LastClock {
    bool known;
    long long clock_ms, inc_ms, moves_to_go;
};
LastClock last_clock;


// The game a "position" line asks for; the moves point into the line.
struct WantedGame {
    bool from_fen;
    char fen[FEN_SIZE];
    char placement[FEN_SIZE];
    char side;
    int full_move;
    int count;
    const char *moves[MAX_GAME_PLIES];
    int lengths[MAX_GAME_PLIES];
};
WantedGame wanted;

// The start position with no moves.
void clear_wanted() {
    wanted.from_fen = false;
    wanted.fen[0] = '\0';
    wanted.placement[0] = '\0';
    wanted.side = 'w';
    wanted.full_move = 1;
    wanted.count = 0;
}

// The next blank-separated word at *at: its start and length; *at moves on.
const char *next_word(const char *&at, int &length) {
    while (*at == ' ' || *at == '\t')
        ++at;
    const char *start = at;
    while (*at != '\0' && *at != ' ' && *at != '\t')
        ++at;
    length = static_cast<int>(at - start);
    return start;
}

// Letters compared without their case, in ASCII whatever the locale.
int strncasecmp_ascii(const char *a, const char *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        x = x >= 'A' && x <= 'Z' ? x + 32 : x;
        y = y >= 'A' && y <= 'Z' ? y + 32 : y;
        if (x != y || x == 0)
            return x - y;
    }
    return 0;
}

bool word_is(const char *word, int length, const char *text) {
    return static_cast<std::size_t>(length) == std::strlen(text) && std::strncmp(word, text, length) == 0;
}

void tell(const char *format, const char *text, int length) {
    char line[LINE_BUFFER_SIZE];
    std::snprintf(line, sizeof line, format, length, text);
    front_end->user_error(line);
}

bool is_coordinate_move(const char *word, int length) {
    auto file = [](char c) { return c >= 'a' && c <= 'h'; };
    auto rank = [](char c) { return c >= '1' && c <= '8'; };
    if (length != 4 && length != 5)
        return false;
    if (!file(word[0]) || !rank(word[1]) || !file(word[2]) || !rank(word[3]))
        return false;
    return length == 4 || std::strchr("qrbn", word[4]) != nullptr;
}

// Reads "position startpos|fen FEN [moves ...]" into wanted. False, with
// the GUI told why, when it names no game the device can be given.
bool read_position(const char *line) {
    const char *at = line + 8;  // after "position"
    int length = 0;
    const char *word = next_word(at, length);
    clear_wanted();
    if (word_is(word, length, "startpos")) {
        wanted.from_fen = false;
    } else if (word_is(word, length, "fen")) {
        wanted.from_fen = true;
        std::size_t used = 0;
        int fields = 0;
        for (int field = 0; field < 6; ++field, ++fields) {
            const char *before = at;
            word = next_word(at, length);
            if (length == 0 || word_is(word, length, "moves")) {
                at = before;
                break;
            }
            if (used + static_cast<std::size_t>(length) + 1 >= FEN_SIZE) {
                tell("Pawnbridge: the position is too long for the chess computer: %.*s", word, length);
                return false;
            }
            std::memcpy(wanted.fen + used, word, static_cast<std::size_t>(length));
            used += static_cast<std::size_t>(length);
            wanted.fen[used++] = ' ';
            if (field == 0) {
                std::memcpy(wanted.placement, word, static_cast<std::size_t>(length));
                wanted.placement[length] = '\0';
            } else if (field == 1) {
                wanted.side = length == 1 ? word[0] : '?';
            } else if (field == 5) {
                wanted.full_move = std::atoi(word);
            }
        }
        wanted.fen[used > 0 ? used - 1 : 0] = '\0';
        // Without a side to move the device would be told White to move
        // for a position the GUI may mean for Black.
        if (fields < 2 || (wanted.side != 'w' && wanted.side != 'b')) {
            tell("Pawnbridge: the chess computer cannot take the position %.*s", wanted.fen,
                 static_cast<int>(std::strlen(wanted.fen)));
            return false;
        }
        if (wanted.full_move < 1 || wanted.full_move > 100000)
            wanted.full_move = 1;
    } else {
        tell("Pawnbridge: no position in: %.*s", line, static_cast<int>(std::strlen(line)));
        return false;
    }
    word = next_word(at, length);
    if (length == 0)
        return true;
    if (!word_is(word, length, "moves")) {
        tell("Pawnbridge: not a list of moves: %.*s", word, length);
        return false;
    }
    for (;;) {
        word = next_word(at, length);
        if (length == 0)
            return true;
        if (!is_coordinate_move(word, length)) {
            tell("Pawnbridge: not a move: %.*s", word, length);
            return false;
        }
        if (wanted.count == MAX_GAME_PLIES) {
            tell("Pawnbridge: a game longer than the chess computer can follow, at %.*s", word, length);
            return false;
        }
        wanted.moves[wanted.count] = word;
        wanted.lengths[wanted.count] = length;
        ++wanted.count;
    }
}

bool same_start() {
    if (!held.known || held.from_fen != wanted.from_fen)
        return false;
    return !wanted.from_fen || std::strcmp(held.fen, wanted.fen) == 0;
}

int common_moves() {
    int n = held.count < wanted.count ? held.count : wanted.count;
    int k = 0;
    while (k < n && word_is(wanted.moves[k], wanted.lengths[k], held.moves[k]))
        ++k;
    return k;
}

void follow_side() {
    side_flag = (held.start_side + held.count) & 1;
    game_plies = held.start_plies + held.count;
}

// Gives the device the wanted start: a new game or the position command.
bool start_afresh() {
    held.known = false;
    // The new start replaces whatever the device was still to move in.
    move_owed = 0;
    held.count = 0;
    if (wanted.from_fen) {
        if (!load_position(wanted.placement, wanted.side)) {
            tell("Pawnbridge: the chess computer cannot take the position %.*s", wanted.fen,
                 static_cast<int>(std::strlen(wanted.fen)));
            return false;
        }
        in_book = 0;
    } else {
        new_device_game();
        in_book = 1;
    }
    held.from_fen = wanted.from_fen;
    std::snprintf(held.fen, sizeof held.fen, "%s", wanted.fen);
    held.start_side = wanted.from_fen && wanted.side == 'b' ? 1 : 0;
    held.start_plies = 2 * (wanted.full_move - 1) + held.start_side;
    held.known = true;
    return true;
}

// Plays the wanted moves from the held game's end on.
void play_moves_from(int first) {
    for (int i = first; i < wanted.count; ++i) {
        char move[MOVE_SIZE];
        std::snprintf(move, sizeof move, "%.*s", wanted.lengths[i], wanted.moves[i]);
        if (!send_move(move) && end_code == 0) {
            // Refused: where the device stands is no longer known for sure.
            tell("Pawnbridge: the chess computer refused the move %.*s", move, static_cast<int>(std::strlen(move)));
            held.known = false;
            return;
        }
        std::memcpy(held.moves[held.count++], move, MOVE_SIZE);
        follow_side();
        // The move ended the game: the GUI hears it, and the move stands.
        report_result(last_mover(), own_time, opp_time);
    }
}

void handle_position(const char *line) {
    if (!read_position(line)) {
        held.known = false;
        return;
    }
    enter_force_mode();
    int keep = same_start() ? common_moves() : -1;
    // Back to the common part and on with the new moves, or a new start
    // and every move, whichever takes the device fewer commands.
    if (keep < 0 || (held.count - keep) + (wanted.count - keep) > 1 + wanted.count) {
        if (!start_afresh())
            return;
        keep = 0;
    }
    while (held.count > keep) {
        take_back();
        --held.count;
    }
    follow_side();
    play_moves_from(keep);
}

void handle_new_game() {
    enter_force_mode();
    // A new game may come with another time control: its level is chosen
    // afresh.
    last_clock.known = false;
    clear_wanted();
    start_afresh();
    follow_side();
    last_score = 0.0f;
}

long long clamp_ms(long long value) { return value < 0 ? 0 : value > 1000000000LL ? 1000000000LL : value; }

// What a "go" line asks for; -1 where it says nothing.
struct GoLine {
    long long clock_ms[2];  // White's and Black's
    long long inc_ms[2];
    long long moves_to_go;
    long long move_time_ms;
    long long depth;
    bool infinite;
};

GoLine read_go(const char *line) {
    GoLine go{{-1, -1}, {0, 0}, 0, -1, -1, false};
    const char *at = line + 2;
    for (;;) {
        int length = 0;
        const char *word = next_word(at, length);
        if (length == 0)
            break;
        long long *target = nullptr;
        if (word_is(word, length, "wtime"))
            target = &go.clock_ms[0];
        else if (word_is(word, length, "btime"))
            target = &go.clock_ms[1];
        else if (word_is(word, length, "winc"))
            target = &go.inc_ms[0];
        else if (word_is(word, length, "binc"))
            target = &go.inc_ms[1];
        else if (word_is(word, length, "movestogo"))
            target = &go.moves_to_go;
        else if (word_is(word, length, "movetime"))
            target = &go.move_time_ms;
        else if (word_is(word, length, "depth"))
            target = &go.depth;
        else if (word_is(word, length, "infinite"))
            go.infinite = true;
        if (target != nullptr) {
            const char *before = at;
            const char *number = next_word(at, length);
            char *end = nullptr;
            long long value = std::strtoll(number, &end, 10);
            if (end == number + length && length > 0)
                *target = clamp_ms(value);
            else
                at = before;  // no number: the word after is read as a word
        }
    }
    return go;
}

// A clock that grew by more than the increment, another increment or more
// moves to go: a new time control, whose level is chosen afresh rather than
// held over from the last one.
bool new_time_control(long long clock, long long inc, long long moves) {
    if (!last_clock.known)
        return true;
    return clock > last_clock.clock_ms + last_clock.inc_ms || inc != last_clock.inc_ms ||
           moves > last_clock.moves_to_go;
}

// Sends the level the search asks for, and gives the clock to the game;
// returns the move's limit (-1: none).
long long choose_search_level(const GoLine &go, int side) {
    long long moves = go.moves_to_go > 100000 ? 100000 : go.moves_to_go;
    clock_ms = go.clock_ms[side];
    increment_ms = go.clock_ms[side] >= 0 ? go.inc_ms[side] : 0;
    move_time_ms = go.move_time_ms;
    ClockReading reading{clock_ms, increment_ms, static_cast<int>(moves), move_time_ms, move_overhead_ms};
    long long limit = go.infinite ? -1 : move_limit_ms(reading);
    if (go.infinite) {
        choose_analysis_level();
    } else if (go.move_time_ms >= 0) {
        choose_move_time_level(static_cast<int>(go.move_time_ms / 1000), limit);
    } else if (go.depth >= 0) {
        choose_depth_level(static_cast<int>(go.depth));
    } else if (go.clock_ms[side] >= 0) {
        // As the xboard protocol's clock reports: the same rules, the same
        // levels.
        own_time = static_cast<int>(go.clock_ms[side] / 1000);
        if (go.clock_ms[!side] >= 0)
            opp_time = static_cast<int>(go.clock_ms[!side] / 1000);
        increment = static_cast<int>(go.inc_ms[side] / 1000);
        bool fresh = new_time_control(go.clock_ms[side], go.inc_ms[side], moves);
        last_clock = {true, go.clock_ms[side], go.inc_ms[side], moves};
        if (fresh || !(level_kind == 2 && own_time >= 15)) {
            int hurry = last_score > 5.0f && static_cast<long long>(opp_rating) < own_rating - 200LL;
            choose_level_within(static_cast<int>(moves), own_time, increment, hurry, limit);
        }
        // The device's whole remaining time bounds each read, as the
        // xboard protocol's clock report does.
        set_read_timeout(go.clock_ms[side] < 1000 ? 1000 : static_cast<int>(go.clock_ms[side]));
    }
    return limit;
}

void handle_go(const char *line) {
    GoLine go = read_go(line);
    if (!held.known) {
        // The last position did not reach the device: a search now would
        // answer for some other position.
        front_end->user_error("Pawnbridge: no position to search: the last one did not reach the chess computer");
        front_end->device_move(nullptr);
        return;
    }
    long long limit = choose_search_level(go, side_flag);

    set_force_mode(0);
    force_mode = 0;
    move_now();
    analysing = go.infinite;
    bool moved = device_turn(limit);
    analysing = 0;
    if (quit_requested)
        return;
    if (moved && !go.infinite) {
        // The device's game goes on with its move, as the GUI's will.
        if (held.known && held.count < MAX_GAME_PLIES)
            std::memcpy(held.moves[held.count++], reply_line, MOVE_SIZE);
        else
            held.known = false;
    }
    enter_force_mode();
    if (moved && go.infinite) {
        // An analysis: the move is the GUI's answer, not a move of the
        // game; it leaves the device's game at once.
        take_back();
        follow_side();
    }
}

// "setoption name Move Overhead value N": the GUI's side of the reserve
// kept on every move. Option names are not case-sensitive; an option the
// bridge does not have is only logged.
void handle_setoption(const char *line) {
    const char *at = line + 9;  // after "setoption"
    int length = 0;
    const char *word = next_word(at, length);
    if (!word_is(word, length, "name"))
        return;
    const char *name = next_word(at, length);
    const char *name_end = name + length;
    const char *value = nullptr;
    for (;;) {
        const char *before = at;
        word = next_word(at, length);
        if (length == 0)
            break;
        if (word_is(word, length, "value")) {
            value = at;
            at = before;
            break;
        }
        name_end = word + length;
    }
    static const char OVERHEAD[] = "Move Overhead";
    std::size_t name_length = static_cast<std::size_t>(name_end - name);
    if (name_length != sizeof OVERHEAD - 1 || strncasecmp_ascii(name, OVERHEAD, name_length) != 0 ||
        value == nullptr)
        return;
    char *end = nullptr;
    long long ms = std::strtoll(value, &end, 10);
    if (end == value)
        return;
    move_overhead_ms = ms < 0 ? 0 : ms > MOVE_OVERHEAD_MAX_MS ? MOVE_OVERHEAD_MAX_MS : ms;
}

void handle_uci() {
    send_interface("id name Pawnbridge");
    send_interface("id author the Pawnbridge developers");
    send_interface("option name Move Overhead type spin default 100 min 0 max 5000");
    send_interface("uciok");
    std::fflush(stdout);
}

void dispatch_uci_line(const char *line) {
    line_arrived_at = plat_monotonic_ms();
    note_interface_line();
    if (!log_is_open())
        open_log(0);
    log_text("==> ");
    log_text(line);
    log_text("\r\n");
    while (*line == ' ' || *line == '\t')
        ++line;
    if (is_first_word(line, "isready"))
        send_interface("readyok");
    else if (is_first_word(line, "position"))
        handle_position(line);
    else if (is_first_word(line, "go"))
        handle_go(line);
    else if (is_first_word(line, "ucinewgame"))
        handle_new_game();
    else if (is_first_word(line, "quit"))
        quit_requested = 1;
    else if (is_first_word(line, "uci"))
        handle_uci();
    else if (is_first_word(line, "setoption"))
        handle_setoption(line);
    // "stop" with nothing to stop, "debug", "register", "ponderhit" and
    // anything else: logged, nothing more.
}

}  // namespace

int is_uci_opening(const char *line) {
    while (*line == ' ' || *line == '\t')
        ++line;
    return is_first_word(line, "uci");
}

void run_uci_session(const char *first_line) {
    use_uci_front_end();
    dispatch_uci_line(first_line);
    // The device shows its thinking, which UCI's info lines carry, and
    // waits in force mode for the first search.
    set_post_mode(3);
    enter_force_mode();
    held.known = false;
    held.count = 0;
    last_clock.known = false;
    while (!quit_requested) {
        std::fflush(stdout);
        wait_for_interface();
        if (!plat_stdin_read_line(uci_line, sizeof uci_line))
            break;
        dispatch_uci_line(uci_line);
    }
}
