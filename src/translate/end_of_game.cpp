// The device's end-of-game announcements, turned into the interface's
// result lines or a resignation.
#include "core.h"
#include "translate.h"

void report_result(int mover, int own_seconds, int opp_seconds) {
    switch (end_code) {
    case 1: front_end->result("1/2-1/2 {Draw by repetition}"); break;
    case 2: front_end->result("1/2-1/2 {Draw by 50 move rule}"); break;
    case 3: front_end->result("1/2-1/2 {Draw by insufficient material}"); break;
    case 4: front_end->result("1/2-1/2 {Draw 4}"); break;
    case 5:
        // The device only reports that a mate happened: the side that made
        // the last move delivered it.
        front_end->result(mover == 0 ? "1-0 {White mates}" : "0-1 {Black mates}");
        break;
    case 6:
        // A resignation with more time on the device's clock than on the
        // opponent's is not passed on: the opponent may still lose on time.
        if (own_seconds <= opp_seconds)
            front_end->resign();
        break;
    default: break;
    }
    end_code = 0;
}
