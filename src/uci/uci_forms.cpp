// What a UCI GUI is told: info lines while the device thinks, bestmove for
// its move, and info strings for everything UCI has no form of its own for.
#include <climits>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "translate.h"
#include "uci.h"
#include "uci_parts.h"

namespace {

// UCI's info line carries the whole converted variation.
constexpr std::size_t INFO_LINE_SIZE = 512;

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
    std::fflush(stdout);
}

long long saturating_times(long long value, long long factor) {
    return value > LLONG_MAX / factor ? LLONG_MAX : value < LLONG_MIN / factor ? LLONG_MIN : value * factor;
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

void uci_thinking(const Thinking &t) {
    char score[40];
    if (t.mate != 0)
        std::snprintf(score, sizeof score, "mate %d", t.mate);
    else
        std::snprintf(score, sizeof score, "cp %lld", t.exact_centipawns);
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

// UCI has no ping of its own: isready is answered at once.
void uci_answer_ping(const char *) {}

// A UCI GUI has had its bestmove: a move that comes late leaves the
// device's game again.
const FrontEnd UCI = {uci_best_move, uci_thinking, uci_book,      uci_whisper,     uci_text, uci_text,
                      uci_resign,    uci_text,     uci_turn_word, uci_answer_ping, uci_text, false};

}  // namespace

void use_uci_front_end() { use_front_end(&UCI); }

void tell(const char *format, const char *text, int length) {
    char line[LINE_BUFFER_SIZE];
    std::snprintf(line, sizeof line, format, length, text);
    front_end->user_error(line);
}
