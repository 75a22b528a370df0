// What both protocols share: the session's start and end, the game (one
// owner, changed only through the operations below), the device's turn,
// the front-end table through which the GUI is told things, the GUI's lines
// as they come in, and the session log.
//
// The protocol folders call this core; the core calls translation and the
// device. Translation and the device write through two things of the core,
// the session log and the front-end table, which call nothing but the
// platform.
#pragma once

#include <cstddef>

#include "device.h"

// ------------------------------------------------------------ session log
const char *timestamp();               // 24 characters, English names, local time
void send_interface(const char *text);  // logged line to the interface
void log_setup_time(int n);            // -1 starts timing a set-up, n >= 0 ends it
void reset_setup_timer();
void open_log(int first);              // first: write the "New session" entry
void close_log();                      // mid-run close, no entry
void close_log_final();                // "Session ends" entry, then close
int log_is_open();
// "Game start" and "Game finish" entries: the label, ": " and the time stamp.
void log_game_event(const char *label);
// One entry, written whole with one write or not at all: the marker, the
// text's length bytes and the end ("" when the text carries its own).
void log_entry(const char *marker, const char *text, std::size_t length, const char *end);
// What a read that went on past its line's area spills, piece by piece.
void log_piece(const char *data, std::size_t length);

// ------------------------------------------------------- front-end table
// What the GUI is told, and which of its words count while the device
// thinks, in the protocol the session speaks. The device's turn, the
// analysis relay and the results call through the session's front end and
// never ask which protocol it is.

// One analysis line of the device, worked out.
struct Thinking {
    int depth;
    char marker;           // the first protocol's mark after the ply, or a blank
    long long centipawns;  // from the device's side, truncated toward zero from its float
    long long exact_centipawns;  // the same, exact from the device's decimal text
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
    // A ping line held while the device was to move, answered after its move.
    void (*answer_ping)(const char *line);
    // Something the user may like to know that asks nothing of them.
    void (*notice)(const char *text);
    // A move the device makes after its turn has ended without one still
    // reaches the GUI (else it is taken back out of the device's game).
    bool takes_late_move;
};

// The session's front end, chosen by the protocol the GUI speaks.
extern const FrontEnd *front_end;
void use_front_end(const FrontEnd *chosen);
// While the device analyses for the GUI no game is played: nothing goes to
// the chess server.
extern int analysing;
void set_analysing(int on);

// ------------------------------------------------------------ GUI lines
// The GUI's line being acted on.
extern char command_line[LINE_BUFFER_SIZE];
// When the GUI's line now being acted on was read (ms, monotonic): a move
// it hands the device is timed from then.
extern long long line_arrived_at;
// A line the command loop has read from the GUI: logged ("==> " and the
// line), timed, and a move the device still owes is no longer the GUI's.
void take_gui_line(const char *line);
// The one form of an incoming GUI line in the log; during_turn: it came
// while the device was to move (" !!!" after it).
void log_gui_line(const char *line, bool during_turn);
// The line begins with the word (a prefix test of the word's length).
int starts_with(const char *line, const char *word);
// The line's first word is the word: it ends there, at a blank or the end.
int is_first_word(const char *line, const char *word);

// ------------------------------------------------------------- the game
// The game as the GUI and the device play it. Only this core's game
// operations change it; everything else reads it.
struct Game {
    int quit_requested;
    int fresh_game;         // from "new" until the first move or "go"
    int force_mode;         // the device plays neither side
    int side_flag;          // the side to move: 0 White, 1 Black
    int device_side;        // the side the device plays
    int game_plies;         // half-moves since the game's start position
    int move_number;
    int moves_per_control;
    int own_time;           // the device's clock, whole seconds
    int increment;          // whole seconds
    int opp_time;
    int own_rating;
    int opp_rating;
    int level_fixed;        // "st" or "sd": the clock does not choose the level
    // The clock for the hard limit on the device's moves, in ms: what the
    // GUI last said of it (-1: nothing yet this game), the increment, a
    // fixed time a move (-1: none) and the GUI's side of the reserve.
    long long clock_ms;
    long long increment_ms;
    long long move_time_ms;
    long long move_overhead_ms;
};
extern const Game &game;

void reset_game();
// "new": a new game on the device; keep_force_mode: analysis keeps the
// device in force mode through it.
void game_new(int keep_force_mode);
// A move or "go" from the GUI: the game is no longer fresh.
void game_move_sent();
// A move has entered the game (either side's): the side to move changes.
void game_move_played();
// A move of a set-up in force mode: a move number for each of Black's.
void game_count_set_up_move();
// The device's move, with the move number it gave.
void game_device_moved(int number);
// Takes plies back on the device and in the game.
void game_take_back(int plies);
// Force mode: on unless it is on; on afresh for a set-up in a fresh game
// (timed); off, with the set-up's time in the log when asked.
void game_force_on();
void game_force_on_for_set_up();
void game_force_off(int log_set_up);
// "white" and "black": that side is on move, the device plays the other.
void game_side_on_move(int side);
// "go": out of force mode, the device to play the side on move.
void game_go();
// A position set up on the device: its side to move and the plies before
// it; move_number: its number, 0 to keep the one there is.
void game_set_up(int side, int plies, int move_number);
// The device's turn begins: it plays the side on move.
void game_device_to_move();
// Another device took the line (a port chosen anew): it starts out of
// force mode.
void game_device_restarted();
// The clocks as the GUI reports them.
void game_clock_time(long long hundredths);
void game_clock_opponent(long long hundredths);
void game_clock_level(int moves, int base_seconds, int increment_seconds, long long increment_ms);
void game_clock_move_time(long long ms);
void game_clock_depth();
void game_clock_for_search(long long clock_ms, long long increment_ms, long long move_time_ms);
void game_clock_seconds(int own, int opp, int increment);
// The device spent this much of its clock on a move: the clock as the GUI
// keeps it, until the GUI says otherwise.
void game_clock_spent(long long ms);
void game_ratings(int own, int opp);
void game_move_overhead(long long ms);
void game_request_quit();
// The moves the device still has to play before its time control ends, 0
// for a control without a number of moves.
int game_moves_to_go();
// The side that made the last move, as report_result wants it.
int game_last_mover();
// The move's limit from the game's clock, moves_to_go this move included,
// and the time the move allows a level's pace.
long long game_move_limit_ms(int moves_to_go);
long long game_move_share_ms(int moves_to_go);
// The level from the clock the GUI has just given, by the rules both
// protocols share; setting_up: the GUI sets a game up; new_control: the
// clock shows a new time control; allowed_ms: the time the move allows
// the level's pace.
void choose_clock_level(int moves_to_go, int setting_up, int new_control, long long allowed_ms);

// ------------------------------------------------------------ the turn
// From the moment the device is to move until its move has been printed.
// limit_ms: how long it may think, from line_arrived_at, before it is told
// to move now; -1 for as long as it takes. Returns nonzero when the device
// moved; its move is then in reply_line.
int device_turn(long long limit_ms);
// A move the device owes, told to move and silent in time, is read when it
// comes: given to the GUI while the GUI still waits for it, else taken back
// out of the device's game. Before the next GUI line is read, such a move
// is watched for too.
void wait_for_interface();
enum OwedMove { OWED_NONE, OWED_TO_GUI, OWED_TO_TAKE_BACK };
OwedMove owed_move();
void owe_move(OwedMove kind);
// The GUI has gone on (a line of its own): it no longer waits for the move.
void note_gui_went_on();
// The device's game has been replaced (a new game, a position): no move of
// the old one is waited for.
void forget_owed_move();
void reset_turn();

// ---------------------------------------------------------- the session
// Start-up: the platform, the device's port (named: the command line's
// --port, else PAWNBRIDGE_COM1; else the search), the log, the device's
// start-up sequence and the name line; a device that answers none of it is
// reported. The front end for what is said before the GUI's first line
// must be chosen first.
void start_session(const char *named_port);
// Shutdown: "Session ends", the log and the port closed.
void end_session();
// Every piece of the session's state below the protocols back to its
// start value; each protocol's session start does the same for its own.
void reset_session();
// Tells the user that the device answers nothing: where it is looked for
// and what to check.
void report_silent_device();

// ------------------------------------------------------- the command line
struct Arguments {
    bool help, version, list_ports;
    const char *port;  // --port NAME (or --port=NAME); nullptr: none, or "auto"
};
Arguments read_arguments(int argc, const char *const *argv);
// Prints every serial port found and what it is; 0 when the chess computer
// is among them, else 1.
int list_ports();

// ------------------------------------------------------------ the port
// Opens the named port (as the session's first: a port that cannot be
// opened ends the process) or, with none named, searches for the device;
// runs its start-up. Returns the start-up commands answered.
int connect_device(const char *named);
// The port a silent device was looked for on: the one open, or the ports
// the search tried.
void ports_looked_at(char *out, std::size_t size);
// The GUI's engine option "Port": its value now (the port in use, else
// "auto"), and the GUI's choice of one ("auto" or nothing: the search).
const char *port_option_value();
void choose_port(const char *value);
