#include "device_text.hpp"

#include "search.hpp"

#include <cstdio>
#include <cstdlib>

namespace emu {

std::string device_move(const chess::Position &before, const chess::Move &m) {
    std::string text = chess::square_name(m.from);
    bool capture = before.at(m.to) != chess::EMPTY || (m.flags & chess::FLAG_EN_PASSANT);
    text += capture ? 'x' : '-';
    text += chess::square_name(m.to);
    if (m.promo != chess::NO_TYPE) {
        text += '/';
        text += " PNBRQK"[m.promo];
    }
    return text;
}

std::string score_field(int score) {
    char buffer[32];
    if (chess::is_mate_score(score)) {
        int moves = chess::mate_moves(score);
        std::snprintf(buffer, sizeof buffer, "%sn %d", moves < 0 ? "-" : "", std::abs(moves));
    } else {
        std::snprintf(buffer, sizeof buffer, "%s%d.%02d", score < 0 ? "-" : "", std::abs(score) / 100,
                      std::abs(score) % 100);
    }
    return buffer;
}

std::string clock_field(long long elapsed_ms) {
    long long s = elapsed_ms < 0 ? 0 : elapsed_ms / 1000;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return buffer;
}

std::string analysis_line(const AnalysisFields &f, const chess::Position &pos, const std::vector<chess::Move> &pv) {
    char head[96];
    std::snprintf(head, sizeof head, "%.3s d %d %s %s %d/ %d %lld/s", f.status.c_str(), f.depth,
                  score_field(f.score).c_str(), clock_field(f.elapsed_ms).c_str(), f.searched, f.root_moves,
                  f.nodes_per_second);
    std::string line = head;
    chess::Position walk = pos;
    for (const chess::Move &m : pv) {
        // Only moves that are legal in turn: a variation taken from a stale
        // table entry must not show an impossible move.
        if (!walk.find_legal(m.from, m.to, m.promo))
            break;
        std::string text = device_move(walk, m);
        if (line.size() + 1 + text.size() > MAX_ANALYSIS_LINE)
            break;
        line += ' ';
        line += text;
        walk.make(m);
    }
    return line;
}

std::string move_reply(int move_number, const std::string &device_move, bool book) {
    return "M " + std::to_string(move_number) + ", " + device_move + (book ? " |" : " .");
}

}  // namespace emu
