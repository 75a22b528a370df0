// The xboard/WinBoard protocol: its command loop, the protocol-2 features,
// setboard, analysis mode and its output forms.
#pragma once

#include <cstddef>

// The session after its first line, which need not be "xboard": the
// protocol of a GUI that does not open with "uci".
void run_xboard_session(const char *first_line);
// The protocol's own state back to its start, and the forms of its first
// version: what a session begins with.
void begin_xboard_session();
// Logs and acts on one GUI line already in command_line.
void dispatch_command();
// "option NAME=VALUE" read: the name (cut to fit: then no option of ours)
// and where the value begins; 0 when the line sets no option.
int read_option(const char *line, char *name, std::size_t name_size, const char **value);
// The forms of the protocol's first version (below 2) or second.
void use_xboard_front_end(int version);
