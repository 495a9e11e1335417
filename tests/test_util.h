// Helpers shared by the tests: scratch directories and small files.
#pragma once
#include <string>

// A fresh empty directory under the build tree, removed at exit.
std::string make_temp_dir(const char *tag);
void write_text_file(const std::string &path, const std::string &content);
std::string read_text_file(const std::string &path);
bool file_exists(const std::string &path);
