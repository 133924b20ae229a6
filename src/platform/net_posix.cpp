#include "platform/errno_codes.h"
#include "platform/net.h"
#include "platform/socket_address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace platform {
namespace {

// Waits for `events` on the socket; true when ready, false when the time ran
// out. An error or a hang-up counts as ready: the call that follows reports it.
bool ready_for(Socket socket, short events, int timeout_ms) {
  pollfd waiting{static_cast<int>(socket), events, 0};
  int ready;
  do {
    ready = poll(&waiting, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

// The errno of a connection begun without blocking, once it has ended or
// `timeout_ms` has passed (ETIMEDOUT).
int connect_result(int fd, int timeout_ms) {
  if (!ready_for(fd, POLLOUT, timeout_ms)) return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

} // namespace

int windows_sockets_code(int error_number) {
  struct Row {
    int error_number;
    int code;
  };
  static constexpr Row rows[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EPERM, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10036},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},
      {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},
      {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {EPIPE, 10054},
      {ENOBUFS, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {ELOOP, 10062},
      {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},
      {EUSERS, 10068},
      {EDQUOT, 10069},
      {ESTALE, 10070},
      {EREMOTE, 10071},
  };
  for (const Row &row : rows) {
    if (row.error_number == error_number) return row.code;
  }
  return 20000 + error_number;
}

SocketStartup start_socket_library() { return {true, true}; }

std::optional<std::string> host_name(std::size_t max_length) {
  std::vector<char> buffer(max_length + 1, '\0');
  if (gethostname(buffer.data(), max_length) != 0) return std::nullopt;
  return std::string(buffer.data());
}

std::string numeric_ipv4(const std::string &text) {
  const in_addr_t address = inet_addr(text.c_str());
  return {reinterpret_cast<const char *>(&address), sizeof address};
}

std::optional<std::string> address_bytes(const std::string &text, std::size_t size) {
  unsigned char bytes[16];
  if (inet_pton(size == 16 ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return std::nullopt;
  return std::string(reinterpret_cast<const char *>(bytes), size);
}

std::string address_text(std::string_view bytes) {
  char text[INET6_ADDRSTRLEN];
  const int family = bytes.size() == 4 ? AF_INET : bytes.size() == 16 ? AF_INET6 : AF_UNSPEC;
  return inet_ntop(family, bytes.data(), text, sizeof text) != nullptr ? text : "?";
}

int resolver_error_code(int gai_error, int error_number) {
  switch (gai_error) {
  case EAI_NONAME:
    return 11001; // WSAHOST_NOT_FOUND
  case EAI_AGAIN:
    return 11002; // WSATRY_AGAIN
  case EAI_NODATA:
    return 11004; // WSANO_DATA
  case EAI_SYSTEM:
    return windows_sockets_code(error_number);
  default:
    return 11003; // WSANO_RECOVERY, as Windows names EAI_FAIL
  }
}

Resolved resolve(const std::string &name) {
  Lookup lookup = look_up(name);
  // errno as getaddrinfo left it, for EAI_SYSTEM.
  if (lookup.failed != 0) return {{}, resolver_error_code(lookup.failed, errno)};
  return {std::move(lookup.addresses), 0};
}

Opened connect_stream(std::string_view address, std::uint16_t port, int timeout_ms) {
  const SocketAddress server = socket_address(address, port);
  const int fd = socket(server.storage.ss_family, SOCK_STREAM, 0);
  if (fd < 0) return {kInvalidSocket, windows_sockets_code(errno)};
  // Begun without blocking so that the wait is ours to bound; blocking again
  // after, as the sends and receives expect.
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int error = connect(fd, server.get(), static_cast<socklen_t>(server.length)) == 0 ? 0 : errno;
  // Interrupted, the connection still goes on, as one in progress does.
  if (error == EINPROGRESS || error == EINTR) error = connect_result(fd, timeout_ms);
  if (error != 0) {
    close(fd);
    return {kInvalidSocket, windows_sockets_code(error)};
  }
  fcntl(fd, F_SETFL, flags);
  return {fd, 0};
}

Transfer send_some(Socket socket, std::string_view data, int timeout_ms) {
  if (!ready_for(socket, POLLOUT, timeout_ms)) return {0, true};
  // MSG_NOSIGNAL: a peer that has closed gives EPIPE, not a fatal SIGPIPE.
  ssize_t sent;
  do {
    sent = send(static_cast<int>(socket), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {0, false};
  return {static_cast<long>(sent), false};
}

Transfer receive_some(Socket socket, char *buffer, std::size_t capacity, int timeout_ms) {
  if (!ready_for(socket, POLLIN, timeout_ms)) return {0, true};
  ssize_t count;
  do {
    count = recv(static_cast<int>(socket), buffer, capacity, 0);
  } while (count < 0 && errno == EINTR);
  return {static_cast<long>(count), false};
}

void send_without_delay(Socket socket) {
  int on = 1;
  setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void close_socket(Socket socket) { close(static_cast<int>(socket)); }

} // namespace platform
