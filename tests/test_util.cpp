#include "test_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

namespace {
pid_t xvfb_pid = 0;

void stop_xvfb() {
  if (xvfb_pid > 0) {
    kill(xvfb_pid, SIGTERM);
    waitpid(xvfb_pid, nullptr, 0);
    xvfb_pid = 0;
  }
}
}  // namespace

bool ensure_x_display() {
  const char *display = getenv("DISPLAY");
  if (display && display[0]) return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  xvfb_pid = fork();
  if (xvfb_pid == 0) {
    close(fds[0]);
    char fd[16];
    snprintf(fd, sizeof fd, "%d", fds[1]);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0 && !getenv("TORVANE_XVFB_LOG")) dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset",
           (char *)nullptr);
    _exit(127);
  }
  close(fds[1]);
  // The server writes its display number when it is ready. The pipe's read
  // end stays open while it runs: it treats a failed write as fatal.
  std::string number;
  char c;
  while (xvfb_pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  if (number.empty()) {
    stop_xvfb();
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  atexit(stop_xvfb);
  return true;
}
