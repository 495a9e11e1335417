// The results file written when a race is over: a summary line, one line per
// finished rider in final order, then each finished rider's timing gates,
// one lap to a line. Lines end in "\r\n".
#pragma once

// "@results.txt" unless a test set another path.
const char *results_path();
void set_results_path(const char *path);
// Writes the final order of the race state (through a temporary file renamed
// into place). Returns 1 when the file was written.
int write_results(const char *path);
