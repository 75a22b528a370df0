// UCI: a session whose GUI opens with "uci". Its reader, the position and
// go lines, and its output forms.
#pragma once

#include <cstddef>

// The GUI's first line opens a UCI session.
int is_uci_opening(const char *line);
// The whole session after its first line.
void run_uci_session(const char *first_line);
// UCI's forms of what the GUI is told.
void use_uci_front_end();

// A GUI writes the whole game on one line: a game of the longest length the
// rules allow fits.
constexpr std::size_t UCI_LINE_SIZE = 65536;
constexpr int MAX_GAME_PLIES = 6000;
constexpr std::size_t FEN_SIZE = 128;

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
// Reads "position startpos|fen FEN [moves ...]". False, with what to tell
// the GUI in why, when it names no game the device can be given.
bool read_position(const char *line, WantedGame &wanted, char *why, std::size_t why_size);

// "setoption name NAME [value VALUE]" read: the name (blanks inside it
// kept; cut to fit: then no option of ours) and where the value begins
// (nullptr without one); 0 when the line names no option.
int read_setoption(const char *line, char *name, std::size_t name_size, const char **value);

// What a "go" line asks for; -1 where it says nothing (no increment: 0).
struct GoLine {
    long long clock_ms[2];  // White's and Black's
    long long inc_ms[2];
    long long moves_to_go;
    long long move_time_ms;
    long long depth;
    bool infinite;
};
GoLine read_go(const char *line);
