// The device's analysis lines, relayed to the interface as thinking lines,
// with a whisper to the chess server when the score moves far enough.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core.h"
#include "translate.h"

int in_book = 0;
float last_score = 0.0f;

namespace {

// Mate scores: the device reports mates as move counts, the interface wants
// a score just inside 100 pawns that shrinks with the distance to mate.
constexpr float MATE_SCORE = 99.99f;
constexpr float MATE_STEP = 0.01f;

// A score has to move this far (either way, bound included) between two
// settled lines before it is whispered.
constexpr float WHISPER_STEP = 0.75f;

char marker_for(const char *status) {
    if (status[0] != '.')
        return ' ';
    switch (status[1]) {
    case '\0': return '&';
    case '+': return '.';
    case '=': return '.';
    case '<': return '-';
    case '>': return '+';
    default: return ' ';
    }
}

// Centipawns truncated toward zero from the double product; an absurd score
// is held at the ends of the int range instead of overflowing the conversion.
int centipawns(float score) {
    double product = static_cast<double>(score) * 100.0;
    if (std::isnan(product))
        return 0;
    if (product >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (product <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(product);
}

// The score exactly as the device wrote it, in centipawns: its 0.13 is 13,
// where the float read for the first protocol's line, just below 0.13,
// truncates to 12. Read from the text again, in double precision, and
// rounded to the nearest centipawn.
long long exact_centipawns(const char *text, int length) {
    char number[64];
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof number)
        return 0;
    std::memcpy(number, text, static_cast<std::size_t>(length));
    number[length] = '\0';
    double cp = std::strtod(number, nullptr) * 100.0;
    if (std::isnan(cp))
        return 0;
    if (cp >= 1e15 || cp <= -1e15)
        return cp > 0 ? 1000000000000000LL : -1000000000000000LL;
    return std::llround(cp);
}

// A mate score in centipawns, exact: 99.99 pawns less a hundredth a move.
constexpr long long MATE_CENTIPAWNS = 9999;

long long saturating_product(long long a, long long b) {
    long long result;
    if (__builtin_mul_overflow(a, b, &result))
        return ((a < 0) != (b < 0)) ? LLONG_MIN : LLONG_MAX;
    return result;
}

}  // namespace

int parse_analysis_line(const char *line, AnalysisLine *out) {
    // Each pattern reads one byte more than the status token's area holds,
    // so that a token which fills it can be told from one that fits.
    static_assert(STATUS_TOKEN_SIZE == 4, "the scan widths below follow the token area");
    AnalysisLine &a = *out;
    std::memset(&a, 0, sizeof a);
    a.pv_offset = -1;
    a.score_at = a.score_end = -1;
    int layout = 0;
    int score_at = -1, score_end = -1;
    if (std::sscanf(line, "%4s d %d %n%f%n %d:%d:%d %d/ %d %d/s %n", a.status, &a.depth, &score_at,
                    &a.score, &score_end, &a.hours, &a.minutes, &a.seconds, &a.count_a, &a.count_b,
                    &a.speed, &a.pv_offset) == 9) {
        layout = 1;
        a.score_at = score_at;
        a.score_end = score_end;
    }
    else if (std::sscanf(line, "%4s d %d n %d %d:%d:%d %d/ %d %d/s %n", a.status, &a.depth,
                         &a.mate_count, &a.hours, &a.minutes, &a.seconds, &a.count_a, &a.count_b,
                         &a.speed, &a.pv_offset) == 9)
        layout = 2;
    else if (std::sscanf(line, "%4s d %d -n %d %d:%d:%d %d/ %d %d/s %n", a.status, &a.depth,
                         &a.mated_count, &a.hours, &a.minutes, &a.seconds, &a.count_a,
                         &a.count_b, &a.speed, &a.pv_offset) == 9)
        layout = 3;
    else {
        // The word is skipped rather than read, so that a word of any length
        // leaves the fields after it in reach; its first characters are
        // copied afterwards. Without the word's own conversion eight remain.
        int word_start = -1, word_end = -1;
        if (std::sscanf(line, "%4s d %d %n%*s%n %d:%d:%d %d/ %d %d/s %n", a.status, &a.depth,
                        &word_start, &word_end, &a.hours, &a.minutes, &a.seconds, &a.count_a,
                        &a.count_b, &a.speed, &a.pv_offset) == 8 &&
            word_start >= 0 && word_end > word_start) {
            std::size_t length = static_cast<std::size_t>(word_end - word_start);
            if (length > sizeof a.word - 1)
                length = sizeof a.word - 1;
            std::memcpy(a.word, line + word_start, length);
            a.word[length] = '\0';
            layout = 4;
        }
    }
    if (layout == 0)
        return 0;
    // All nine fields can convert while the "/s" after the speed is missing,
    // as in a line cut short: the principal variation is empty then.
    if (a.pv_offset < 0)
        a.pv_offset = static_cast<int>(std::strlen(line));
    if (std::strlen(a.status) >= static_cast<std::size_t>(STATUS_TOKEN_SIZE))
        return 0;
    return layout;
}

long long analysis_seconds(const AnalysisLine &a) {
    // Three ints cannot overflow a long long here: |h| * 3600 < 2^43.
    return static_cast<long long>(a.hours) * 3600 + static_cast<long long>(a.minutes) * 60 +
           a.seconds;
}

int relay_analysis(const char *line) {
    if (std::strstr(line, "Book")) {
        in_book = 1;
        front_end->book();
        return 1;
    }

    AnalysisLine a;
    if (!parse_analysis_line(line, &a))
        return 0;

    float score = 0.0f;
    int mate = 0;
    if (a.word[0] != '\0') {
        if (std::strcmp(a.word, "Mate") == 0)
            score = MATE_SCORE;
        else if (std::strcmp(a.word, "-Mate") == 0)
            score = -MATE_SCORE;
    } else if (a.mate_count > 0) {
        score = MATE_SCORE - static_cast<float>(a.mate_count) * MATE_STEP;
        mate = a.mate_count;
    } else if (a.mated_count > 0) {
        score = static_cast<float>(a.mated_count) * MATE_STEP - MATE_SCORE;
        mate = -a.mated_count;
    } else {
        score = a.score;
    }

    // Only settled lines ("=" after the status's first character) carry a
    // score worth keeping and whispering.
    if (a.status[0] != '\0' && a.status[1] == '=') {
        float difference = score - last_score;
        if (difference >= WHISPER_STEP || difference <= -WHISPER_STEP) {
            char text[64];
            if (mate != 0)
                std::snprintf(text, sizeof text, "Mate in %d", mate > 0 ? mate : -mate);
            else
                std::snprintf(text, sizeof text, "Score: %.2f (%+.2f)", static_cast<double>(score),
                              static_cast<double>(difference));
            front_end->whisper(text, std::strlen(text));
        }
        last_score = score;
        in_book = 0;
    }

    Thinking thinking;
    thinking.depth = a.depth;
    thinking.marker = marker_for(a.status);
    thinking.centipawns = centipawns(score);
    if (a.word[0] != '\0')
        thinking.exact_centipawns = score > 0 ? MATE_CENTIPAWNS : score < 0 ? -MATE_CENTIPAWNS : 0;
    else if (mate > 0)
        thinking.exact_centipawns = MATE_CENTIPAWNS - mate;
    else if (mate < 0)
        thinking.exact_centipawns = -MATE_CENTIPAWNS - mate;
    else
        thinking.exact_centipawns = exact_centipawns(line + a.score_at, a.score_end - a.score_at);
    thinking.mate = mate;
    thinking.seconds = analysis_seconds(a);
    thinking.nodes = saturating_product(a.speed, thinking.seconds);
    thinking.speed = a.speed;
    thinking.pv = line + a.pv_offset;
    front_end->thinking(thinking);
    return 1;
}

void relay_new_game() {
    in_book = 1;
    last_score = 0.0f;
}

void relay_position(int from_start) { in_book = from_start ? 1 : 0; }

void relay_forget_score() { last_score = 0.0f; }

RelayMemory relay_memory() { return RelayMemory{last_score, in_book}; }

void relay_restore(const RelayMemory &kept) {
    last_score = kept.last_score;
    in_book = kept.in_book;
}

void reset_relay() {
    in_book = 0;
    last_score = 0.0f;
}
