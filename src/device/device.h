// The device link: the serial line to the chess computer, one line at a
// time in each direction with every line logged, and the device's fixed
// commands.
#pragma once

#include <cstddef>

// ---------------------------------------------------------------- sizes
constexpr std::size_t REPLY_LINE_SIZE = 128;   // reply_line
constexpr std::size_t LINE_BUFFER_SIZE = 256;  // the other readers' lines

// ------------------------------------------------------------ the link
extern char reply_line[REPLY_LINE_SIZE];  // the device's last line
extern int end_code;                      // pending end-of-game code, 0 for none

void open_link();
void close_link();
int set_read_timeout(int ms);  // returns the previous value; 0 only asks
void send_device(const char *text);
// Reads one device line (with its CR LF) into buffer, never past size bytes.
void read_device(char *buffer, std::size_t size);
template <std::size_t N>
inline void read_device(char (&buffer)[N]) {
    read_device(buffer, N);
}
// Logs a wait for the device that got nothing, as a read that timed out
// after waited_ms logs it.
void note_no_answer(int waited_ms);

// ----------------------------------------------------- device commands
// The device's analysis display: 0 off, else its detail.
extern int display_detail;

// Returns the number of start-up commands the device answered.
int init_device();
void new_device_game();
void set_device_level(int kind, int number);
void set_post_mode(int detail);
void set_force_mode(int on);
void move_now();
void take_back();
// Puts what this folder keeps back to its start: the analysis display.
void reset_device_state();
