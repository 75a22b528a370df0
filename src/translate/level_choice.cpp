// The device's playing level, chosen from the interface's time control or
// from the clock that remains, and sent only when it changes.
#include <algorithm>

#include "device.h"
#include "translate.h"

namespace {

int sent_kind = 0;
int sent_number = 0;

}  // namespace

const int &level_kind = sent_kind;
const int &level_number = sent_number;

namespace {

// Level kinds, as indexes into the device's level commands.
constexpr int KIND_TOURNAMENT = 0;  // "L TR": moves per time control
constexpr int KIND_AVERAGE = 1;     // "L AT": average time per move
constexpr int KIND_SUDDEN = 2;      // "L SD": sudden death on the whole game
constexpr int KIND_FAST = 3;        // "L FD": fixed depth; depth 3 is the fastest play used
constexpr int KIND_ANALYSIS = 4;    // "L AN": searches until told to move

struct Band {
    int from, to, number;
};

// Whole-game times without increment that match one of the device's
// sudden-death levels (3, 5, 10, 15, 30 and 60 minutes, with a little slack).
constexpr Band SUDDEN_BANDS[] = {
    {180, 199, 1}, {300, 319, 2}, {600, 619, 3}, {900, 919, 4}, {1800, 1819, 5}, {3600, 3619, 6},
};

// Lowest per-move estimate, in seconds, for each average-time level 2 to 8.
constexpr long long AVERAGE_FLOORS[] = {4, 8, 13, 21, 45, 90, 150};

// What the bridge assumes of each level's pace, the time a move takes:
// - TR n: 40 moves in 5 n minutes, 7.5 n seconds a move;
// - AT n: its average time a move, below (AT1 is 2 seconds);
// - SD n: a game of n's minutes below, the first move about a thirtieth
//   of it, the later ones less;
// - FD 3: the fastest play used, well under a second; a depth the GUI
//   asks for ("sd") takes what it takes, and the move's limit bounds it;
// - AN: searches until told to move.
// Where a move's limit is shorter than the pace of the level the clock
// asks for, a faster level is sent instead, so that the device is not cut
// short on every move.
constexpr long long TOURNAMENT_PACE_MS = 7500;
constexpr long long AVERAGE_PACE_MS[8] = {2000, 5000, 10000, 15000, 30000, 60000, 120000, 180000};
constexpr long long SUDDEN_MINUTES[8] = {3, 5, 10, 15, 30, 60, 90, 120};
constexpr long long SUDDEN_FIRST_MOVE_PART = 30;

int sudden_band(int seconds) {
    for (const Band &band : SUDDEN_BANDS)
        if (seconds >= band.from && seconds <= band.to)
            return band.number;
    return 0;
}

int average_number(long long estimate) {
    int number = 1;
    for (long long floor : AVERAGE_FLOORS)
        if (estimate >= floor)
            ++number;
    return number;
}

long long level_pace_ms(int kind, int number) {
    int n = std::clamp(number, 1, 8);
    switch (kind) {
    case KIND_TOURNAMENT: return TOURNAMENT_PACE_MS * n;
    case KIND_AVERAGE: return AVERAGE_PACE_MS[n - 1];
    case KIND_SUDDEN: return SUDDEN_MINUTES[n - 1] * 60 * 1000 / SUDDEN_FIRST_MOVE_PART;
    default: return 0;
    }
}

// Sends the level unless it is the one the device already has.
void send_level(int kind, int number) {
    if (kind == level_kind && number == level_number)
        return;
    set_device_level(kind, number);
    sent_kind = kind;
    sent_number = number;
}

// The level within the move's limit (-1: none): the one asked for where
// its pace fits, else the slowest average-time level that fits and is
// faster, else the fastest play.
void send_level_within(int kind, int number, long long allowed_ms) {
    long long pace = level_pace_ms(kind, number);
    if (allowed_ms >= 0 && pace > allowed_ms) {
        kind = KIND_FAST;
        number = 3;
        for (int n = 8; n >= 1; --n) {
            if (AVERAGE_PACE_MS[n - 1] <= allowed_ms && AVERAGE_PACE_MS[n - 1] < pace) {
                kind = KIND_AVERAGE;
                number = n;
                break;
            }
        }
    }
    send_level(kind, number);
}

// The level for a number of seconds a move: the fastest play below one
// second, else the average-time level that fits.
void send_per_move_level(long long estimate, int hurry, long long allowed_ms) {
    if (estimate < 1)
        send_level(KIND_FAST, 3);
    else
        send_level_within(KIND_AVERAGE, hurry ? 1 : average_number(estimate), allowed_ms);
}

}  // namespace

void choose_level(int moves, int seconds, int increment_seconds, int hurry) {
    choose_level_within(moves, seconds, increment_seconds, hurry, -1);
}

void choose_level_within(int moves, int seconds, int increment_seconds, int hurry, long long allowed_ms) {
    if (moves > 0) {
        // The time a move may take until the control ends. The tournament
        // level plays 40 moves in 5 minutes, 7.5 seconds a move: it serves
        // wherever that much is left, and a faster level takes over where
        // less is. Exact for any clock a GUI can give, and no overflow.
        double per_move = static_cast<double>(seconds) / moves + increment_seconds;
        if (per_move >= 7.5)
            send_level_within(KIND_TOURNAMENT, 1, allowed_ms);
        else
            send_per_move_level(seconds / moves + static_cast<long long>(increment_seconds), hurry,
                                allowed_ms);
        return;
    }
    // The time one move may take: an even share of the clock spread over
    // some 24 moves plus the increment, but never more than a quarter of
    // the clock. In 64 bits, so absurd clocks cannot overflow.
    long long estimate = std::min(increment_seconds + static_cast<long long>(seconds) / 24,
                                  static_cast<long long>(seconds) / 4);
    int band = increment_seconds == 0 ? sudden_band(seconds) : 0;
    if (band != 0 && estimate >= 1)
        send_level_within(KIND_SUDDEN, band, allowed_ms);
    else
        send_per_move_level(estimate, hurry, allowed_ms);
}

void choose_move_time_level(int seconds, long long allowed_ms) { send_per_move_level(seconds, 0, allowed_ms); }

void choose_depth_level(int depth) { send_level(KIND_FAST, std::clamp(depth, 1, 8)); }

void choose_analysis_level() { send_level(KIND_ANALYSIS, 8); }

void send_test_suite_level() { set_device_level(KIND_ANALYSIS, 8); }

LevelSent level_sent() { return LevelSent{level_kind, level_number}; }

int restore_level(const LevelSent &kept) {
    if (kept.kind >= 0 && kept.kind <= 4 && kept.number >= 1 && kept.number <= 8) {
        set_device_level(kept.kind, kept.number);
        sent_kind = kept.kind;
        sent_number = kept.number;
        return 1;
    }
    // None had been sent: whatever the clock chooses is sent next.
    reset_level();
    return 0;
}

void reset_level() {
    sent_kind = 0;
    sent_number = 0;
}
