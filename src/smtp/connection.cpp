#include "smtp/connection.h"

#include "log/report.h"
#include "smtp/socket_errors.h"
#include "text/ascii.h"

namespace smtp {
namespace {

// The host name is asked for with a buffer of 190 bytes, terminator included;
// kept on purpose: a longer name fails as it always has, with its message.
constexpr std::size_t kHostNameLength = 190;

void lower_case(std::string &host) {
  for (char &c : host) c = ascii::to_lower(c);
}

std::string_view without_brackets(std::string_view text) {
  if (!text.empty() && text.front() == '[') text.remove_prefix(1);
  if (!text.empty() && text.back() == ']') text.remove_suffix(1);
  return text;
}

} // namespace

void start_sockets() {
  platform::SocketStartup startup = platform::start_socket_library();
  if (!startup.started) {
    logs::report(kNoWinsock);
  } else if (!startup.version_1_1) {
    logs::report(kOtherWinsock);
  }
}

std::string local_host_name() {
  static std::string last_name;
  if (auto name = platform::host_name(kHostNameLength)) {
    last_name = *name;
  } else {
    logs::report(kNoHostName);
  }
  return last_name;
}

bool is_dotted_quad(std::string_view text) {
  if (!text.empty() && text.front() == '[') text.remove_prefix(1);
  std::size_t dots = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '.') {
      ++dots;
    } else if (text[at] == ']' && at + 1 == text.size()) {
      break;
    } else if (!ascii::is_digit(text[at])) {
      return false;
    }
  }
  // The last-character test sees a closing "]", not the dot before it.
  return dots == 3 && text.find("..") == std::string_view::npos && text.front() != '.' &&
         text.back() != '.';
}

platform::Socket open_smtp_connection(std::string &host, int port, std::uint32_t *address_used) {
  lower_case(host);
  std::uint32_t address;
  if (is_dotted_quad(host)) {
    address = platform::numeric_ipv4(std::string(without_brackets(host)));
  } else if (auto resolved = platform::resolve_ipv4(host)) {
    address = *resolved;
  } else {
    return platform::kInvalidSocket;
  }
  if (address_used != nullptr) *address_used = address;
  platform::Socket socket = platform::create_stream_socket();
  if (socket == platform::kInvalidSocket) return socket;
  // Only the low 16 bits of the configured number name the port.
  if (!platform::connect_socket(socket, address, static_cast<std::uint16_t>(port & 0xFFFF))) {
    platform::close_socket(socket);
    return platform::kInvalidSocket;
  }
  return socket;
}

bool is_loopback(std::uint32_t address) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(&address);
  return bytes[0] == 127;
}

std::string connection_failure(std::string host, int port, int error) {
  lower_case(host);
  return "Could not connect to SMTP server " + host + " " + std::to_string(port) + " " +
         socket_error_text(error);
}

} // namespace smtp
