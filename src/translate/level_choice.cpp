// The device's playing level, chosen from the interface's time control or
// from the clock that remains, and sent only when it changes.
#include <algorithm>

#include "pawnbridge.h"

int level_kind = 0;
int level_number = 0;

namespace {

// Level kinds, as indexes into the device's level commands.
constexpr int KIND_TOURNAMENT = 0;  // "L TR": moves per time control
constexpr int KIND_AVERAGE = 1;     // "L AT": average time per move
constexpr int KIND_SUDDEN = 2;      // "L SD": sudden death on the whole game
constexpr int KIND_FAST = 3;        // "L FD": fastest play

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

}  // namespace

void choose_level(int moves, int seconds, int increment_seconds, int hurry) {
    int kind = KIND_TOURNAMENT;
    int number = 1;
    if (moves <= 0) {
        // The time one move may take: an even share of the clock spread over
        // some 24 moves plus the increment, but never more than a quarter of
        // the clock. In 64 bits, so absurd clocks cannot overflow.
        long long estimate = std::min(increment_seconds + static_cast<long long>(seconds) / 24,
                                      static_cast<long long>(seconds) / 4);
        kind = KIND_AVERAGE;
        if (increment_seconds == 0) {
            int band = sudden_band(seconds);
            if (band != 0) {
                kind = KIND_SUDDEN;
                number = band;
            }
        }
        if (estimate < 1) {
            kind = KIND_FAST;
            number = 3;
        } else if (kind != KIND_SUDDEN) {
            number = hurry ? 1 : average_number(estimate);
        }
    }

    if (kind == level_kind && number == level_number)
        return;
    set_device_level(kind, number);
    level_kind = kind;
    level_number = number;
}
