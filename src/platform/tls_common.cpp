#include "platform/tls_common.h"

#include "platform/net.h"

#include <cstdio>

namespace platform {
namespace {

// TLS record content types and the values read from the first record
// (RFC 5246 6.2.1, 7.2, 7.4; RFC 8446 B.1).
constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kProtocolVersionAlert = 70;
constexpr unsigned kTls12Version = 0x0303;

} // namespace

std::string handshake_failed(std::string_view reason) {
  return "handshake failed (" + std::string(reason) + ")";
}

std::string handshake_failed(long status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFUL);
  return handshake_failed(code);
}

Moved send_all(Stream &plain, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    Transfer sent = plain.send_some(data, milliseconds_left(deadline));
    if (sent.count < 0) return Moved::lost;
    // A send that took nothing once the time is up cannot wait any longer.
    if (sent.timed_out || (sent.count == 0 && milliseconds_left(deadline) == 0)) {
      return Moved::timed_out;
    }
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return Moved::done;
}

ServerStart classify_server_start(std::string_view first_bytes) {
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(first_bytes[at]); };
  if (first_bytes.empty()) return ServerStart::tls;
  // A record begins with its content type, 20 to 24 (RFC 8446 5.1), never
  // with a printable character: a server that begins so speaks in clear
  // text, as an SMTP server greets ("220 ...").
  if (byte(0) >= 0x20 && byte(0) < 0x7f) return ServerStart::clear_text;
  if (first_bytes.size() < 7) return ServerStart::tls;
  // To a client that offers TLS 1.2 and 1.3, a server of TLS 1.1 or older
  // answers protocol_version, in a record of version 1.2 like everyone's.
  // A server of TLS 1.3 alone answers the same to a client without it (Wine
  // 8, Windows 10, Windows Server 2019), and is then told of as older: it is
  // the rarer.
  if (byte(0) == kAlertRecord && byte(6) == kProtocolVersionAlert) {
    return ServerStart::old_protocol;
  }
  if (byte(0) == kHandshakeRecord && first_bytes.size() >= 11 && byte(5) == kServerHello) {
    const auto hello_version = static_cast<unsigned>(byte(9) << 8 | byte(10));
    return hello_version < kTls12Version ? ServerStart::old_protocol : ServerStart::tls;
  }
  return ServerStart::tls;
}

std::optional<std::string> ip_literal_address(const std::string &server) {
  std::string text = server;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  std::optional<std::string> address = address_bytes(text, 4);
  return address ? address : address_bytes(text, 16);
}

} // namespace platform
