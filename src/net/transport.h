// The UDP transport: one non-blocking IPv4 datagram socket, host name
// resolution with an optional ":port" suffix, single-datagram send and
// receive, and a readable name for the last socket error. It keeps no
// connection state; the client (and the race server) own their sockets.
//
// Error names are the Winsock ones, so that players and server operators see
// the same texts on every platform. POSIX errno values map onto the Winsock
// code of the same meaning (EBADF -> 10009 WSAEBADF, ECONNRESET -> 10054
// WSAECONNRESET, ENOMEM -> 8 WSA_NOT_ENOUGH_MEMORY, ...; see
// net_winsock_code); resolver failures map onto 11001..11004. An errno
// without a Winsock counterpart is shown as its decimal value.
#pragma once
#include <netinet/in.h>

#include <cstdint>

constexpr int net_default_port = 19800;
// Datagrams are read into buffers of this size (at most one byte less is used,
// so a text field can always be terminated after the datagram).
constexpr int net_datagram_buffer_size = 1024;
constexpr int net_datagram_max = net_datagram_buffer_size - 1;

// An address record: the length of the address (16) and the IPv4 address.
struct NetAddress {
  int32_t length;
  sockaddr_in in;
};

// Fills `address` from "host" or "host:port" (split at the last ':'; a suffix
// that is not a decimal number leaves the whole text as the host and takes
// `default_port`). Returns 1 on success, 0 when the name does not resolve.
int net_resolve(NetAddress *address, const char *text, int default_port);
// A non-blocking UDP socket, or -1 (error name set).
int net_open();
// Binds a socket to a local port (the race server); 0 asks for any free port.
// Returns 1 on success. The bound port is stored in *bound_port when not null.
int net_bind(int socket, const char *host, int port, int *bound_port);
// One sendto; the byte count or -1 (error name set).
int net_send(int socket, const void *bytes, int length, const NetAddress *address);
// One recvfrom; the datagram's length, or -1. With nothing waiting it returns
// -1 and leaves no error name.
int net_receive(int socket, void *buffer, int size, NetAddress *address);
void net_close(int socket);
// Releases the socket library (nothing to release with BSD sockets, but the
// started flag keeps the same life cycle on every platform).
void net_shutdown();
// The last error's name, or null.
const char *net_error_name();

// The Winsock name of an error code, or its decimal text; null for 10004
// (interrupted) and 10035 (would block), which are not errors here. The
// decimal text lives in a static buffer until the next call.
const char *net_error_name_for_code(int code);
// The Winsock code for a POSIX errno value; errno values without a
// counterpart come back unchanged.
int net_winsock_code(int posix_errno);
// 1 when both records name the same host and port.
int net_same_address(const NetAddress *a, const NetAddress *b);

// --- Simulated network conditions ------------------------------------------
// With a lag or a loss set, received datagrams pass through a queue of 1024
// slots: each is stamped when read, dropped at once when the loss draw says
// so, and handed on only when the clock has passed its stamp plus the lag.
// The loss draw uses a generator of its own (not the simulation's MT19937) so
// that a test run with a given seed always loses the same datagrams.
constexpr int net_fake_queue_slots = 1024;

struct NetFakeDatagram {
  double due;  // program clock at which it may be handled
  int length;
  NetAddress from;
  uint8_t bytes[net_datagram_buffer_size];
};

struct NetFakeQueue {
  double lag;        // seconds, 0..1
  int loss_percent;  // 0..100
  uint32_t draw;     // state of the loss generator
  NetFakeDatagram *slots;  // allocated on first use, net_fake_free releases it
  int head, count;
  int dropped;       // datagrams lost so far (loss draw or a full queue)
};

// Sets the conditions; lag is clamped to 0..1 s and loss to 0..100 %.
void net_fake_set(NetFakeQueue *queue, double lag, int loss_percent, uint32_t seed);
int net_fake_active(const NetFakeQueue *queue);
// Reads every waiting datagram into the queue, then hands out the oldest whose
// time has come: its length, or -1 when none is due (the error name is set
// only by a failed read).
int net_receive_fake(NetFakeQueue *queue, int socket, void *buffer, int size, NetAddress *address, double now);
void net_fake_free(NetFakeQueue *queue);
// The loss draw: like the C library's rand(), a value in 0..32767.
int net_fake_draw(NetFakeQueue *queue);
