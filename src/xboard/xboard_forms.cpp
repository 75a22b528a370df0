// What an xboard-protocol GUI is told, in the forms of the protocol's
// first version and of its second once the GUI says so.
#include <climits>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "xboard.h"
#include "xboard_parts.h"

namespace {

// The thinking line's area: a longer line is cut, never overrun.
constexpr std::size_t THINKING_LINE_SIZE = 128;
// The protocol-2 form of a mate: this plus the moves to mate, negated for
// a mate against the device.
constexpr long long MATE_IN_BASE = 100000;

// A pong carries the ping's text cut to this size.
constexpr std::size_t PING_TEXT_SIZE = 16;

// The text after "ping" and its blanks, as the GUI wrote it, cut to fit.
void ping_argument(const char *line, char *out, std::size_t size) {
    const char *at = line + 4;
    while (*at == ' ' || *at == '\t')
        ++at;
    std::size_t length = std::strlen(at);
    if (length > size - 1)
        length = size - 1;
    std::memcpy(out, at, length);
    out[length] = '\0';
}

void send_pong(const char *argument) {
    char answer[PING_TEXT_SIZE + 8] = "pong ";
    std::strcat(answer, argument);
    send_interface(answer);
}

void xboard_move(const char *move) {
    if (move == nullptr)
        return;
    char line[16];
    std::snprintf(line, sizeof line, "move %s", move);
    send_interface(line);
    // The GUI's clock runs until it has the move.
    std::fflush(stdout);
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
                                   : t.exact_centipawns;
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

// A GUI of this protocol shows only what asks the user to act.
void xboard_notice(const char *) {}

// The GUI still waits for a move that comes late.
const FrontEnd XBOARD_V1 = {xboard_move,    xboard_thinking_v1, xboard_book,       xboard_whisper,
                            xboard_say,     send_interface,     xboard_resign,     xboard_user_error,
                            xboard_turn_word, answer_ping,      xboard_notice,     true};
const FrontEnd XBOARD_V2 = {xboard_move,    xboard_thinking_v2, xboard_book,       xboard_whisper,
                            xboard_say,     send_interface,     xboard_resign,     xboard_user_error,
                            xboard_turn_word, answer_ping,      xboard_notice,     true};

}  // namespace

void answer_ping(const char *line) {
    char argument[PING_TEXT_SIZE];
    ping_argument(line, argument, sizeof argument);
    send_pong(argument);
}

void use_xboard_front_end(int version) { use_front_end(version >= 2 ? &XBOARD_V2 : &XBOARD_V1); }
