// A move the device owes: it was told to move and said nothing in time. It
// is read when it comes; whether the GUI still takes it depends on what
// the GUI has done since, which the command loops report here.
#include "core.h"

namespace {

OwedMove owed = OWED_NONE;

}  // namespace

OwedMove owed_move() { return owed; }

void owe_move(OwedMove kind) { owed = kind; }

void note_gui_went_on() {
    if (owed == OWED_TO_GUI)
        owed = OWED_TO_TAKE_BACK;
}

void forget_owed_move() { owed = OWED_NONE; }
