// A small opening book: a few main lines of the common openings, looked up by
// position, so a line reached by another move order is still found.
#pragma once

#include "board.hpp"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace chess {

class Book {
public:
    Book();  // the built-in lines
    // The book moves of this position, most played first; empty when out of book.
    std::vector<Move> moves(const Position &pos) const;
    // One of them, chosen by the random value (the same value, the same move).
    std::optional<Move> pick(const Position &pos, std::uint64_t random) const;
    std::size_t positions() const { return entries_.size(); }
    // Built-in lines cut short by a move that is not legal where it stands.
    const std::vector<std::string> &broken_lines() const { return broken_; }

private:
    struct Candidate {
        Move move;
        int weight;
    };
    void add_line(const char *line);
    std::unordered_map<std::uint64_t, std::vector<Candidate>> entries_;
    std::vector<std::string> broken_;
};

}  // namespace chess
