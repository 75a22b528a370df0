// The device link: the serial line to the chess computer, one line at a
// time in each direction with every line logged, and the device's fixed
// commands.
#pragma once

#include <cstddef>

#include "platform.h"

// ---------------------------------------------------------------- sizes
constexpr std::size_t REPLY_LINE_SIZE = 128;   // reply_line
constexpr std::size_t LINE_BUFFER_SIZE = 256;  // the other readers' lines

// ------------------------------------------------------------ the link
extern char reply_line[REPLY_LINE_SIZE];  // the device's last line
extern int end_code;                      // pending end-of-game code, 0 for none

// Opens the named port as the session's first (it ends the process, with
// the system's error code and one line on standard error, when the port
// cannot be opened), then the session log.
void open_link(const char *name);
// Closes the log ("Session ends") and the port.
void close_link();
// Opens a port in place of the one open (if any): 0, or the system's error
// code, and then no port is open.
int open_port(const char *name);
void close_port();
// The port open now, "" for none.
const char *port_in_use();
// What a refused open means to the person who must mend it, without the
// program's name: "NAME is in use by another program", "cannot open NAME:
// reason".
void describe_port_refusal(const char *name, int error, char *out, std::size_t size);
// The reason alone: "in use by another program", or the system's text.
void port_refusal_reason(int error, char *out, std::size_t size);

// --------------------------------------------------------- the search
// What a port turned out to be.
enum PortFinding {
    FOUND_NOT_TRIED,    // the search ended before it
    FOUND_DEVICE,       // the chess computer answered
    FOUND_SILENT,       // no answer as the device's
    FOUND_REFUSED,      // could not be opened (error)
    FOUND_MODEM_CLASS,  // a USB modem-class port: never opened by the search
};
struct PortTried {
    char name[PORT_NAME_SIZE];
    PortFinding finding;
    int error;                     // why it could not be opened
    char answer[REPLY_LINE_SIZE];  // the device's answer to the identify command
};
constexpr int MAX_PORTS = 32;
struct PortSearch {
    int count;
    PortTried ports[MAX_PORTS];
    int found;  // the device's port among them, -1 for none
};
// The session's search: COM1 with its start-up sequence (left at once when
// its first command goes unanswered), then each further port with the
// identify command, until the device answers or three seconds have passed.
// The device's port stays open with its start-up done, and the log says
// what each port was. Returns the start-up commands answered (0: no device).
int search_for_device(PortSearch &search);
// Every port found, each asked who it is; none stays open.
void survey_ports(PortSearch &search);
// "the chess computer (its answer)", "no answer", "in use by another
// program", "cannot be opened: reason", ...
void describe_finding(const PortTried &port, char *out, std::size_t size);
// The log's entry for a port tried: "(port NAME: what it was)".
void log_port_finding(const PortTried &port);
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

// The device's start-up sequence. Returns the number of its commands the
// device answered.
int init_device();
// The same in two parts, so that a port where no device answers the first
// command is left at once: the wake-up and "U OFF" (nonzero when the
// answer is the device's), then the rest.
int begin_start_up();
int finish_start_up();
// The wake-up and the identify command "I", the answer waited for at most
// wait_ms: nonzero when it is the device's (then in reply_line).
int identify_device(int wait_ms);
// A line as the device answers a command: text and its line end, not the
// command's own echo.
int is_device_answer(const char *line, const char *command);
void new_device_game();
void set_device_level(int kind, int number);
void set_post_mode(int detail);
void set_force_mode(int on);
void move_now();
void take_back();
// Puts what this folder keeps back to its start: the analysis display.
void reset_device_state();
