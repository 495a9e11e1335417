// Feeds the race server's file transfers: one greeted rider sends a
// sequence of reliable texts ("sendfile", "sendpart -...", "namefile ...",
// or anything) to a server that accepts files into a scratch folder with
// small limits. Input: records of a 2-byte little-endian length and that
// many bytes of text. The folder is emptied after each input.
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "../net_scene.h"
#include "fuzz_file.h"
#include "net/server.h"

namespace {

void quiet(const char *) {}

void empty_folder(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    unlink((dir + "/" + e->d_name).c_str());
  }
  closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static RaceServer *server = nullptr;
  static ServerConfig config;
  static std::string folder = fuzz_scratch_path("received");
  if (!server) {
    server = new RaceServer();
    local_server_config(&config, "a");
    snprintf(config.accept_files, sizeof config.accept_files, "%s", folder.c_str());
    config.max_file_size = 2000;
    config.max_files = 3;
    server->log = quiet;
  }
  if (!server_start(server, &config, 0.0)) return 0;
  server->random_state = 1;
  NetAddress from;
  net_resolve(&from, "127.0.0.1", 9);
  from.in.sin_port = htons(40000);
  uint8_t buffer[net_datagram_buffer_size];
  ClientMessage m = {};
  m.type = msg_contact;
  m.protocol_value = contact_protocol_value;
  m.nonce = 5;
  int n = encode_client_message(&m, buffer, net_datagram_max);
  server_handle_datagram(server, buffer, n, &from, 0.0);
  ServerClient *rider = &server->clients[0];
  double now = 0;
  int32_t sequence = 0;
  size_t at = 0;
  while (at + 2 <= size && rider->state != server_client_free) {
    size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    if (length > size - at) length = size - at;
    if (length > static_cast<size_t>(reliable_payload_max)) length = reliable_payload_max;
    m = {};
    m.type = msg_reliable;
    m.slot = 0;
    m.connection_id = rider->connection_id;
    m.sequence = sequence++;
    m.kind = kind_text;
    m.data = data + at;
    m.data_length = static_cast<int>(length);
    n = encode_client_message(&m, buffer, net_datagram_max);
    if (n > 0) server_handle_datagram(server, buffer, n, &from, now);
    at += length;
    now += 0.01;
    server_run(server, now);
  }
  server_stop(server);
  empty_folder(folder);
  return 0;
}
