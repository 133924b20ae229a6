// How long the client waits on the server, all in one place, RFC 5321
// 4.5.3.2. Tests pass shorter ones.
#pragma once

#include <chrono>

namespace smtp {

struct TimeLimits {
  /// Each of the server's addresses to take the connection, and all of them
  /// together (RFC 5321 5.1: each address is tried in turn). 4.5.3.2 sets no
  /// figure; one address that drops every packet must leave time for the
  /// next, as many hosts have one IPv6 and one IPv4 address.
  std::chrono::milliseconds connect{std::chrono::seconds(20)};
  std::chrono::milliseconds connect_in_all{std::chrono::seconds(60)};
  std::chrono::milliseconds reply{std::chrono::minutes(5)}; ///< greeting, HELO, MAIL, RCPT
  std::chrono::milliseconds data_reply{std::chrono::minutes(2)};
  std::chrono::milliseconds final_dot_reply{std::chrono::minutes(10)};
  /// Once the reply to "." has settled the outcome, QUIT is a courtesy.
  std::chrono::milliseconds quit_reply{std::chrono::seconds(30)};
  /// Each block of data the server is given to take (4.5.3.2.5).
  std::chrono::milliseconds send{std::chrono::minutes(3)};
};

} // namespace smtp
