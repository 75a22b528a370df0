// Shared state and operations of the bridge between an engine-protocol
// interface (a chess GUI) and the chess computer on the serial line.
//
// Everything runs on one thread: plain functions over the globals below and
// fixed-size buffers, with blocking waits.
#pragma once

#include <cstddef>

// ---------------------------------------------------------------- sizes
constexpr std::size_t REPLY_LINE_SIZE = 128;    // reply_line
constexpr std::size_t LINE_BUFFER_SIZE = 256;   // command_line and other readers

// ------------------------------------------------------- shared globals
extern char reply_line[REPLY_LINE_SIZE];  // the device's last line
extern int end_code;                      // pending end-of-game code, 0 for none
extern int in_book;                       // 1 while the device plays from its book
extern float last_score;                  // pawns, last "=" analysis line
extern int level_kind;                    // last level command sent (0 and 0: none yet)
extern int level_number;
extern int solved_count;                  // counts of the last test run
extern int failed_count;
extern int display_detail;                // the device's analysis display: 0 off, else its detail
extern int analysing;                     // 1 while the device analyses for the GUI: no whispers

// --------------------------------------------------------- command loop
// Game state owned by the command loop.
extern int quit_requested;
extern int fresh_game;
extern int force_mode;
extern int side_flag;     // the side to move in the game: 0 White, 1 Black
extern int device_side;   // the side the device plays: 0 White, 1 Black
extern int game_plies;    // half-moves played since the game's start position
extern int move_number;
extern int moves_per_control;
extern int own_time;
extern int increment;
extern int opp_time;
extern int own_rating;
extern int opp_rating;
extern char command_line[LINE_BUFFER_SIZE];
// The device's clock for the hard limit on its moves, in ms: what the GUI
// last said of it (-1: nothing yet this game), the increment, a fixed time
// a move (-1: none) and the GUI's side of the reserve.
extern long long clock_ms;
extern long long increment_ms;
extern long long move_time_ms;
extern long long move_overhead_ms;
// When the GUI's line now being acted on was read (ms, monotonic): a move
// it hands the device is timed from then.
extern long long line_arrived_at;

// Sets the game state to its start values (also used between test runs).
void reset_game_state();
// Logs and acts on one interface line already in command_line.
void dispatch_command();
// The whole program: start-up, the loop, shutdown. Returns the exit status.
int run_bridge();
// Puts the device into force mode unless it is there already.
void enter_force_mode();
// The line begins with a coordinate move (only its four square characters
// are tested).
int is_coordinate_move(const char *line);
// A move from the interface, in command_line: to the device, and in force
// mode that is all; otherwise the device's turn follows.
void handle_move();
// The GUI's "new", "undo" and "remove", on the game state and the device.
// In analysis the device stays in force mode through a new game.
void start_new_game(int keep_force_mode);
void take_back_moves(int plies);
// Sends the level that was in force before an analysis (kind and number as
// they were kept), or chooses one from the clock when none had been sent.
void restore_level(int kind, int number);

// Analysis mode: "analyze" until "exit" (or the session's end).
void run_analysis();
// A move has entered the game (either side's): the side to move changes.
void note_move_played();
// The side that made the last move, as report_result wants it.
int last_mover();

// Protocol-2 commands: "protover N" answered with the features, "ping N"
// with "pong N", "setboard FEN" set up on the device. A "ping" that comes
// while the device is to move is held and answered after its move.
void handle_protover();
void handle_ping();
// Returns nonzero when the position went to the device.
int handle_setboard();
void hold_ping(const char *line);
void answer_held_pings();

// The UCI front end: a session whose first line is "uci".
int is_uci_opening(const char *line);
void run_uci_session(const char *first_line);

// ----------------------------------------------------------- device turn
// From the moment the device is to move until its move has been printed.
// limit_ms: how long it may think, from line_arrived_at, before it is told
// to move now; -1 for as long as it takes. Returns nonzero when the device
// moved; its move is then in reply_line.
int device_turn(long long limit_ms);
// A move the device owes: it was told to move and said nothing in time.
// 1 while the GUI would still take it, 2 once the GUI has gone on (then it
// is taken back out of the device's game when it comes).
extern int move_owed;
// Before the next GUI line is read: a move the device still owes is
// watched for too, and read when it comes.
void wait_for_interface();
// A GUI line has been read: a move still owed is no longer the GUI's.
void note_interface_line();

// ----------------------------------------------------------- session log
const char *timestamp();               // 24 characters, English names, local time
void send_interface(const char *text);  // logged line to the interface
void log_setup_time(int n);            // -1 starts timing a set-up, n >= 0 ends it
void open_log(int first);              // first: write the "New session" entry
void close_log();                      // mid-run close, no entry
void close_log_final();                // "Session ends" entry, then close
int log_is_open();
// "Game start" and "Game finish" entries: the label, ": " and the time stamp.
void log_game_event(const char *label);
// Raw pieces of an entry, written straight to the file while it is open.
void log_write(const char *data, std::size_t length);
void log_text(const char *text);

// ----------------------------------------------------------- serial link
void open_link();
void close_link();
int set_read_timeout(int ms);  // returns the previous value; 0 only asks
void send_device(const char *text);
// Reads one device line (with its CR LF) into buffer, never past size bytes.
void read_device(char *buffer, std::size_t size);
// Logs a wait for the device that got nothing, as a read that timed out
// after waited_ms logs it.
void note_no_answer(int waited_ms);
template <std::size_t N>
inline void read_device(char (&buffer)[N]) {
    read_device(buffer, N);
}

// ------------------------------------------------------- device commands
// Returns nonzero when the device answered at least one start-up command.
int init_device();
// Tells the user that the device answers nothing: where it is looked for
// and what to check.
void report_silent_device();
void new_device_game();
void set_device_level(int kind, int number);
void set_post_mode(int detail);
void set_force_mode(int on);
void move_now();
void take_back();

// ------------------------------------------------------------ translation
int send_move(const char *move);
// line must be writable and hold at least 6 bytes.
int parse_device_move(int *number_out, char *line, int *book_out);
int relay_analysis(const char *line);
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
// mover: the side that made the last move (0 White, 1 Black), the one that
// mates when the report is a mate.
void report_result(int mover, int own_seconds, int opp_seconds);

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

// ------------------------------------------------------------ test runner
void run_test_suite(const char *argument);
int check_solution(const char *line, char *solutions, int limit);
int load_position(const char *placement, char side);
