// Test harness: a pseudo-terminal that plays the chess computer, and the
// bridge binary run as a child process with pipes as its interface.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A temporary working directory, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::string read(const std::string &name) const;
    void write(const std::string &name, const std::string &contents) const;

private:
    std::string path_;
};

// The device end of a serial line: the master of a pty pair whose slave the
// bridge opens. It keeps its own slave descriptor so the line stays up
// between runs, and puts the slave into raw mode at once.
class PtyDevice {
public:
    PtyDevice();
    ~PtyDevice();
    const std::string &path() const { return path_; }

    // One line from the bridge, without its CR LF. False on time-out.
    bool read_line(std::string &out, int timeout_ms = 3000);
    // The next line; records a test failure on time-out.
    std::string expect_line(int timeout_ms = 3000);
    // Expects exactly this line next.
    void expect(const std::string &text, int timeout_ms = 3000);
    // True when the bridge sends nothing for ms milliseconds.
    bool quiet(int ms);
    void send(const std::string &bytes);
    void send_line(const std::string &text) { send(text + "\r\n"); }
    // Waits until the bridge has read every byte sent to it so far (the
    // line's input queue is empty); false after timeout_ms. A hang-up drops
    // whatever is still unread, so a test that cuts the line waits for this.
    bool drained(int timeout_ms = 5000);
    // Bytes sent that the bridge has not read from the line yet.
    int unread() const;
    // Expects the command, then answers it with one line.
    void answer(const std::string &command, const std::string &reply = "OK");
    // The start-up sequence, each command answered.
    void answer_startup();
    // "N" answered with "New Game".
    void answer_new_game();
    void close_master();
    // Holds (or lets go) what the bridge writes to the line, as a device
    // that has stopped reading does: the bridge's writes then wait.
    void hold_output(bool held);
    int master() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::string pending_;
};

// The bridge as a child process in a working directory.
class Bridge {
public:
    // extra_env: "NAME=VALUE" entries added to the environment; args: the
    // command-line arguments (GUIs give none).
    Bridge(const std::string &port_path, const std::string &workdir,
           const std::vector<std::string> &extra_env = {}, const std::vector<std::string> &args = {});
    ~Bridge();
    void send(const std::string &line);  // the line and "\n"
    void send_raw(const std::string &bytes);
    void close_stdin();
    // One standard-output line without its line end. False on time-out or end.
    bool read_line(std::string &out, int timeout_ms = 3000);
    std::string expect_line(int timeout_ms = 3000);
    void expect(const std::string &text, int timeout_ms = 3000);
    // True when nothing arrives on standard output for ms milliseconds.
    bool quiet(int ms);
    // Exit status, or -1 when it did not end in time (it is then killed).
    int wait_exit(int timeout_ms = 5000);
    // Everything written on standard error so far.
    std::string stderr_text();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string pending_;
    std::string err_text_;
    int status_ = -1;
    bool exited_ = false;
};

// Path of the bridge binary: PAWNBRIDGE_BINARY from the environment, else the
// one built beside the tests.
std::string bridge_binary();

// Under wine each COM port the run maps is a symbolic link that the run
// owns, named by a variable: PAWNBRIDGE_WINE_COM1_LINK (which Bridge points
// at its port before each start), PAWNBRIDGE_WINE_COM2_LINK. The link's
// path, or "" when the run gives none.
std::string wine_link(const std::string &variable);
// Points the link at a device's line before a start; false when there is
// no such link or it cannot be made.
bool point_wine_link(const std::string &variable, const std::string &device_path);
// The name the bridge gives the port of a Bridge started on this line: the
// line itself, or under wine the COM port mapped to it (PAWNBRIDGE_COM1's
// value, else COM1).
std::string bridge_port_name(const std::string &port_path);

// CPU time (user + system) of a process in milliseconds, from /proc.
long cpu_ms(pid_t pid);
// Bytes a process has taken in through read calls so far, from /proc; -1
// when that cannot be read.
long bytes_read(pid_t pid);

// Stands for a session-log time stamp in a log_matches pattern.
inline const std::string STAMP = "\x01";
// True when the 24 characters at the offset have a time stamp's shape,
// as in "Sat Dec 05 14:03:09 1998".
bool stamp_at(const std::string &text, std::size_t at);
// Whether the pattern occurs in the text: its characters stand for
// themselves, STAMP for a time stamp; a leading '^' ties it to the start of
// the text, a trailing '$' to the end.
bool log_matches(const std::string &text, const std::string &pattern);

// Waits until the file in the directory holds the text after the last
// occurrence of `after` (from its start when `after` is empty), for at most
// ms milliseconds: the bridge's own record that it has got that far.
bool file_reaches(const TempDir &dir, const std::string &name, const std::string &text,
                  const std::string &after = "", int ms = 5000);
