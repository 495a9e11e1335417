// The UDP transport on the loopback interface only.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <gtest/gtest.h>

#include <cstring>

#include "net/transport.h"

namespace {

// A socket bound to 127.0.0.1 on a free port, and an address to reach it.
struct Endpoint {
  int socket = -1;
  NetAddress address = {};
  Endpoint() {
    socket = net_open();
    int port = 0;
    EXPECT_GE(socket, 0);
    EXPECT_TRUE(net_bind(socket, "127.0.0.1", 0, &port));
    EXPECT_TRUE(net_resolve(&address, "127.0.0.1", port));
  }
  ~Endpoint() { net_close(socket); }
};

// Datagrams on loopback arrive at once, but give the kernel a moment.
int receive_soon(int socket, uint8_t *buffer, int size, NetAddress *from) {
  for (int i = 0; i < 200; i++) {
    int n = net_receive(socket, buffer, size, from);
    if (n >= 0) return n;
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
  return -1;
}

}  // namespace

TEST(NetTransport, ResolveSplitsPortAtLastColon) {
  NetAddress a;
  ASSERT_EQ(net_resolve(&a, "127.0.0.1:20000", net_default_port), 1);
  EXPECT_EQ(ntohs(a.in.sin_port), 20000);
  EXPECT_EQ(a.in.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(a.length, 16);
  EXPECT_EQ(net_error_name(), nullptr);

  ASSERT_EQ(net_resolve(&a, "127.0.0.1", net_default_port), 1);
  EXPECT_EQ(ntohs(a.in.sin_port), 19800);

  // Letters after the last colon: the whole text is the host, which fails.
  EXPECT_EQ(net_resolve(&a, "127.0.0.1:abc", net_default_port), 0);
  EXPECT_STREQ(net_error_name(), "WSAHOST_NOT_FOUND");
  // A port out of range is not a port either.
  EXPECT_EQ(net_resolve(&a, "127.0.0.1:70000", net_default_port), 0);
  EXPECT_EQ(net_resolve(&a, "", net_default_port), 0);

  // A name, when this machine can resolve it (minimal systems have no
  // /etc/hosts, and then "localhost" does not resolve).
  addrinfo hints = {}, *found = nullptr;
  hints.ai_family = AF_INET;
  if (getaddrinfo("localhost", nullptr, &hints, &found) != 0) GTEST_SKIP() << "\"localhost\" does not resolve here";
  freeaddrinfo(found);
  ASSERT_EQ(net_resolve(&a, "localhost:1234", net_default_port), 1);
  EXPECT_EQ(ntohs(a.in.sin_port), 1234);
  EXPECT_EQ(a.in.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(net_resolve(&a, "localhost:abc", net_default_port), 0);
}

TEST(NetTransport, ErrorNamesFollowWinsock) {
  EXPECT_STREQ(net_error_name_for_code(10054), "WSAECONNRESET");
  EXPECT_STREQ(net_error_name_for_code(12345), "12345");
  EXPECT_STREQ(net_error_name_for_code(6), "WSA_INVALID_HANDLE");
  EXPECT_STREQ(net_error_name_for_code(10093), "WSANOTINITIALISED");
  EXPECT_STREQ(net_error_name_for_code(11004), "WSANO_DATA");
  EXPECT_STREQ(net_error_name_for_code(11031), "WSA_QOS_RESERVED_PETYPE");
  EXPECT_STREQ(net_error_name_for_code(10010), "10010");  // a gap in the Winsock range
  EXPECT_EQ(net_error_name_for_code(10004), nullptr);
  EXPECT_EQ(net_error_name_for_code(10035), nullptr);

  EXPECT_EQ(net_winsock_code(ECONNRESET), 10054);
  EXPECT_EQ(net_winsock_code(EWOULDBLOCK), 10035);
  EXPECT_EQ(net_winsock_code(EBADF), 10009);
  EXPECT_EQ(net_winsock_code(ENOMEM), 8);
  EXPECT_EQ(net_winsock_code(EIO), EIO);  // no counterpart: the errno itself
}

TEST(NetTransport, IdleReceiveIsNotAnError) {
  Endpoint e;
  uint8_t buffer[net_datagram_buffer_size];
  NetAddress from;
  EXPECT_EQ(net_receive(e.socket, buffer, net_datagram_max, &from), -1);
  EXPECT_EQ(net_error_name(), nullptr);
}

TEST(NetTransport, SendAndReceiveOnLoopback) {
  Endpoint a, b;
  const char text[] = "hello over udp";
  ASSERT_EQ(net_send(a.socket, text, sizeof text, &b.address), static_cast<int>(sizeof text));
  uint8_t buffer[net_datagram_buffer_size];
  NetAddress from;
  ASSERT_EQ(receive_soon(b.socket, buffer, net_datagram_max, &from), static_cast<int>(sizeof text));
  EXPECT_EQ(memcmp(buffer, text, sizeof text), 0);
  EXPECT_EQ(from.length, 16);
  EXPECT_TRUE(net_same_address(&from, &a.address));
  EXPECT_FALSE(net_same_address(&from, &b.address));

  // A failed call names its error; the next call clears it.
  EXPECT_EQ(net_send(-1, text, 1, &b.address), -1);
  EXPECT_STREQ(net_error_name(), "WSAEBADF");
  EXPECT_EQ(net_receive(b.socket, buffer, net_datagram_max, &from), -1);
  EXPECT_EQ(net_error_name(), nullptr);
}

TEST(NetTransport, FakeLagHoldsDatagramsUntilDue) {
  Endpoint a, b;
  NetFakeQueue queue = {};
  net_fake_set(&queue, 0.25, 0, 1);
  ASSERT_TRUE(net_fake_active(&queue));
  for (uint8_t i = 0; i < 3; i++) net_send(a.socket, &i, 1, &b.address);
  uint8_t buffer[net_datagram_buffer_size];
  NetAddress from;
  // Read them all at t = 10 (wait for the kernel first).
  for (int tries = 0; tries < 200 && queue.count < 3; tries++) {
    EXPECT_EQ(net_receive_fake(&queue, b.socket, buffer, net_datagram_max, &from, 10.0), -1);
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
  ASSERT_EQ(queue.count, 3);
  EXPECT_EQ(net_receive_fake(&queue, b.socket, buffer, net_datagram_max, &from, 10.2), -1);
  for (uint8_t i = 0; i < 3; i++) {
    ASSERT_EQ(net_receive_fake(&queue, b.socket, buffer, net_datagram_max, &from, 10.3), 1);
    EXPECT_EQ(buffer[0], i);  // arrival order
    EXPECT_TRUE(net_same_address(&from, &a.address));
  }
  EXPECT_EQ(net_receive_fake(&queue, b.socket, buffer, net_datagram_max, &from, 11.0), -1);
  net_fake_free(&queue);
}

TEST(NetTransport, FakeLossIsRepeatableAndNearItsRate) {
  // The draw alone: a fixed seed drops the same datagrams every run.
  NetFakeQueue q1 = {}, q2 = {};
  net_fake_set(&q1, 0, 30, 42);
  net_fake_set(&q2, 0, 30, 42);
  int dropped = 0;
  for (int i = 0; i < 10000; i++) {
    int d1 = net_fake_draw(&q1), d2 = net_fake_draw(&q2);
    ASSERT_EQ(d1, d2);
    ASSERT_GE(d1, 0);
    ASSERT_LE(d1, 32767);
    if (d1 < 30 * 327) dropped++;
  }
  EXPECT_NEAR(dropped, 3000, 300);

  // Through the socket: with 50 % loss some but not all of 200 datagrams pass.
  Endpoint a, b;
  NetFakeQueue queue = {};
  net_fake_set(&queue, 0, 50, 7);
  uint8_t buffer[net_datagram_buffer_size];
  NetAddress from;
  int passed = 0;
  for (int i = 0; i < 200; i++) {
    uint8_t byte = static_cast<uint8_t>(i);
    net_send(a.socket, &byte, 1, &b.address);
    for (int tries = 0; tries < 200 && queue.count == 0 && queue.dropped + passed <= i; tries++) {
      if (net_receive_fake(&queue, b.socket, buffer, net_datagram_max, &from, 1.0) == 1) passed++;
      if (queue.dropped + passed > i) break;
      struct timespec pause = {0, 200000};
      nanosleep(&pause, nullptr);
    }
  }
  EXPECT_EQ(passed + queue.dropped, 200);
  EXPECT_GT(passed, 60);
  EXPECT_LT(passed, 140);
  net_fake_free(&queue);

  net_fake_set(&queue, 5, 500, 0);
  EXPECT_EQ(queue.lag, 1.0);
  EXPECT_EQ(queue.loss_percent, 100);
}
