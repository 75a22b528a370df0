// The device's analysis line, as read by the analysis relay and the test
// runner alike.
#pragma once

// Status tokens hold at most 3 characters; a longer one makes the line no
// analysis line rather than overrun its area. A score word keeps its first 15
// characters: whatever its length, a word other than "Mate" and "-Mate" is
// score 0 and the line is still an analysis line.
constexpr int STATUS_TOKEN_SIZE = 4;
constexpr int SCORE_WORD_SIZE = 16;

struct AnalysisLine {
    char status[STATUS_TOKEN_SIZE + 1];  // one spare byte to detect overlong tokens
    int depth;
    float score;       // score field of a plain number, 0.0 otherwise
    int mate_count;    // "n %d": mate for the side to move
    int mated_count;   // "-n %d": mate against it
    char word[SCORE_WORD_SIZE];  // a score given as a word ("Mate", "-Mate"), cut to fit
    int hours, minutes, seconds;
    int count_a, count_b;  // the two counts before the speed; not used
    int speed;             // nodes per second
    int pv_offset;         // where the principal variation starts in the line
};

// Matches the line against the four layouts in order. Returns the layout
// (1 to 4) of the first that converts all nine fields, or 0 when none does or
// the status token is longer than its area. Fields that an earlier, failed layout
// reached keep what it stored; everything else starts cleared.
int parse_analysis_line(const char *line, AnalysisLine *out);

// The line's search time in whole seconds, never overflowing.
long long analysis_seconds(const AnalysisLine &fields);
