#include "net/transport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"

namespace {

// Socket library state: lives for the process (cleared by net_shutdown).
int library_started = 0;
const char *last_error = nullptr;
char decimal_text[16];

struct CodeName {
  int code;
  const char *name;
};

const CodeName code_names[] = {
    {6, "WSA_INVALID_HANDLE"}, {8, "WSA_NOT_ENOUGH_MEMORY"}, {87, "WSA_INVALID_PARAMETER"},
    {995, "WSA_OPERATION_ABORTED"}, {996, "WSA_IO_INCOMPLETE"}, {997, "WSA_IO_PENDING"},
    {10009, "WSAEBADF"}, {10013, "WSAEACCES"}, {10014, "WSAEFAULT"}, {10022, "WSAEINVAL"},
    {10024, "WSAEMFILE"}, {10036, "WSAEINPROGRESS"}, {10037, "WSAEALREADY"}, {10038, "WSAENOTSOCK"},
    {10039, "WSAEDESTADDRREQ"}, {10040, "WSAEMSGSIZE"}, {10041, "WSAEPROTOTYPE"}, {10042, "WSAENOPROTOOPT"},
    {10043, "WSAEPROTONOSUPPORT"}, {10044, "WSAESOCKTNOSUPPORT"}, {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"}, {10047, "WSAEAFNOSUPPORT"}, {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"}, {10050, "WSAENETDOWN"}, {10051, "WSAENETUNREACH"}, {10052, "WSAENETRESET"},
    {10053, "WSAECONNABORTED"}, {10054, "WSAECONNRESET"}, {10055, "WSAENOBUFS"}, {10056, "WSAEISCONN"},
    {10057, "WSAENOTCONN"}, {10058, "WSAESHUTDOWN"}, {10059, "WSAETOOMANYREFS"}, {10060, "WSAETIMEDOUT"},
    {10061, "WSAECONNREFUSED"}, {10062, "WSAELOOP"}, {10063, "WSAENAMETOOLONG"}, {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"}, {10066, "WSAENOTEMPTY"}, {10067, "WSAEPROCLIM"}, {10068, "WSAEUSERS"},
    {10069, "WSAEDQUOT"}, {10070, "WSAESTALE"}, {10071, "WSAEREMOTE"},
    {10091, "WSASYSNOTREADY"}, {10092, "WSAVERNOTSUPPORTED"}, {10093, "WSANOTINITIALISED"},
    {10101, "WSAEDISCON"}, {10102, "WSAENOMORE"}, {10103, "WSAECANCELLED"}, {10104, "WSAEINVALIDPROCTABLE"},
    {10105, "WSAEINVALIDPROVIDER"}, {10106, "WSAEPROVIDERFAILEDINIT"}, {10107, "WSASYSCALLFAILURE"},
    {10108, "WSASERVICE_NOT_FOUND"}, {10109, "WSATYPE_NOT_FOUND"}, {10110, "WSA_E_NO_MORE"},
    {10111, "WSA_E_CANCELLED"}, {10112, "WSAEREFUSED"},
    {11001, "WSAHOST_NOT_FOUND"}, {11002, "WSATRY_AGAIN"}, {11003, "WSANO_RECOVERY"}, {11004, "WSANO_DATA"},
    {11005, "WSA_QOS_RECEIVERS"}, {11006, "WSA_QOS_SENDERS"}, {11007, "WSA_QOS_NO_SENDERS"},
    {11008, "WSA_QOS_NO_RECEIVERS"}, {11009, "WSA_QOS_REQUEST_CONFIRMED"}, {11010, "WSA_QOS_ADMISSION_FAILURE"},
    {11011, "WSA_QOS_POLICY_FAILURE"}, {11012, "WSA_QOS_BAD_STYLE"}, {11013, "WSA_QOS_BAD_OBJECT"},
    {11014, "WSA_QOS_TRAFFIC_CTRL_ERROR"}, {11015, "WSA_QOS_GENERIC_ERROR"}, {11016, "WSA_QOS_ESERVICETYPE"},
    {11017, "WSA_QOS_EFLOWSPEC"}, {11018, "WSA_QOS_EPROVSPECBUF"}, {11019, "WSA_QOS_EFILTERSTYLE"},
    {11020, "WSA_QOS_EFILTERTYPE"}, {11021, "WSA_QOS_EFILTERCOUNT"}, {11022, "WSA_QOS_EOBJLENGTH"},
    {11023, "WSA_QOS_EFLOWCOUNT"}, {11024, "WSA_QOS_EUNKOWNPSOBJ"}, {11025, "WSA_QOS_EPOLICYOBJ"},
    {11026, "WSA_QOS_EFLOWDESC"}, {11027, "WSA_QOS_EPSFLOWSPEC"}, {11028, "WSA_QOS_EPSFILTERSPEC"},
    {11029, "WSA_QOS_ESDMODEOBJ"}, {11030, "WSA_QOS_ESHAPERATEOBJ"}, {11031, "WSA_QOS_RESERVED_PETYPE"},
};

struct ErrnoCode {
  int posix;
  int winsock;
};

const ErrnoCode errno_codes[] = {
    {EINTR, 10004}, {EAGAIN, 10035}, {EBADF, 10009}, {EACCES, 10013}, {EPERM, 10013}, {EFAULT, 10014},
    {EINVAL, 10022}, {EMFILE, 10024}, {ENFILE, 10024}, {EINPROGRESS, 10036}, {EALREADY, 10037},
    {ENOTSOCK, 10038}, {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040}, {EPROTOTYPE, 10041}, {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051}, {ENETRESET, 10052}, {ECONNABORTED, 10053}, {ECONNRESET, 10054}, {ENOBUFS, 10055},
    {EISCONN, 10056}, {ENOTCONN, 10057}, {ESHUTDOWN, 10058}, {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062}, {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064}, {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066}, {EUSERS, 10068}, {EDQUOT, 10069}, {ESTALE, 10070}, {EREMOTE, 10071}, {ENOMEM, 8},
};

void set_error_code(int winsock_code) { last_error = net_error_name_for_code(winsock_code); }
void set_error_from_errno(int posix_errno) { set_error_code(net_winsock_code(posix_errno)); }

void start_library() { library_started = 1; }

}  // namespace

int net_winsock_code(int posix_errno) {
  if (posix_errno == EWOULDBLOCK) return 10035;
  for (const ErrnoCode &e : errno_codes)
    if (e.posix == posix_errno) return e.winsock;
  return posix_errno;
}

const char *net_error_name_for_code(int code) {
  if (code == 10004 || code == 10035) return nullptr;
  for (const CodeName &c : code_names)
    if (c.code == code) return c.name;
  snprintf(decimal_text, sizeof decimal_text, "%d", code);
  return decimal_text;
}

const char *net_error_name() { return last_error; }

int net_resolve(NetAddress *address, const char *text, int default_port) {
  last_error = nullptr;
  start_library();
  memset(address, 0, sizeof *address);
  if (!text) return 0;
  char host[1024];
  size_t length = strlen(text);
  if (length >= sizeof host) {
    set_error_code(10063);
    return 0;
  }
  memcpy(host, text, length + 1);
  int port = default_port;
  char *colon = strrchr(host, ':');
  if (colon && colon[1]) {
    char *end = nullptr;
    errno = 0;
    long value = strtol(colon + 1, &end, 10);
    // The suffix counts as a port only when all of it is a decimal number.
    if (*end == 0 && errno == 0 && value >= 0 && value <= 65535 && colon[1] >= '0' && colon[1] <= '9') {
      port = static_cast<int>(value);
      *colon = 0;
    }
  }
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *found = nullptr;
  int status = getaddrinfo(host, nullptr, &hints, &found);
  if (status != 0 || !found) {
    switch (status) {
      case EAI_AGAIN: set_error_code(11002); break;
      case EAI_FAIL: set_error_code(11003); break;
      case EAI_NODATA: set_error_code(11004); break;
      case EAI_MEMORY: set_error_code(8); break;
      default: set_error_code(11001); break;
    }
    if (found) freeaddrinfo(found);
    return 0;
  }
  address->length = sizeof(sockaddr_in);
  address->in.sin_family = AF_INET;
  address->in.sin_port = htons(static_cast<uint16_t>(port));
  address->in.sin_addr = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return 1;
}

int net_open() {
  last_error = nullptr;
  start_library();
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) {
    set_error_from_errno(errno);
    return -1;
  }
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) {
    set_error_from_errno(errno);
    close(s);
    return -1;
  }
  return s;
}

int net_bind(int socket, const char *host, int port, int *bound_port) {
  last_error = nullptr;
  sockaddr_in in = {};
  in.sin_family = AF_INET;
  in.sin_port = htons(static_cast<uint16_t>(port));
  in.sin_addr.s_addr = htonl(INADDR_ANY);
  if (host && *host) {
    NetAddress resolved;
    if (!net_resolve(&resolved, host, port)) return 0;
    in.sin_addr = resolved.in.sin_addr;
  }
  if (bind(socket, reinterpret_cast<sockaddr *>(&in), sizeof in) < 0) {
    set_error_from_errno(errno);
    return 0;
  }
  if (bound_port) {
    socklen_t length = sizeof in;
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&in), &length) < 0) {
      set_error_from_errno(errno);
      return 0;
    }
    *bound_port = ntohs(in.sin_port);
  }
  return 1;
}

int net_send(int socket, const void *bytes, int length, const NetAddress *address) {
  last_error = nullptr;
  if (length < 0) {
    set_error_code(10022);
    return -1;
  }
  ssize_t sent = sendto(socket, bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr *>(&address->in), sizeof address->in);
  if (sent < 0) {
    set_error_from_errno(errno);
    return -1;
  }
  return static_cast<int>(sent);
}

int net_receive(int socket, void *buffer, int size, NetAddress *address) {
  last_error = nullptr;
  memset(address, 0, sizeof *address);
  socklen_t length = sizeof address->in;
  ssize_t got = recvfrom(socket, buffer, size > 0 ? static_cast<size_t>(size) : 0, 0,
                         reinterpret_cast<sockaddr *>(&address->in), &length);
  if (got < 0) {
    set_error_from_errno(errno);
    return -1;
  }
  address->length = static_cast<int32_t>(length);
  return static_cast<int>(got);
}

void net_close(int socket) {
  last_error = nullptr;
  if (socket >= 0) close(socket);
}

void net_shutdown() {
  last_error = nullptr;
  library_started = 0;
}

int net_same_address(const NetAddress *a, const NetAddress *b) {
  return a->in.sin_addr.s_addr == b->in.sin_addr.s_addr && a->in.sin_port == b->in.sin_port;
}

// --- simulated conditions --------------------------------------------------

void net_fake_set(NetFakeQueue *queue, double lag, int loss_percent, uint32_t seed) {
  queue->lag = lag < 0 ? 0 : lag > 1 ? 1 : lag;
  queue->loss_percent = loss_percent < 0 ? 0 : loss_percent > 100 ? 100 : loss_percent;
  queue->draw = seed;
}

int net_fake_active(const NetFakeQueue *queue) { return queue->lag > 0 || queue->loss_percent > 0; }

int net_fake_draw(NetFakeQueue *queue) {
  queue->draw = queue->draw * 1103515245u + 12345u;
  return static_cast<int>((queue->draw >> 16) & 0x7fff);
}

int net_receive_fake(NetFakeQueue *queue, int socket, void *buffer, int size, NetAddress *address, double now) {
  if (!queue->slots) {
    queue->slots = static_cast<NetFakeDatagram *>(alloc_or_die(sizeof(NetFakeDatagram) * net_fake_queue_slots));
    queue->head = queue->count = 0;
  }
  uint8_t incoming[net_datagram_buffer_size];
  const char *read_error = nullptr;
  for (;;) {
    NetAddress from;
    int length = net_receive(socket, incoming, net_datagram_max, &from);
    if (length < 0) {
      read_error = net_error_name();
      break;
    }
    if (net_fake_draw(queue) < queue->loss_percent * 327 || queue->count == net_fake_queue_slots) {
      queue->dropped++;
      continue;
    }
    NetFakeDatagram *d = &queue->slots[(queue->head + queue->count) % net_fake_queue_slots];
    d->due = now + queue->lag;
    d->length = length;
    d->from = from;
    memcpy(d->bytes, incoming, static_cast<size_t>(length));
    queue->count++;
  }
  last_error = read_error;
  if (queue->count == 0 || queue->slots[queue->head].due > now) return -1;
  NetFakeDatagram *d = &queue->slots[queue->head];
  queue->head = (queue->head + 1) % net_fake_queue_slots;
  queue->count--;
  int length = d->length < size ? d->length : size;
  memcpy(buffer, d->bytes, static_cast<size_t>(length));
  *address = d->from;
  return length;
}

void net_fake_free(NetFakeQueue *queue) {
  tracked_free(queue->slots);
  queue->slots = nullptr;
  queue->head = queue->count = 0;
}
