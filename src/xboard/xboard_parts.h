// What the xboard protocol's own files call of one another.
#pragma once

// A move from the GUI, in command_line: to the device, and in force mode
// that is all; otherwise the device's turn follows.
void handle_gui_move();
// "protover N" answered with the features, "ping N" with "pong N".
void handle_protover();
void handle_ping();
// "option NAME=VALUE": the GUI sets an engine option (the port).
void handle_option();
// A ping held while the device was to move, answered after its move.
void answer_ping(const char *line);
// "setboard FEN" set up on the device; nonzero when the position went there.
int handle_setboard();
// Analysis mode: "analyze" until "exit" (or the session's end).
void run_analysis();
void reset_analysis_status();
