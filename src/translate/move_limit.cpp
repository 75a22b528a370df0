// The hard limit on each move: how long the device may think before it is
// told to move now, worked out from what the GUI has said of its clock. The
// level sets the device's pace; this is the net under it, so that the move
// is on standard output before the GUI's clock runs out whatever the level
// does.
#include <algorithm>

#include "translate.h"

namespace {

// "J" on the wire, the device's answer to it and its move reply (some 16
// characters: 17 ms at 9600 baud), rounded up.
constexpr long long LINK_MS = 50;
// On a long clock the GUI's side keeps a hundredth of it, up to a second:
// a GUI, a server or a busy machine may be late by more than the overhead.
constexpr long long LONG_CLOCK_PART = 100;
constexpr long long LONG_CLOCK_CAP_MS = 1000;
// Sudden death: a fair share of what is left, as if this many moves were
// still to play; each move then leaves most of the clock to the next.
constexpr long long SUDDEN_DEATH_MOVES = 20;
// A move may take this many fair shares while the clock allows it, so that
// the device's own time keeping is not cut short on every move.
constexpr long long SHARES_A_MOVE = 2;
// What each further move of the control keeps back at least: the time to
// answer a "J" given the moment its turn begins, on a busy machine.
constexpr long long MOVE_FLOOR_MS = 200;

}  // namespace

long long move_reserve_ms(long long clock_ms, long long overhead_ms) {
    long long gui = std::min(std::max(clock_ms, 0LL) / LONG_CLOCK_PART, LONG_CLOCK_CAP_MS);
    return LINK_MS + std::max(gui, std::max(overhead_ms, 0LL));
}

long long move_limit_ms(const ClockReading &reading) {
    long long limit = -1;
    long long overhead = std::max(reading.overhead_ms, 0LL);
    if (reading.move_time_ms >= 0)
        limit = std::max(reading.move_time_ms - LINK_MS - overhead, 0LL);
    if (reading.clock_ms >= 0) {
        long long usable = std::max(reading.clock_ms - move_reserve_ms(reading.clock_ms, overhead), 0LL);
        long long moves = reading.moves_to_go > 0 ? reading.moves_to_go : SUDDEN_DEATH_MOVES;
        // The increment comes after the move: it widens the share, never
        // what the clock holds now.
        long long share = usable / moves + std::max(reading.increment_ms, 0LL);
        long long most = SHARES_A_MOVE * share;
        if (reading.moves_to_go > 0)
            most = std::min(most, usable - (moves - 1) * MOVE_FLOOR_MS);
        most = std::clamp(most, 0LL, usable);
        limit = limit < 0 ? most : std::min(limit, most);
    }
    return limit;
}

long long move_share_ms(const ClockReading &reading) {
    long long limit = move_limit_ms(reading);
    if (reading.clock_ms < 0)
        return limit;
    long long moves = reading.moves_to_go > 0 ? reading.moves_to_go : SUDDEN_DEATH_MOVES;
    long long share = std::max(reading.clock_ms, 0LL) / moves + std::max(reading.increment_ms, 0LL);
    // A level that takes its whole pace still ends a reserve before the
    // limit: the control's last moves are not played to the last
    // hundred milliseconds.
    long long before_limit = std::max(limit - move_reserve_ms(reading.clock_ms, reading.overhead_ms), 0LL);
    return std::min(share, before_limit);
}
