// Sending files to the race server: the client's side against a server
// written out by hand (what it queues, in what parts, when), and the
// server's side against a client written out by hand (what it writes, and
// every refusal).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "assets/file.h"
#include "net/client.h"
#include "net/file_transfer.h"
#include "net/protocol.h"
#include "net/server.h"
#include "net_scene.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

bool saw_message(const char *text) {
  for (int i = 0; i < message_visible_count(); i++)
    if (strcmp(message_line(i), text) == 0) return true;
  return false;
}

std::string bytes_of(int count, int seed) {
  std::string s;
  for (int i = 0; i < count; i++) s += static_cast<char>((i * 37 + seed) & 0xff);
  return s;
}

// The real client connected to a server made of one socket: it acknowledges
// every reliable message, answers "sendfile" as told, and keeps what came.
class FileSend : public ::testing::Test {
 protected:
  int server_socket = -1;
  int port = 0;
  NetAddress client_address;
  bool have_client = false;
  const char *answer = "sendready";
  int32_t server_sequence = 0;
  double now = 100;
  std::vector<std::string> texts;  // kind 24 payloads, each once, in order
  std::vector<double> arrival;     // when each was first seen
  std::vector<int32_t> seen;
  std::string outgoing;

  void SetUp() override {
    std::string home = make_temp_dir("sendfile");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    file_layer_reset_for_tests();
    outgoing = home + "/torvane/outgoing/";
    mkdir((home + "/torvane").c_str(), 0755);
    mkdir(outgoing.c_str(), 0755);
    message_clear();
    message_set_limit(100);
    NetHooks h = {};
    h.file_reply = file_send_reply;
    h.file_step = file_send_step;
    net_set_hooks(&h);
    server_socket = net_open();
    ASSERT_TRUE(net_bind(server_socket, "127.0.0.1", 0, &port));
    net_connect(("127.0.0.1:" + std::to_string(port)).c_str());
    run(0.05);
    ASSERT_TRUE(have_client);
  }
  void TearDown() override {
    file_send_cancel();
    net_leave();
    net_set_hooks(nullptr);
    net_close(server_socket);
    file_layer_reset_for_tests();
  }
  void send_server(ServerMessage m) {
    uint8_t out[net_datagram_buffer_size];
    int n = encode_server_message(&m, out, net_datagram_max);
    net_send(server_socket, out, n, &client_address);
  }
  void serve() {
    uint8_t raw[net_datagram_buffer_size];
    NetAddress from;
    int n;
    while ((n = net_receive(server_socket, raw, net_datagram_max, &from)) >= 0) {
      client_address = from;
      have_client = true;
      ClientMessage m;
      if (!decode_client_message(raw, n, &m) || m.type != msg_reliable) continue;
      ServerMessage ack = {};
      ack.type = msg_ack;
      ack.sequence = m.sequence;
      send_server(ack);
      bool again = false;
      for (int32_t s : seen) again |= s == m.sequence;
      if (again || m.kind != kind_text) continue;
      seen.push_back(m.sequence);
      texts.emplace_back(reinterpret_cast<const char *>(m.data), static_cast<size_t>(m.data_length));
      arrival.push_back(now);
      if (texts.back() == "sendfile" && answer) {
        ServerMessage reply = {};
        reply.type = msg_reliable;
        reply.sequence = server_sequence++;
        reply.kind = kind_text;
        reply.data = reinterpret_cast<const uint8_t *>(answer);
        reply.data_length = static_cast<int>(strlen(answer));
        send_server(reply);
      }
    }
  }
  void run(double seconds) {
    for (double until = now + seconds; now < until;) {
      now += seconds_per_tic;
      net_client_run(now);
      serve();
    }
  }
};

}  // namespace

TEST_F(FileSend, SixHundredBytesGoInPartsOf256_256And88ThenTheName) {
  std::string data = bytes_of(600, 1);
  data[3] = 0;  // any byte value travels
  write_text_file(outgoing + "my.trk", data);
  file_send_start("sendfile my.trk");
  EXPECT_TRUE(saw_message("Sending file"));
  run(2.0);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], "sendfile");
  const int sizes[3] = {256, 256, 88};
  std::string joined;
  for (int k = 0; k < 3; k++) {
    ASSERT_EQ(texts[1 + k].compare(0, 10, "sendpart -"), 0);
    EXPECT_EQ(texts[1 + k].size(), 10u + sizes[k]);
    joined += texts[1 + k].substr(10);
  }
  EXPECT_EQ(joined, data);
  EXPECT_EQ(texts[4], "namefile my.trk");
  // One part a quarter second.
  for (int k = 2; k < 5; k++) EXPECT_GE(arrival[k] - arrival[k - 1], 0.25 - 1e-9);
  EXPECT_FALSE(file_send_active());
}

TEST_F(FileSend, AnEmptyFileSendsOnlyTheName) {
  write_text_file(outgoing + "empty.trk", "");
  file_send_start("  sendfile   empty.trk");
  run(1.0);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "sendfile");
  EXPECT_EQ(texts[1], "namefile empty.trk");
}

TEST_F(FileSend, NothingGoesBeforeTheServerAgreesAndADenialStopsIt) {
  answer = nullptr;
  write_text_file(outgoing + "wait.trk", bytes_of(300, 2));
  file_send_start("sendfile wait.trk");
  run(1.0);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(file_send_active());
  ServerMessage denied = {};
  denied.type = msg_reliable;
  denied.sequence = server_sequence++;
  denied.kind = kind_text;
  denied.data = reinterpret_cast<const uint8_t *>("senddenied");
  denied.data_length = 10;
  send_server(denied);
  run(1.0);
  EXPECT_TRUE(saw_message("Send file denied"));
  EXPECT_FALSE(file_send_active());
  EXPECT_EQ(texts.size(), 1u);
}

TEST_F(FileSend, NamesThatAreRefused) {
  write_text_file(outgoing + "a", "x");
  file_send_start("sendfile a b");
  EXPECT_TRUE(saw_message("Filename may only contain alphanumeric characters, '_' or '.'"));
  message_clear();
  file_send_start("sendfile ../a");
  EXPECT_TRUE(saw_message("Filename may only contain alphanumeric characters, '_' or '.'"));
  file_send_start("sendfile ..");
  EXPECT_TRUE(saw_message("Filename may not be '.' or '..'"));
  file_send_start("sendfile");
  EXPECT_TRUE(saw_message("Usage: sendfile <filename>"));
  std::string longest(file_name_max, 'n');
  file_send_start(("sendfile " + longest + "n").c_str());
  EXPECT_TRUE(saw_message("Filename too long"));
  file_send_start("sendfile missing.trk");
  EXPECT_TRUE(saw_message("Can't open file"));
  run(0.5);
  EXPECT_TRUE(texts.empty());
  EXPECT_FALSE(file_send_active());
  EXPECT_EQ(file_name_problem(longest.c_str()), nullptr);
  EXPECT_EQ(file_name_problem("Track_2.trk"), nullptr);
}

TEST_F(FileSend, ASecondStartStopsTheFirst) {
  answer = nullptr;
  write_text_file(outgoing + "one", "1");
  write_text_file(outgoing + "two", "2");
  file_send_start("sendfile one");
  file_send_start("sendfile two");
  EXPECT_TRUE(saw_message("Stopping previous transfer"));
  EXPECT_TRUE(file_send_active());
}

// --- The server's side ------------------------------------------------------------

namespace {

std::vector<std::string> server_lines;
void keep_line(const char *line) { server_lines.push_back(line); }

bool logged(const std::string &part) {
  for (const std::string &line : server_lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

class ServerFiles : public ::testing::Test {
 protected:
  std::unique_ptr<RaceServer> server = std::make_unique<RaceServer>();
  ServerConfig config;
  std::string folder;
  double now = 10;

  void SetUp() override {
    server_lines.clear();
    local_server_config(&config, "track1");
    folder = make_temp_dir("received") + "/files";
    snprintf(config.accept_files, sizeof config.accept_files, "%s", folder.c_str());
    config.max_file_size = 1000;
    config.max_files = 2;
    server->log = keep_line;
  }
  void TearDown() override { server_stop(server.get()); }
  void start() { ASSERT_EQ(server_start(server.get(), &config, now), 1); }
  void run(ScriptedClient &c, double seconds = 0.05) {
    for (double until = now + seconds; now < until;) {
      now += seconds_per_tic;
      server_run(server.get(), now);
      c.pump();
    }
  }
  void greet(ScriptedClient &c) {
    ClientMessage m = {};
    m.type = msg_contact;
    m.protocol_value = contact_protocol_value;
    m.nonce = 77;
    c.send(m);
    run(c);
    ASSERT_GE(c.slot, 0);
  }
  void text(ScriptedClient &c, const std::string &t) {
    c.send_reliable(kind_text, t.data(), static_cast<int>(t.size()));
    run(c);
  }
  // The server's answers to file transfers, in order.
  std::vector<std::string> answers(const ScriptedClient &c) {
    std::vector<std::string> out;
    for (const std::string &t : c.reliable_texts(kind_text))
      if (t == "sendready" || t == "senddenied") out.push_back(t);
    return out;
  }
  std::vector<std::string> folder_names() {
    std::vector<std::string> names;
    std::string listing;
    FILE *p = popen(("ls -A " + folder).c_str(), "r");
    char line[512];
    while (p && fgets(line, sizeof line, p)) {
      line[strcspn(line, "\n")] = 0;
      names.push_back(line);
    }
    if (p) pclose(p);
    return names;
  }
};

}  // namespace

TEST_F(ServerFiles, ATransferIsWrittenAndNamedOnlyWhenComplete) {
  start();
  ScriptedClient c(server->port);
  greet(c);
  text(c, "sendfile");
  EXPECT_EQ(answers(c), std::vector<std::string>{"sendready"});
  std::string data = bytes_of(300, 5);
  data[10] = 0;
  text(c, "sendpart -" + data.substr(0, 256));
  text(c, "sendpart -" + data.substr(256));
  ASSERT_EQ(folder_names().size(), 1u);  // only the temporary file so far
  EXPECT_EQ(folder_names()[0][0], '.');
  text(c, "namefile got.trk");
  EXPECT_EQ(folder_names(), std::vector<std::string>{"got.trk"});
  EXPECT_EQ(read_text_file(folder + "/got.trk"), data);
  EXPECT_TRUE(logged("sent file got.trk (300 bytes)"));
  bool receipt = false;
  for (const std::string &t : c.reliable_texts(kind_chat)) receipt |= t == "File got.trk received";
  EXPECT_TRUE(receipt);
}

TEST_F(ServerFiles, RefusalsEachWithADenialAndALogLine) {
  start();
  ScriptedClient c(server->port);
  greet(c);
  // Too large: the rest of its parts and its name are then ignored.
  text(c, "sendfile");
  text(c, "sendpart -" + bytes_of(256, 1));
  text(c, "sendpart -" + bytes_of(256, 1));
  text(c, "sendpart -" + bytes_of(256, 1));
  text(c, "sendpart -" + bytes_of(256, 1));
  text(c, "namefile big.trk");
  EXPECT_TRUE(logged("file transfer refused (over 1000 bytes)"));
  // A bad name, and one that exists already.
  text(c, "sendfile");
  text(c, "sendpart -abc");
  text(c, "namefile a/b");
  EXPECT_TRUE(logged("bad name: Filename may only contain"));
  write_text_file(folder + "/kept.trk", "old");
  text(c, "sendfile");
  text(c, "sendpart -new");
  text(c, "namefile kept.trk");
  EXPECT_TRUE(logged("kept.trk: a file of that name exists"));
  EXPECT_EQ(read_text_file(folder + "/kept.trk"), "old");
  // A second transfer while one is open.
  text(c, "sendfile");
  text(c, "sendfile");
  EXPECT_TRUE(logged("a transfer is already open"));
  EXPECT_EQ(answers(c), (std::vector<std::string>{"sendready", "senddenied", "sendready", "senddenied", "sendready",
                                                  "senddenied", "sendready", "senddenied"}));
  EXPECT_EQ(folder_names(), std::vector<std::string>{"kept.trk"});
}

TEST_F(ServerFiles, AtMostMaxFilesPerRider) {
  start();
  ScriptedClient c(server->port);
  greet(c);
  for (const char *name : {"one", "two", "three"}) {
    text(c, "sendfile");
    text(c, "sendpart -x");
    text(c, std::string("namefile ") + name);
  }
  EXPECT_TRUE(file_exists(folder + "/one"));
  EXPECT_TRUE(file_exists(folder + "/two"));
  EXPECT_FALSE(file_exists(folder + "/three"));
  EXPECT_TRUE(logged("file transfer refused (2 files already)"));
}

TEST_F(ServerFiles, OffByDefaultAndARiderWhoLeavesLeavesNothing) {
  {
    ServerConfig off;
    local_server_config(&off, "track1");
    EXPECT_EQ(off.accept_files[0], 0);
    ASSERT_EQ(server_start(server.get(), &off, now), 1);
    ScriptedClient c(server->port);
    greet(c);
    text(c, "sendfile");
    EXPECT_EQ(answers(c), std::vector<std::string>{"senddenied"});
    EXPECT_TRUE(logged("file transfer refused (not accepting files)"));
    server_stop(server.get());
  }
  start();
  ScriptedClient c(server->port);
  greet(c);
  text(c, "sendfile");
  text(c, "sendpart -half");
  c.send_type(msg_disconnect);
  run(c);
  EXPECT_TRUE(folder_names().empty());
}
