#include "test_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string make_temp_dir(const char *tag) {
  std::string pattern = std::string("/tmp/torvane-") + tag + "-XXXXXX";
  char *name = mkdtemp(pattern.data());
  if (!name) abort();
  return pattern;
}

void write_text_file(const std::string &path, const std::string &content) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::string command = "mkdir -p '" + dir + "'";
  if (system(command.c_str()) != 0) abort();
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string read_text_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}
