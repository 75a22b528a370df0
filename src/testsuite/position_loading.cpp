// A FEN piece placement set up on the device with one position command:
// "PCW", the white pieces kind by kind, "B", the black ones, and the side to
// move.
#include <cstring>

#include "device.h"
#include "testsuite.h"

namespace {

constexpr char PIECE_LETTERS[] = "PNBRQKpnbrqk";
constexpr int PIECE_KINDS = 12;
constexpr int SLOTS_PER_KIND = 8;  // the command carries at most eight squares of a kind
constexpr signed char FREE_SLOT = 127;
constexpr std::size_t COMMAND_SIZE = 256;

// Appends one character while room for it and the terminating zero remains.
void append(char *command, std::size_t &length, char c) {
    if (length + 1 < COMMAND_SIZE)
        command[length++] = c;
    command[length] = '\0';
}

void append_kind(char *command, std::size_t &length, int kind, const signed char *squares) {
    if (squares[0] == FREE_SLOT)
        return;
    append(command, length, PIECE_LETTERS[kind]);
    for (int slot = 0; slot < SLOTS_PER_KIND && squares[slot] != FREE_SLOT; ++slot) {
        append(command, length, static_cast<char>('a' + squares[slot] % 8));
        append(command, length, static_cast<char>('1' + squares[slot] / 8));
    }
}

}  // namespace

int load_position(const char *placement, char side) {
    signed char squares[PIECE_KINDS][SLOTS_PER_KIND];
    std::memset(squares, FREE_SLOT, sizeof squares);

    // Rank and file of the next square; both are held just past the board's
    // edge once they leave it, so that no run of digits or separators can
    // overflow them.
    int rank = 7;
    int file = 0;
    const char *p = placement;
    if (*p == '/')
        ++p;
    for (; *p != '\0'; ++p) {
        char c = *p;
        if (c == '/') {
            if (rank >= 0)
                --rank;
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
            if (file > 8)
                file = 8;
        } else {
            const char *letter = std::strchr(PIECE_LETTERS, c);
            if (letter == nullptr || rank < 0 || file > 7)
                return 0;
            int kind = static_cast<int>(letter - PIECE_LETTERS);
            int slot = 0;
            while (slot < SLOTS_PER_KIND && squares[kind][slot] != FREE_SLOT)
                ++slot;
            // A ninth piece of one kind cannot be told to the device: the
            // placement is refused like any other impossible one.
            if (slot == SLOTS_PER_KIND)
                return 0;
            squares[kind][slot] = static_cast<signed char>(file + 8 * rank);
            ++file;
        }
    }

    char command[COMMAND_SIZE];
    std::size_t length = 0;
    for (const char *c = "PCW"; *c != '\0'; ++c)
        append(command, length, *c);
    for (int kind = 0; kind < 6; ++kind)
        append_kind(command, length, kind, squares[kind]);
    append(command, length, 'B');
    for (int kind = 6; kind < PIECE_KINDS; ++kind)
        append_kind(command, length, kind, squares[kind]);
    if (side == 'w')
        append(command, length, '+');
    else if (side == 'b')
        append(command, length, '-');

    send_device(command);
    // The device's answer is read so that it is logged and out of the way;
    // what it says does not matter.
    read_device(command);
    return 1;
}
