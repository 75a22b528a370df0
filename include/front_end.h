// What the GUI is told, and which of its words count while the device
// thinks, in the protocol the session speaks: the xboard protocol (in the
// forms of its first version, or of the second once the GUI says so) or UCI.
// The device's turn, the analysis relay and the results call through the
// session's front end and never ask which protocol it is.
#pragma once

#include <cstddef>

// One analysis line of the device, worked out.
struct Thinking {
    int depth;
    char marker;           // the first protocol's mark after the ply, or a blank
    long long centipawns;  // from the device's side, truncated toward zero
    float pawns;           // the score as the device gave it
    int mate;              // moves to mate the device reports: > 0 for it, < 0 against it, 0 none
    long long seconds;
    long long nodes;
    long long speed;       // nodes a second
    const char *pv;        // as the device wrote it
};

// What a line that the GUI sends while the device thinks asks for.
enum TurnWord {
    TURN_IGNORE,    // logged and dropped
    TURN_MOVE_NOW,  // the device is to move at once
    TURN_FORCE,     // the same, and it plays neither side afterwards
    TURN_PING,      // answered once the move is out
    TURN_READY,     // answered at once
    TURN_QUIT,      // the session ends at once
    TURN_LEAVE,     // not for the turn: it waits for the command loop
};

struct FrontEnd {
    // The device's move; nullptr when its turn ended without one.
    void (*device_move)(const char *move);
    void (*thinking)(const Thinking &line);
    // The device plays from its opening book.
    void (*book)();
    // A remark for the chess server or the person at the board, not logged:
    // the score, mates, the level, the device's greeting; none while the
    // device analyses for the GUI. length: the text's.
    void (*whisper)(const char *text, std::size_t length);
    void (*say)(const char *text);
    // A result, or a command for the chess server ("flag", "adjourn").
    void (*result)(const char *text);
    void (*resign)();
    // Something the user must do or know.
    void (*user_error)(const char *text);
    TurnWord (*turn_word)(const char *line);
    // A move the device makes after its turn has ended without one still
    // reaches the GUI (else it is taken back out of the device's game).
    bool takes_late_move;
};

// The session's front end; the xboard protocol's first version until the
// session chooses.
extern const FrontEnd *front_end;
void use_xboard_front_end(int version);
void use_uci_front_end();

// The line's first word is the word: it ends there, at a blank or the end.
int is_first_word(const char *line, const char *word);

// "e2-e4" or "g7-g8/Q" as the device writes a move, into UCI's "e2e4" or
// "g7g8q" (6 bytes of room). Returns the characters the device's move took,
// 0 when the word is no move.
int uci_move(const char *device_move, char *out);
