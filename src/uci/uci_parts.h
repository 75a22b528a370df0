// What the UCI front end's own files share: reading words off a line, the
// game the device holds, and the commands of the reader.
#pragma once

#include <cstddef>
#include <cstring>

// The next blank-separated word at *at: its start and length; *at moves on.
inline const char *next_word(const char *&at, int &length) {
    while (*at == ' ' || *at == '\t')
        ++at;
    const char *start = at;
    while (*at != '\0' && *at != ' ' && *at != '\t')
        ++at;
    length = static_cast<int>(at - start);
    return start;
}

inline bool word_is(const char *word, int length, const char *text) {
    return static_cast<std::size_t>(length) == std::strlen(text) && std::strncmp(word, text, length) == 0;
}

// Tells the GUI why a line could not be followed.
void tell(const char *format, const char *text, int length);

// The game the device holds, and the GUI's lines that change it: a
// position, and a new game from the start position.
void uci_position(const char *line);
void start_from_the_start();
// Whether the device holds the game the GUI last asked for.
bool held_game_known();
// The device's move of a search: it goes on in the held game.
void note_searched_move(const char *move);
// The side to move and the plies follow the held game.
void follow_side();
void reset_held_game();

// "go": the level its clock asks for, and the search.
void uci_go(const char *line);
// The next clock is a new time control's: its level is chosen afresh.
void reset_search_clock();
