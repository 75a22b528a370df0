// The test-suite runner: a file of positions with solution moves, each set
// up on the device and judged from the device's own analysis lines.
#pragma once

// The counts of the last run.
extern int solved_count;
extern int failed_count;

void run_test_suite(const char *argument);
int check_solution(const char *line, char *solutions, int limit);
int load_position(const char *placement, char side);
void reset_test_counts();
