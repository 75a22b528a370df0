#include "book.hpp"

#include <algorithm>
#include <sstream>
#include <string>

namespace chess {

namespace {

// Main lines, White's and Black's moves in turn from the start position. A
// line stops being followed at its first move that is not legal, so a typing
// slip can only shorten the book, never corrupt a game.
const char *const LINES[] = {
    // Open games
    "e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4 g8f6 e1g1 f8e7 f1e1 b7b5 a4b3 d7d6 c2c3 e8g8",
    "e2e4 e7e5 g1f3 b8c6 f1b5 g8f6 e1g1 f6e4 d2d4 e4d6",
    "e2e4 e7e5 g1f3 b8c6 f1c4 f8c5 c2c3 g8f6 d2d4 e5d4 c3d4 c5b4",
    "e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 d2d3 f8e7 e1g1 e8g8",
    "e2e4 e7e5 g1f3 b8c6 d2d4 e5d4 f3d4 g8f6 d4c6 b7c6",
    "e2e4 e7e5 g1f3 g8f6 f3e5 d7d6 e5f3 f6e4 d2d4 d6d5",
    "e2e4 e7e5 b1c3 g8f6 g1f3 b8c6",
    // Sicilian
    "e2e4 c7c5 g1f3 d7d6 d2d4 c5d4 f3d4 g8f6 b1c3 a7a6 c1e3 e7e5",
    "e2e4 c7c5 g1f3 b8c6 d2d4 c5d4 f3d4 g8f6 b1c3 e7e5",
    "e2e4 c7c5 g1f3 e7e6 d2d4 c5d4 f3d4 a7a6 f1d3",
    "e2e4 c7c5 b1c3 b8c6 g2g3 g7g6 f1g2 f8g7",
    "e2e4 c7c5 c2c3 g8f6 e4e5 f6d5 d2d4 c5d4",
    // French, Caro-Kann, Scandinavian, Pirc
    "e2e4 e7e6 d2d4 d7d5 b1c3 g8f6 c1g5 f8e7 e4e5 f6d7",
    "e2e4 e7e6 d2d4 d7d5 b1d2 c7c5 e4d5 e6d5",
    "e2e4 c7c6 d2d4 d7d5 b1c3 d5e4 c3e4 c8f5 e4g3 f5g6",
    "e2e4 c7c6 d2d4 d7d5 e4e5 c8f5 g1f3 e7e6",
    "e2e4 d7d5 e4d5 d8d5 b1c3 d5a5 d2d4 g8f6",
    "e2e4 d7d6 d2d4 g8f6 b1c3 g7g6 g1f3 f8g7",
    // Queen's pawn
    "d2d4 d7d5 c2c4 e7e6 b1c3 g8f6 c1g5 f8e7 e2e3 e8g8 g1f3",
    "d2d4 d7d5 c2c4 c7c6 g1f3 g8f6 b1c3 d5c4 a2a4 c8f5",
    "d2d4 d7d5 c2c4 d5c4 g1f3 g8f6 e2e3 e7e6 f1c4 c7c5",
    "d2d4 d7d5 g1f3 g8f6 c1f4 e7e6 e2e3 c7c5",
    "d2d4 g8f6 c2c4 e7e6 b1c3 f8b4 e2e3 e8g8 f1d3 d7d5",
    "d2d4 g8f6 c2c4 e7e6 g1f3 b7b6 g2g3 c8b7 f1g2 f8e7",
    "d2d4 g8f6 c2c4 g7g6 b1c3 f8g7 e2e4 d7d6 g1f3 e8g8 f1e2 e7e5",
    "d2d4 g8f6 c2c4 g7g6 b1c3 d7d5 c4d5 f6d5 e2e4 d5c3 b2c3 f8g7",
    "d2d4 g8f6 c2c4 c7c5 d4d5 e7e6 b1c3 e6d5 c4d5 d7d6",
    "d2d4 f7f5 g2g3 g8f6 f1g2 e7e6 g1f3",
    // Flank openings
    "c2c4 e7e5 b1c3 g8f6 g1f3 b8c6 g2g3 d7d5",
    "c2c4 g8f6 b1c3 e7e6 g1f3 d7d5 d2d4",
    "c2c4 c7c5 g1f3 g8f6 b1c3 b8c6",
    "g1f3 d7d5 d2d4 g8f6 c2c4 e7e6",
    "g1f3 g8f6 c2c4 g7g6 b1c3 f8g7 e2e4 d7d6",
    // Answers to weaker first moves
    "f2f3 e7e5",
    "f2f4 d7d5 g1f3 g8f6",
    "b2b3 e7e5 c1b2 b8c6",
    "g2g3 d7d5 f1g2 g8f6",
    "b1c3 d7d5 e2e4 d5d4",
    "a2a3 e7e5",
    "h2h3 e7e5",
    "e2e3 e7e5",
    "d2d3 e7e5",
};

}  // namespace

Book::Book() {
    for (const char *line : LINES)
        add_line(line);
}

void Book::add_line(const char *line) {
    Position pos = Position::start();
    std::istringstream in(line);
    std::string text;
    while (in >> text) {
        auto move = pos.parse_coordinate(text);
        if (!move) {
            broken_.push_back(line);
            return;
        }
        auto &list = entries_[pos.hash()];
        auto found = std::find_if(list.begin(), list.end(), [&](const Candidate &c) { return c.move == *move; });
        if (found != list.end())
            ++found->weight;
        else
            list.push_back({*move, 1});
        pos.make(*move);
    }
}

std::vector<Move> Book::moves(const Position &pos) const {
    std::vector<Move> out;
    auto it = entries_.find(pos.hash());
    if (it == entries_.end())
        return out;
    auto list = it->second;
    std::stable_sort(list.begin(), list.end(),
                     [](const Candidate &a, const Candidate &b) { return a.weight > b.weight; });
    for (const auto &c : list)
        out.push_back(c.move);
    return out;
}

std::optional<Move> Book::pick(const Position &pos, std::uint64_t random) const {
    auto it = entries_.find(pos.hash());
    if (it == entries_.end() || it->second.empty())
        return std::nullopt;
    int total = 0;
    for (const auto &c : it->second)
        total += c.weight;
    int at = static_cast<int>(random % static_cast<std::uint64_t>(total));
    for (const auto &c : it->second) {
        if (at < c.weight) {
            // A book entry is only played when it is legal here: the hash
            // could in principle meet a position the book never saw.
            return pos.find_legal(c.move.from, c.move.to, c.move.promo);
        }
        at -= c.weight;
    }
    return std::nullopt;
}

}  // namespace chess
