// The operating-system layer: the only place that knows whether the bridge
// runs on POSIX or on Win32. Everything above it is single-threaded and
// blocking; an implementation may use what it must underneath.
#pragma once

#include <cstddef>

// Installs signal handling and readies standard input and output.
void plat_init();

// Nonzero once the user or the system asked the run to end (SIGTERM, SIGHUP,
// console close). From then on stdin gives only the lines already sent and
// port reads take what the device has already sent, both for half a second
// in all, after which stdin reports its end and reads end empty at once; a
// port write or an output line that cannot go out is dropped, so the
// program winds down as it does on "quit".
int plat_stop_requested();

// Serial ports by name: "COM1" is /dev/ttyS0 on Linux.
constexpr std::size_t PORT_NAME_SIZE = 256;
// The port the user named in the environment (PAWNBRIDGE_COM1), or nullptr.
const char *plat_port_from_environment();
// A serial port the search may try, and whether it is a USB modem-class
// port (never opened by the search: such boards reset when opened).
struct PortEntry {
    char name[PORT_NAME_SIZE];
    bool modem_class;
};
// The ports where a chess computer's cable can be, in the order the search
// tries them, "COM1" first; modem-class ports are listed too, last. Returns
// how many it put in out (at most max). As a test aid, PAWNBRIDGE_SEARCH_PORTS
// (names separated by ':', on Windows ';') replaces the machine's list,
// its first name standing for COM1, so that a test never touches the
// machine's real ports.
int plat_list_ports(PortEntry *out, int max);

// Opens and configures the named port (9600 8N1, raw, no flow control, DTR
// and RTS off), exclusively. Returns 0, or the system error code. Without
// an open port, reads end at once with nothing and writes go nowhere.
int plat_port_open(const char *name);
int plat_port_is_open();
// Two names of one port: Windows' names ignore case (COM2 is com2).
int plat_same_port(const char *a, const char *b);
void plat_port_close();
// The read time-out for each plat_port_read_byte call, in ms.
void plat_port_set_timeout(int ms);
// Reads one byte, waiting at most the read time-out counted from the start
// of the call. Returns 1 with a byte, 0 when none came in time, or the
// negated system error code when the read failed. The port is read in
// blocks: one read takes whatever the device has sent so far, and the bytes
// after the one returned are handed out by the next calls without asking
// the system again.
int plat_port_read_byte(char *byte);
void plat_port_write(const char *data, std::size_t length);

// Reads one line from standard input into dst without its line end, cut to
// fit size bytes (the rest of a long line is dropped). Returns 1 for a line,
// 0 at the end of input.
int plat_stdin_read_line(char *dst, std::size_t size);
// The same line as plat_stdin_read_line would give, left on the input for
// the next read.
int plat_stdin_peek_line(char *dst, std::size_t size);

// Waits until a complete standard-input line (or its end) is ready, or the
// port has data, for at most timeout_ms (a negative time-out: for as long as
// it takes). Returns 1 for standard input (it wins when both are ready), 2
// for the port, 0 on time-out or failure.
// Bytes already read from the port and not yet handed out are the port's
// data. On POSIX the port's data is a whole device line: while one is still
// arriving the wait goes on watching standard input, and a line left
// unfinished is handed over at a silence of the read time-out after its
// last byte, the read then ending there at once. On Windows the first byte
// of a line ends the wait.
int plat_wait_input_or_port(int timeout_ms);
// The same wait for the port alone: 2 when it has data (or a stop was asked
// for: the read that follows then goes by the stop's rule), 0 on time-out.
int plat_wait_port(int timeout_ms);

// The session log: opened for appending with others allowed to read only.
// Returns 1 when open.
int plat_log_open(const char *name);
void plat_log_write(const char *data, std::size_t length);
void plat_log_close();

// A person's text for a system error code, for the one line on standard
// error when the port cannot be opened.
const char *plat_error_text(int code);

// What a failed plat_port_open's error code means to the person who has to
// mend it: the port is held by another program (another bridge, a terminal
// program, a modem manager), this user may not open it, or there is no such
// port.
enum PortRefusal { PORT_REFUSED_OTHER = 0, PORT_IN_USE = 1, PORT_NOT_PERMITTED = 2, PORT_MISSING = 3 };
PortRefusal plat_port_refusal(int code);

void plat_sleep_ms(int ms);
long long plat_time_seconds();
// Milliseconds on a clock that only moves forward, for deadlines.
long long plat_monotonic_ms();
// Local time broken down: weekday 0-6 (Sunday 0), month 0-11, day, hour,
// minute, second, year.
void plat_local_time(int *weekday, int *month, int *day, int *hour, int *minute, int *second,
                     int *year);
