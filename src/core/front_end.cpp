// The session's front end: every form in which the GUI is told something,
// for the xboard protocol's two versions and for UCI, chosen once for the
// session.
#include "front_end.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pawnbridge.h"

namespace {

// The thinking line's area: a longer line is cut, never overrun.
constexpr std::size_t THINKING_LINE_SIZE = 128;
// UCI's info line carries the whole converted variation.
constexpr std::size_t INFO_LINE_SIZE = 512;
// The protocol-2 form of a mate: this plus the moves to mate, negated for
// a mate against the device.
constexpr long long MATE_IN_BASE = 100000;

bool starts_with(const char *line, const char *word) {
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

void flush_line() { std::fflush(stdout); }

// --------------------------------------------------------- xboard protocol

void xboard_move(const char *move) {
    if (move == nullptr)
        return;
    char line[16];
    std::snprintf(line, sizeof line, "move %s", move);
    send_interface(line);
    // The GUI's clock runs until it has the move.
    flush_line();
}

int as_int(long long value) {
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

void xboard_thinking_v1(const Thinking &t) {
    char line[THINKING_LINE_SIZE];
    std::snprintf(line, sizeof line, "%2d%c %5d %3lld %6lld  %s", t.depth, t.marker,
                  as_int(t.centipawns), t.seconds, t.nodes, t.pv);
    send_interface(line);
    std::fflush(nullptr);
}

long long saturating_times(long long value, long long factor) {
    return value > LLONG_MAX / factor ? LLONG_MAX : value < LLONG_MIN / factor ? LLONG_MIN : value * factor;
}

// The protocol's own form, which every client of its second version reads:
// the ply a bare number, the time in centiseconds, mates as mates.
void xboard_thinking_v2(const Thinking &t) {
    long long score = t.mate > 0   ? MATE_IN_BASE + t.mate
                      : t.mate < 0 ? -(MATE_IN_BASE - t.mate)
                                   : t.centipawns;
    char line[THINKING_LINE_SIZE];
    std::snprintf(line, sizeof line, "%d %lld %lld %lld%s%s", t.depth, score,
                  saturating_times(t.seconds, 100), t.nodes, *t.pv ? " " : "", t.pv);
    send_interface(line);
    std::fflush(nullptr);
}

void xboard_book() { send_interface("1 0 100 0 (Book)"); }

// An analysis for the GUI is no game: nothing goes to the chess server.
void xboard_whisper(const char *text, std::size_t length) {
    if (!analysing)
        std::printf("tellics whisper %.*s\n", static_cast<int>(length), text);
}

void xboard_say(const char *text) { std::printf("tellics say %s\n", text); }

void xboard_resign() {
    send_interface("resign");
    send_interface("tellics resign");
}

void xboard_user_error(const char *text) {
    char line[LINE_BUFFER_SIZE + 32];
    std::snprintf(line, sizeof line, "tellusererror %s", text);
    send_interface(line);
}

TurnWord xboard_turn_word(const char *line) {
    if (line[0] == '?')
        return TURN_MOVE_NOW;
    if (starts_with(line, "force"))
        return TURN_FORCE;
    if (starts_with(line, "ping"))
        return TURN_PING;
    if (starts_with(line, "quit"))
        return TURN_QUIT;
    return TURN_IGNORE;
}

// -------------------------------------------------------------------- UCI

void uci_info_string(const char *text, std::size_t length) {
    char line[LINE_BUFFER_SIZE + 16];
    std::snprintf(line, sizeof line, "info string %.*s", static_cast<int>(length), text);
    send_interface(line);
}

void uci_text(const char *text) { uci_info_string(text, std::strlen(text)); }

void uci_whisper(const char *text, std::size_t length) {
    if (!analysing)
        uci_info_string(text, length);
}

void uci_best_move(const char *move) {
    char line[24];
    // A GUI waits for bestmove whatever happened: "0000" when there is none.
    std::snprintf(line, sizeof line, "bestmove %s", move ? move : "0000");
    send_interface(line);
    flush_line();
}

// The device's variation in UCI's moves, up to the first word that is none.
void uci_variation(const char *pv, char *out, std::size_t size) {
    std::size_t used = 0;
    out[0] = '\0';
    for (const char *at = pv;;) {
        while (*at == ' ' || *at == '\t')
            ++at;
        char move[6];
        int taken = uci_move(at, move);
        std::size_t length = std::strlen(move);
        if (taken == 0 || used + length + 2 > size)
            return;
        out[used++] = ' ';
        std::memcpy(out + used, move, length + 1);
        used += length;
        at += taken;
    }
}

// The device's pawns to the nearest centipawn: its 0.13 is a float just
// below 0.13, which truncation would show as 12.
long long nearest_centipawns(float pawns) {
    double cp = static_cast<double>(pawns) * 100.0;
    if (std::isnan(cp))
        return 0;
    if (cp >= 1e15 || cp <= -1e15)
        return cp > 0 ? 1000000000000000LL : -1000000000000000LL;
    return std::llround(cp);
}

void uci_thinking(const Thinking &t) {
    char score[40];
    if (t.mate != 0)
        std::snprintf(score, sizeof score, "mate %d", t.mate);
    else
        std::snprintf(score, sizeof score, "cp %lld", nearest_centipawns(t.pawns));
    char variation[INFO_LINE_SIZE / 2];
    uci_variation(t.pv, variation, sizeof variation);
    char line[INFO_LINE_SIZE];
    std::snprintf(line, sizeof line, "info depth %d score %s time %lld nodes %lld nps %lld%s%s", t.depth,
                  score, saturating_times(t.seconds, 1000), t.nodes, t.speed, variation[0] ? " pv" : "",
                  variation);
    send_interface(line);
    std::fflush(nullptr);
}

void uci_book() { uci_text("book"); }

void uci_resign() { uci_text("resign"); }

TurnWord uci_turn_word(const char *line) {
    if (is_first_word(line, "stop"))
        return TURN_MOVE_NOW;
    if (is_first_word(line, "isready"))
        return TURN_READY;
    if (is_first_word(line, "quit"))
        return TURN_QUIT;
    if (is_first_word(line, "ponderhit") || is_first_word(line, "setoption") || is_first_word(line, "debug") ||
        is_first_word(line, "register"))
        return TURN_IGNORE;
    // "position", "go", "ucinewgame": the search is over for the GUI; the
    // line is for the command loop once the device has moved.
    return TURN_LEAVE;
}

// An xboard GUI still waits for the move; a UCI GUI has had its bestmove.
const FrontEnd XBOARD_V1 = {xboard_move,    xboard_thinking_v1, xboard_book,       xboard_whisper,   xboard_say,
                            send_interface, xboard_resign,      xboard_user_error, xboard_turn_word, true};
const FrontEnd XBOARD_V2 = {xboard_move,    xboard_thinking_v2, xboard_book,       xboard_whisper,   xboard_say,
                            send_interface, xboard_resign,      xboard_user_error, xboard_turn_word, true};
const FrontEnd UCI = {uci_best_move, uci_thinking, uci_book, uci_whisper,   uci_text,
                      uci_text,      uci_resign,   uci_text, uci_turn_word, false};

}  // namespace

const FrontEnd *front_end = &XBOARD_V1;

void use_xboard_front_end(int version) { front_end = version >= 2 ? &XBOARD_V2 : &XBOARD_V1; }

void use_uci_front_end() { front_end = &UCI; }

int is_first_word(const char *line, const char *word) {
    std::size_t n = std::strlen(word);
    return std::strncmp(line, word, n) == 0 && (line[n] == '\0' || line[n] == ' ' || line[n] == '\t');
}

int uci_move(const char *device_move, char *out) {
    const char *m = device_move;
    auto file = [](char c) { return c >= 'a' && c <= 'h'; };
    auto rank = [](char c) { return c >= '1' && c <= '8'; };
    out[0] = '\0';
    if (!file(m[0]) || !rank(m[1]) || m[2] == '\0' || !file(m[3]) || !rank(m[4]))
        return 0;
    int length = 5;
    char promotion = '\0';
    if (m[5] == '/') {
        switch (m[6]) {
        case 'Q': case 'q': promotion = 'q'; break;
        case 'R': case 'r': promotion = 'r'; break;
        case 'B': case 'b': promotion = 'b'; break;
        case 'N': case 'n': promotion = 'n'; break;
        default: return 0;
        }
        length = 7;
    }
    char after = m[length];
    if (after != '\0' && after != ' ' && after != '\t')
        return 0;
    out[0] = m[0];
    out[1] = m[1];
    out[2] = m[3];
    out[3] = m[4];
    out[4] = promotion;
    out[5] = '\0';
    return length;
}
