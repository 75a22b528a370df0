#include "display.hpp"

#include <time.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "engine_process.hpp"

namespace driver {

namespace {

std::string pawns(int centipawns) {
    char buffer[32];
    int magnitude = centipawns < 0 ? -centipawns : centipawns;
    std::snprintf(buffer, sizeof buffer, "%c%d.%02d", centipawns < 0 ? '-' : '+', magnitude / 100,
                  magnitude % 100);
    return buffer;
}

// The bridge writes mates as scores just inside 100 pawns.
constexpr int MATE_CENTIPAWNS = 9900;

char piece_letter(chess::Piece p) {
    static const char letters[] = " PNBRQK";
    int type = chess::type_of(p);
    if (p == chess::EMPTY || type < 1 || type > 6)
        return '.';
    char c = letters[type];
    return chess::color_of(p) == chess::WHITE ? c : static_cast<char>(std::tolower(c));
}

}  // namespace

std::optional<Thought> parse_thinking(const std::string &line) {
    Thought t;
    if (line == "1 0 100 0 (Book)") {
        t.book = true;
        return t;
    }
    int ply = 0, centipawns = 0, used = 0;
    long long seconds = 0, nodes = 0;
    char marker = ' ';
    // The marker may be a blank, which %c takes as it is.
    if (std::sscanf(line.c_str(), "%d%c %d %lld %lld%n", &ply, &marker, &centipawns, &seconds, &nodes,
                    &used) != 5)
        return std::nullopt;
    t.ply = ply;
    if (centipawns >= MATE_CENTIPAWNS)
        t.score = "mate";
    else if (centipawns <= -MATE_CENTIPAWNS)
        t.score = "-mate";
    else
        t.score = pawns(centipawns);
    t.seconds = seconds;
    t.nodes = nodes;
    std::size_t pv = static_cast<std::size_t>(used);
    while (pv < line.size() && line[pv] == ' ')
        ++pv;
    t.pv = line.substr(pv);
    return t;
}

std::optional<Thought> parse_device_analysis(const std::string &line) {
    Thought t;
    if (line.find("Book") != std::string::npos) {
        t.book = true;
        return t;
    }
    char status[8];
    char score[32];
    int depth = 0, count = 0, h = 0, m = 0, s = 0, searched = 0, total = 0, used = -1;
    long long nps = 0;
    const char *text = line.c_str();
    if (std::sscanf(text, "%7s d %d n %d %d:%d:%d %d/ %d %lld/s %n", status, &depth, &count, &h, &m,
                    &s, &searched, &total, &nps, &used) == 9) {
        t.score = "mate in " + std::to_string(count);
    } else if (std::sscanf(text, "%7s d %d -n %d %d:%d:%d %d/ %d %lld/s %n", status, &depth, &count,
                           &h, &m, &s, &searched, &total, &nps, &used) == 9) {
        t.score = "mated in " + std::to_string(count);
    } else if (std::sscanf(text, "%7s d %d %31s %d:%d:%d %d/ %d %lld/s %n", status, &depth, score, &h,
                           &m, &s, &searched, &total, &nps, &used) == 9) {
        char *end = nullptr;
        double value = std::strtod(score, &end);
        if (end != score && *end == '\0')
            t.score = pawns(static_cast<int>(value * 100.0 + (value < 0 ? -0.5 : 0.5)));
        else
            t.score = score;
    } else {
        return std::nullopt;
    }
    if (used < 0)
        used = static_cast<int>(line.size());
    t.ply = depth;
    t.seconds = static_cast<long long>(h) * 3600 + m * 60 + s;
    t.nodes = nps * t.seconds;
    t.pv = line.substr(static_cast<std::size_t>(used));
    return t;
}

std::string format_thought(const Thought &t) {
    if (t.book)
        return "       book move";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "   %3d  %-11s %4llds %9lld nodes  ", t.ply, t.score.c_str(),
                  t.seconds, t.nodes);
    return buffer + t.pv;
}

void ThinkingView::add(const Thought &t) {
    last_ = t;
    // A deeper search that only confirms the same line is shown as one line
    // too, at its latest depth.
    if (pending_ && (pending_->score != t.score || pending_->pv != t.pv || pending_->book != t.book)) {
        std::fprintf(out_, "%s\n", format_thought(*pending_).c_str());
        pending_.reset();
    }
    print_notes();
    pending_ = t;
}

void ThinkingView::note(const std::string &text) {
    if (pending_)
        notes_.push_back(text);
    else
        std::fprintf(out_, "%s\n", text.c_str());
}

void ThinkingView::flush() {
    if (pending_)
        std::fprintf(out_, "%s\n", format_thought(*pending_).c_str());
    pending_.reset();
    print_notes();
}

void ThinkingView::print_notes() {
    for (const std::string &text : notes_)
        std::fprintf(out_, "%s\n", text.c_str());
    notes_.clear();
}

std::vector<std::string> board_rows(const chess::Position &pos, int from, int to,
                                    const std::vector<std::string> &beside) {
    std::vector<std::string> rows;
    auto with_beside = [&](std::string row) {
        std::size_t i = rows.size();
        if (i < beside.size() && !beside[i].empty()) {
            row += "      " + beside[i];
            row.erase(row.find_last_not_of(' ') + 1);
        }
        rows.push_back(row);
    };
    with_beside("      a  b  c  d  e  f  g  h");
    for (int rank = 7; rank >= 0; --rank) {
        std::string row = "   " + std::to_string(rank + 1) + " ";
        for (int file = 0; file < 8; ++file) {
            int sq = chess::square(file, rank);
            char c = piece_letter(pos.at(sq));
            bool marked = sq == from || sq == to;
            row += marked ? '[' : ' ';
            row += c;
            row += marked ? ']' : ' ';
        }
        row += " " + std::to_string(rank + 1);
        with_beside(row);
    }
    with_beside("      a  b  c  d  e  f  g  h");
    return rows;
}

std::string san(const chess::Position &pos, const chess::Move &m) {
    chess::Piece piece = pos.at(m.from);
    int type = chess::type_of(piece);
    std::string text;
    if (type == chess::KING && (m.flags & chess::FLAG_CASTLE)) {
        text = chess::file_of(m.to) > chess::file_of(m.from) ? "O-O" : "O-O-O";
    } else {
        bool capture = m.is_capture() || (m.flags & chess::FLAG_EN_PASSANT);
        if (type == chess::PAWN) {
            if (capture)
                text += static_cast<char>('a' + chess::file_of(m.from));
        } else {
            text += "PNBRQK"[type - 1];
            // Another piece of the kind that can go there: name the file, or
            // the rank, or both.
            chess::MoveList legal;
            pos.generate_legal(legal);
            bool other = false, same_file = false, same_rank = false;
            for (const chess::Move &o : legal) {
                if (o.to != m.to || o.from == m.from || pos.at(o.from) != piece)
                    continue;
                other = true;
                same_file |= chess::file_of(o.from) == chess::file_of(m.from);
                same_rank |= chess::rank_of(o.from) == chess::rank_of(m.from);
            }
            if (other) {
                std::string from = chess::square_name(m.from);
                if (!same_file)
                    text += from[0];
                else if (!same_rank)
                    text += from[1];
                else
                    text += from;
            }
        }
        if (capture)
            text += 'x';
        text += chess::square_name(m.to);
        if (m.promo != chess::NO_TYPE) {
            text += '=';
            text += "PNBRQK"[m.promo - 1];
        }
    }
    chess::Position after = pos;
    after.make(m);
    if (after.in_check())
        text += after.has_legal_move() ? "+" : "#";
    return text;
}

void GameRecord::add(const chess::Position &pos, const chess::Move &m) {
    moves_.push_back({pos.fullmove_number(), pos.side() == chess::WHITE, san(pos, m)});
}

std::vector<std::string> GameRecord::recent(int rows) const {
    // One row per full move; a game the device starts as Black begins with
    // White's move alone.
    std::vector<std::string> out;
    char buffer[64];
    for (std::size_t i = 0; i < moves_.size();) {
        const Entry &e = moves_[i];
        std::string white = e.white ? e.text : "...";
        std::string black;
        std::size_t used = 1;
        if (!e.white)
            black = e.text;
        else if (i + 1 < moves_.size() && !moves_[i + 1].white) {
            black = moves_[i + 1].text;
            used = 2;
        }
        std::snprintf(buffer, sizeof buffer, "%3d. %-8s %s", e.number, white.c_str(), black.c_str());
        std::string row = buffer;
        row.erase(row.find_last_not_of(' ') + 1);
        out.push_back(row);
        i += used;
    }
    if (out.size() > static_cast<std::size_t>(rows))
        out.erase(out.begin(), out.end() - rows);
    return out;
}

std::vector<std::string> GameRecord::wrapped(std::size_t width) const {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < moves_.size(); ++i) {
        const Entry &e = moves_[i];
        std::string word;
        if (e.white)
            word = std::to_string(e.number) + ". " + e.text;
        else if (i == 0)
            word = std::to_string(e.number) + "... " + e.text;
        else
            word = e.text;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

void pause_until(long long until_ms) {
    long long left = until_ms - now_ms();
    if (left <= 0)
        return;
    timespec ts{static_cast<time_t>(left / 1000), static_cast<long>((left % 1000) * 1000000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace driver
