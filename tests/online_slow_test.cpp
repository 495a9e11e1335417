// Online racing end to end on loopback, in real time: torvane-server and two
// torvane-race clients riding on the auto pilot, each a process of its own
// with standard input closed. Once on a clean line, once with 10% of the
// datagrams each client receives lost and the rest 100 ms late, with two
// robots on the server's grid and a password. Each run is a race on rabbithill that the
// server's clock ends (a short race limit), so it does not depend on anyone
// finishing a lap.
//
// Checked: both clients complete the handshake and race (distinct slots,
// real gate positions); each sees the other's states (and the robots'); the
// chat lines cross; both leave cleanly (exit status 0, "left" in the
// server's log, the race over by the server's clock). Ruts: whenever a rider
// got away from the grid and dug, its packets reach the other rider.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Starts a program with standard input from /dev/null and both outputs in
// files; returns its pid.
pid_t spawn(const std::vector<std::string> &args, const std::string &out, const std::string &err) {
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(127);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status, or -1 when the process had to be killed after `limit` s.
int wait_exit(pid_t pid, double limit) {
  double until = monotonic_seconds() + limit;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (monotonic_seconds() > until) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(20000);
  }
}

bool has_line(const std::string &text, const std::string &line) {
  size_t at = 0;
  while ((at = text.find(line, at)) != std::string::npos) {
    if ((at == 0 || text[at - 1] == '\n') && (at + line.size() == text.size() || text[at + line.size()] == '\n'))
      return true;
    at++;
  }
  return false;
}

// The number after "key: " on its line, -1 when there is none.
double value(const std::string &text, const std::string &key) {
  size_t at = text.find("\n" + key + ": ");
  if (at == std::string::npos) return -1;
  return atof(text.c_str() + at + key.size() + 3);
}

struct Client {
  std::string name, out, err;
  int status = -2;
  int slot = -1, gate = -1;
};

void read_client(Client *c) {
  std::string text = read_text_file(c->out);
  c->out = "\n" + text;
  c->err = read_text_file(c->err);
  size_t at = c->out.find("\nnet: slot ");
  if (at != std::string::npos) sscanf(c->out.c_str() + at, "\nnet: slot %d, gate position %d", &c->slot, &c->gate);
}

struct RaceRun {
  std::string dir;
  std::string server_log;
  Client clients[2];
};

// One race: the server, then both clients; returns what they printed.
void race(const std::string &tag, const std::vector<std::string> &server_extra,
          const std::vector<std::string> &client_extra, RaceRun *run) {
  std::string bin = TORVANE_BIN_DIR;
  std::string dir = make_temp_dir(tag.c_str());
  run->dir = dir;
  std::vector<std::string> server = {bin + "/torvane-server", "--bind", "127.0.0.1", "--port", "0",
                                     "--home", dir + "/server", "--track", "rabbithill", "--laps", "1",
                                     "--gate-delay", "10", "--race-limit", "0.25", "--results-wait", "1",
                                     "--erode", "300", "--quit-after", "150"};
  server.insert(server.end(), server_extra.begin(), server_extra.end());
  std::string server_out = dir + "/server.txt";
  pid_t server_pid = spawn(server, server_out, dir + "/server.err");
  int port = 0;
  for (int k = 0; k < 400 && port == 0; k++) {
    usleep(25000);
    std::string log = read_text_file(server_out);
    size_t at = log.find("Listening on 127.0.0.1:");
    if (at != std::string::npos) port = atoi(log.c_str() + at + 23);
  }
  ASSERT_GT(port, 0) << read_text_file(server_out);

  const char *names[2] = {"Alpha", "Bravo"};
  pid_t pids[2];
  for (int i = 0; i < 2; i++) {
    Client &c = run->clients[i];
    c.name = names[i];
    std::vector<std::string> args = {bin + "/torvane-race", "--home", dir + "/" + c.name, "--connect",
                                     "127.0.0.1:" + std::to_string(port), "--name", c.name,
                                     "--chat", "hello from " + c.name, "--no-progress", "--join-timeout", "60"};
    args.insert(args.end(), client_extra.begin(), client_extra.end());
    c.out = dir + "/" + c.name + ".txt";
    c.err = dir + "/" + c.name + ".err";
    pids[i] = spawn(args, c.out, c.err);
  }
  for (int i = 0; i < 2; i++) run->clients[i].status = wait_exit(pids[i], 150);
  kill(server_pid, SIGTERM);
  EXPECT_EQ(wait_exit(server_pid, 20), 0) << "the server did not stop on SIGTERM";
  run->server_log = read_text_file(server_out);
  for (Client &c : run->clients) read_client(&c);
}

void check(const RaceRun &run, int min_states, int robots) {
  const std::string &log = run.server_log;
  SCOPED_TRACE(log);
  const Client &a = run.clients[0], &b = run.clients[1];
  for (int i = 0; i < 2; i++) {
    const Client &me = run.clients[i], &other = run.clients[1 - i];
    SCOPED_TRACE(me.name + ":" + me.out + me.err);
    EXPECT_EQ(me.status, 0);
    // In the race with a start position, and gone again cleanly.
    EXPECT_GE(me.slot, 0);
    EXPECT_GE(me.gate, 0);
    EXPECT_LT(me.gate, 160);
    EXPECT_NE(log.find("Rider " + std::to_string(me.slot) + " (" + me.name + ") is in race 1, racing"),
              std::string::npos);
    EXPECT_NE(log.find("Rider " + std::to_string(me.slot) + " (" + me.name + ") left"), std::string::npos);
    // The other rider's states, and the robots'.
    EXPECT_GE(value(me.out, "net: states from slot " + std::to_string(other.slot)), min_states);
    for (int k = 0; k < robots; k++)
      EXPECT_GE(value(me.out, "net: states from slot " + std::to_string(159 - k)), min_states);
    // Both chat lines, each relayed once.
    EXPECT_TRUE(has_line(me.out, "chat: " + other.name + ": hello from " + other.name));
    EXPECT_TRUE(has_line(me.out, "chat: " + me.name + ": hello from " + me.name));
    EXPECT_EQ(value(me.out, "net: chat received"), 2);
    // Both rode away from the grid once the gates dropped, dug ruts on the
    // way, and each got the other's.
    EXPECT_GT(value(me.out, "net: travelled feet"), 100);
    EXPECT_GE(value(me.out, "net: erodes sent"), 3);
    EXPECT_GE(value(other.out, "net: erodes from others"), 1);
  }
  EXPECT_NE(a.slot, b.slot);
  EXPECT_NE(a.gate, b.gate);
  EXPECT_NE(log.find("Race 1 over (time limit reached)"), std::string::npos);
  if (robots > 0) {
    EXPECT_NE(log.find("Robots: " + std::to_string(robots) + " in race 1"), std::string::npos);
  }
}

TEST(OnlineEndToEnd, TwoClientsRaceOnACleanLine) {
  RaceRun run;
  race("online_clean", {}, {}, &run);
  check(run, 200, 0);
}

TEST(OnlineEndToEnd, TwoClientsRaceThroughLossAndLagWithRobots) {
  RaceRun run;
  race("online_lossy", {"--robots", "2", "--password", "sesame"},
       {"--fake-loss", "10", "--fake-lag", "100", "--password", "sesame"}, &run);
  check(run, 100, 2);
}

}  // namespace

// Console lines online: a chat line typed in the console reaches the other
// rider, and "namedemo" names the recording of the server's race.
TEST(OnlineEndToEnd, ConsoleChatAndDemoName) {
  RaceRun run;
  race("online_console", {}, {"--command", "typed in the console", "--command", "/namedemo online1", "--demos"},
       &run);
  SCOPED_TRACE(run.server_log);
  for (int i = 0; i < 2; i++) {
    const Client &me = run.clients[i], &other = run.clients[1 - i];
    SCOPED_TRACE(me.name + ":" + me.out + me.err);
    EXPECT_EQ(me.status, 0);
    EXPECT_TRUE(has_line(me.out, "command: typed in the console: handled"));
    EXPECT_TRUE(has_line(me.out, "chat: " + other.name + ": typed in the console"));
    EXPECT_TRUE(has_line(me.out, "message: Demo name updated"));
    std::string demos = run.dir + "/" + me.name + "/torvane/demos/";
    EXPECT_TRUE(file_exists(demos + "online1.qxdemo"));
    EXPECT_FALSE(file_exists(demos + "default.qxdemo"));
    EXPECT_EQ(read_text_file(demos + "online1.qxdemo").rfind("QX06 ", 0), 0u);
  }
}
