// torvane-relay: a UDP relay for loopback tests. Clients send to the relay's
// port instead of the race server's; each client gets a socket of its own
// toward the server, so the server sees one address per client, as it would
// without the relay. Both directions can lose a share of the datagrams and
// hold the rest back by a fixed lag, like a poor connection.
//
// With --record DIR it also writes what it delivers, in the input formats of
// the race fuzz targets: DIR/client_N holds what client N received (records
// of a 2-byte little-endian length and the bytes), DIR/server what the
// server received from all of them (records of one byte, 2 length bytes and
// the bytes; the first byte holds the sender in bits 0-1, bit 2 set, and the
// tics since the previous datagram in bits 3-7, at most 8: a recording's
// pauses are shortened so that the fuzz target's bounded time is spent on
// datagrams).
#include <poll.h>
#include <signal.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/number_text.h"
#include "app/options.h"
#include "app/types.h"
#include "net/transport.h"

namespace {

constexpr int max_clients = 32;
// Datagrams held back at once; a full queue loses the newest, as a
// congested link would.
constexpr int queue_slots = 4096;

struct Held {
  double due;
  int socket;
  NetAddress to;
  int length;
  uint8_t bytes[net_datagram_buffer_size];
};

struct Client {
  NetAddress address;  // where the client sends from
  int socket;          // toward the server
  FILE *record;        // what it received, or null
};

struct Relay {
  int listen;
  NetAddress server;
  double lag;
  int loss_percent;
  uint32_t draw;
  Client clients[max_clients];
  int client_count;
  Held *queue;
  int head, count;
  FILE *server_record;
  double last_to_server;
  long delivered, lost;
};

volatile sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }

double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void usage(FILE *out) {
  fprintf(out,
          "Usage: torvane-relay --to HOST:PORT [--port N] [--loss PERCENT] [--lag MS] [--seed N]\n"
          "                     [--record DIR] [--quit-after S]\n"
          "       torvane-relay --help | -h | --version\n"
          "Relays UDP datagrams between clients and a race server on 127.0.0.1, losing\n"
          "PERCENT of them in each direction and delaying the rest by MS milliseconds.\n"
          "It prints \"Relaying 127.0.0.1:PORT to HOST:PORT\" once it listens, and at the\n"
          "end how many datagrams it delivered and lost. --record writes what it\n"
          "delivers into DIR as inputs for the race fuzz targets.\n");
}

// Like the client's simulated loss: a small generator of its own, so one seed
// always loses the same datagrams.
bool lose(Relay *r) {
  if (r->loss_percent <= 0) return false;
  r->draw = r->draw * 1103515245u + 12345u;
  return static_cast<int>((r->draw >> 16) & 0x7fff) % 100 < r->loss_percent;
}

void write_record(FILE *f, int first, const uint8_t *bytes, int length) {
  if (!f) return;
  if (first >= 0) fputc(first, f);
  fputc(length & 0xff, f);
  fputc(length >> 8, f);
  fwrite(bytes, 1, static_cast<size_t>(length), f);
}

void hold(Relay *r, int socket, const NetAddress *to, const uint8_t *bytes, int length, double now) {
  if (lose(r) || r->count == queue_slots) {
    r->lost++;
    return;
  }
  Held &h = r->queue[(r->head + r->count) % queue_slots];
  r->count++;
  h.due = now + r->lag;
  h.socket = socket;
  h.to = *to;
  h.length = length;
  memcpy(h.bytes, bytes, static_cast<size_t>(length));
}

// Every held datagram whose time has come; the lag is the same for all, so
// the queue is in order of its due times.
void release(Relay *r, double now) {
  while (r->count > 0 && r->queue[r->head].due <= now) {
    Held &h = r->queue[r->head];
    r->head = (r->head + 1) % queue_slots;
    r->count--;
    net_send(h.socket, h.bytes, h.length, &h.to);
    r->delivered++;
    if (h.socket == r->listen) {
      for (Client &c : r->clients)
        if (&c - r->clients < r->client_count && net_same_address(&c.address, &h.to)) write_record(c.record, -1, h.bytes, h.length);
    } else if (r->server_record) {
      int sender = 0;
      for (int k = 0; k < r->client_count; k++)
        if (r->clients[k].socket == h.socket) sender = k;
      double tics = std::floor((now - r->last_to_server) * tics_per_second);
      int advance = tics < 0 ? 0 : tics > 8 ? 8 : static_cast<int>(tics);
      r->last_to_server = now;
      write_record(r->server_record, (sender & 3) | 4 | advance << 3, h.bytes, h.length);
    }
  }
}

Client *client_for(Relay *r, const NetAddress *from, const char *record_dir) {
  for (int k = 0; k < r->client_count; k++)
    if (net_same_address(&r->clients[k].address, from)) return &r->clients[k];
  if (r->client_count == max_clients) return nullptr;
  int socket = net_open();
  if (socket < 0 || !net_bind(socket, "127.0.0.1", 0, nullptr)) {
    fprintf(stderr, "torvane-relay: can't open a socket (%s)\n", net_error_name() ? net_error_name() : "?");
    if (socket >= 0) net_close(socket);
    return nullptr;
  }
  Client &c = r->clients[r->client_count];
  c.address = *from;
  c.socket = socket;
  c.record = nullptr;
  if (record_dir) {
    char path[1200];
    snprintf(path, sizeof path, "%s/client_%d", record_dir, r->client_count);
    c.record = fopen(path, "wb");
  }
  r->client_count++;
  return &c;
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const char *to = nullptr, *record_dir = nullptr;
  double port = 0, loss = 0, lag_ms = 0, seed = 1, quit_after = 0;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      usage(stdout);
      return 0;
    } else if (!strcmp(a, "--version")) {
      printf("torvane-relay %s\n", torvane_version);
      return 0;
    } else if (!strcmp(a, "--to")) {
      ok = v && *v;
      to = v;
    } else if (!strcmp(a, "--port")) {
      ok = parse_double_within(v, 0, 65535, &port);
    } else if (!strcmp(a, "--loss")) {
      ok = parse_double_within(v, 0, 100, &loss);
    } else if (!strcmp(a, "--lag")) {
      ok = parse_double_within(v, 0, 10000, &lag_ms);
    } else if (!strcmp(a, "--seed")) {
      ok = parse_double_within(v, 0, 4294967295.0, &seed);
    } else if (!strcmp(a, "--record")) {
      ok = v && *v;
      record_dir = v;
    } else if (!strcmp(a, "--quit-after")) {
      ok = parse_double_within(v, 0, 1e6, &quit_after);
    } else {
      fprintf(stderr, "torvane-relay: unknown option '%s'\n", a);
      usage(stderr);
      return 1;
    }
    if (!ok) {
      fprintf(stderr, "torvane-relay: bad or missing value for %s\n", a);
      return 1;
    }
    i++;
  }
  if (!to) {
    fprintf(stderr, "torvane-relay: --to HOST:PORT is needed\n");
    usage(stderr);
    return 1;
  }

  static Relay r;
  r.lag = lag_ms * 0.001;
  r.loss_percent = static_cast<int>(loss);
  r.draw = static_cast<uint32_t>(seed);
  if (!net_resolve(&r.server, to, net_default_port)) {
    fprintf(stderr, "torvane-relay: can't resolve %s\n", to);
    return 1;
  }
  r.listen = net_open();
  int bound = 0;
  if (r.listen < 0 || !net_bind(r.listen, "127.0.0.1", static_cast<int>(port), &bound)) {
    fprintf(stderr, "torvane-relay: can't listen (%s)\n", net_error_name() ? net_error_name() : "?");
    return 1;
  }
  r.queue = static_cast<Held *>(calloc(queue_slots, sizeof(Held)));
  if (!r.queue) return 1;
  if (record_dir) {
    char path[1200];
    snprintf(path, sizeof path, "%s/server", record_dir);
    r.server_record = fopen(path, "wb");
    if (!r.server_record) {
      fprintf(stderr, "torvane-relay: can't write %s\n", path);
      return 1;
    }
  }
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  printf("Relaying 127.0.0.1:%d to %s\n", bound, to);

  double start = monotonic_seconds();
  r.last_to_server = start;
  uint8_t buffer[net_datagram_buffer_size];
  while (!stop_requested && (quit_after <= 0 || monotonic_seconds() - start < quit_after)) {
    pollfd p[1 + max_clients];
    p[0] = {r.listen, POLLIN, 0};
    for (int k = 0; k < r.client_count; k++) p[1 + k] = {r.clients[k].socket, POLLIN, 0};
    poll(p, static_cast<nfds_t>(1 + r.client_count), 1);
    double now = monotonic_seconds();
    NetAddress from;
    int n;
    while ((n = net_receive(r.listen, buffer, net_datagram_max, &from)) >= 0)
      if (Client *c = client_for(&r, &from, record_dir)) hold(&r, c->socket, &r.server, buffer, n, now);
    for (int k = 0; k < r.client_count; k++)
      while ((n = net_receive(r.clients[k].socket, buffer, net_datagram_max, &from)) >= 0)
        if (net_same_address(&from, &r.server)) hold(&r, r.listen, &r.clients[k].address, buffer, n, now);
    release(&r, now);
  }
  for (int k = 0; k < r.client_count; k++) {
    net_close(r.clients[k].socket);
    if (r.clients[k].record) fclose(r.clients[k].record);
  }
  if (r.server_record) fclose(r.server_record);
  net_close(r.listen);
  free(r.queue);
  printf("Delivered %ld datagrams, lost %ld\n", r.delivered, r.lost);
  return 0;
}
