// Translation between the GUI's world and the device's: moves both ways,
// the device's analysis lines into thinking output, the time control into
// a device level and a hard limit on each move, and end-of-game reports
// into results.
#pragma once

#include <cstddef>

// -------------------------------------------------------------- moves
// Two squares at the line's start, as a GUI writes a move ("e2e4..."):
// only the four square characters are tested.
int begins_with_squares(const char *line);
// One word that is a whole move in UCI's form: two squares and an
// optional promotion letter q, r, b or n.
int is_uci_move_word(const char *word, int length);
// The GUI's move to the device; nonzero when the device took it.
int send_move(const char *move);
// line must be writable and hold at least 6 bytes.
int parse_device_move(int *number_out, char *line, int *book_out);
// "e2-e4" or "g7-g8/Q" as the device writes a move, into UCI's "e2e4" or
// "g7g8q" (6 bytes of room). Returns the characters the device's move took,
// 0 when the word is no move.
int uci_move(const char *device_move, char *out);

// -------------------------------------------------------- analysis lines
// Status tokens hold at most 3 characters; a longer one makes the line no
// analysis line rather than overrun its area. A score word keeps its first 15
// characters: whatever its length, a word other than "Mate" and "-Mate" is
// score 0 and the line is still an analysis line.
constexpr int STATUS_TOKEN_SIZE = 4;
constexpr int SCORE_WORD_SIZE = 16;

struct AnalysisLine {
    char status[STATUS_TOKEN_SIZE + 1];  // one spare byte to detect overlong tokens
    int depth;
    float score;                 // score field of a plain number, 0.0 otherwise
    int score_at, score_end;     // where that number's text lies in the line (-1: none)
    int mate_count;              // "n %d": mate for the side to move
    int mated_count;             // "-n %d": mate against it
    char word[SCORE_WORD_SIZE];  // a score given as a word ("Mate", "-Mate"), cut to fit
    int hours, minutes, seconds;
    int count_a, count_b;  // the two counts before the speed; not used
    int speed;             // nodes per second
    int pv_offset;         // where the principal variation starts in the line
};

// Matches the line against the four layouts in order. Returns the layout
// (1 to 4) of the first that converts all nine fields, or 0 when none does or
// the status token is longer than its area. Fields that an earlier, failed layout
// reached keep what it stored; everything else starts cleared.
int parse_analysis_line(const char *line, AnalysisLine *out);
// The line's search time in whole seconds, never overflowing.
long long analysis_seconds(const AnalysisLine &fields);

// 1 while the device plays from its opening book; the last settled score.
extern int in_book;
extern float last_score;
// Relays one device line while the device thinks: 1 when it was analysis
// or a book notice, 0 for any other line.
int relay_analysis(const char *line);
// A new game: in book, no score yet.
void relay_new_game();
// A position set up on the device: in book only from the start position.
void relay_position(int from_start);
// The score is forgotten (a new game whose position comes on its own).
void relay_forget_score();
// What analysis for the GUI keeps aside and gives back afterwards.
struct RelayMemory {
    float last_score;
    int in_book;
};
RelayMemory relay_memory();
void relay_restore(const RelayMemory &kept);
void reset_relay();

// ------------------------------------------------------------ levels
// The level command last sent (0 and 0: none yet); only the level choice
// writes them.
extern const int &level_kind;
extern const int &level_number;
// moves: the moves still to play before the time control ends, 0 or less
// for a control without a number of moves.
void choose_level(int moves, int seconds, int increment_seconds, int hurry);
// The same within a move's limit (allowed_ms, -1 for none): a level whose
// pace does not fit gives way to a faster one.
void choose_level_within(int moves, int seconds, int increment_seconds, int hurry, long long allowed_ms);
// A fixed time a move ("st") and a fixed depth ("sd").
void choose_move_time_level(int seconds, long long allowed_ms = -1);
void choose_depth_level(int depth);
// The level at which the device analyses until it is told to move.
void choose_analysis_level();
// The test runner's level: the analysis level, sent without becoming the
// level the clock's choices compare with.
void send_test_suite_level();
// The level sent last, to be sent again after an analysis; restore_level
// returns 0 when none had been sent (the clock must choose one then).
struct LevelSent {
    int kind, number;
};
LevelSent level_sent();
int restore_level(const LevelSent &kept);
void reset_level();

// --------------------------------------------------------- move limit
// What the GUI has said of the device's time for its coming move.
struct ClockReading {
    long long clock_ms;      // the device's clock; -1 when the GUI gave none
    long long increment_ms;  // added to it after each of its moves
    int moves_to_go;         // moves to play in the control, this one included; 0: none
    long long move_time_ms;  // a fixed time a move; -1: none
    long long overhead_ms;   // the GUI's side of the reserve
};
constexpr long long DEFAULT_MOVE_OVERHEAD_MS = 100;
// What the move's limit keeps back of a clock: the link and the GUI.
long long move_reserve_ms(long long clock_ms, long long overhead_ms);
// The longest the device may think over the move before it is told to
// move now, in ms; -1 when the GUI gave neither a clock nor a time a move.
long long move_limit_ms(const ClockReading &reading);
// The time a move allows the level's pace: a fair share of the clock (the
// clock over the moves still to play, 20 in sudden death, plus the
// increment), ending a reserve before the move's limit; for a time a move,
// the limit.
long long move_share_ms(const ClockReading &reading);

// -------------------------------------------------------- end of game
// mover: the side that made the last move (0 White, 1 Black), the one that
// mates when the report is a mate.
void report_result(int mover, int own_seconds, int opp_seconds);
