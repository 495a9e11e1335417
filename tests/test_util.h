// Helpers shared by the tests: scratch directories and small files.
#pragma once
#include <string>

// A fresh empty directory under the build tree, removed at exit.
std::string make_temp_dir(const char *tag);
void write_text_file(const std::string &path, const std::string &content);
std::string read_text_file(const std::string &path);
bool file_exists(const std::string &path);

// Makes sure an X display is there for GL tests: the one in DISPLAY, or an
// Xvfb started for this process (stopped at exit). False when neither works.
bool ensure_x_display();
