#include "oauth/token_request.h"

#include "log/debug_log.h"
#include "oauth/endpoint.h"
#include "oauth/form.h"
#include "oauth/http_response.h"
#include "platform/deadline.h"
#include "platform/tls.h"
#include "platform/tls_common.h"
#include "smtp/redaction.h"
#include "smtp/socket_errors.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace oauth {
namespace {

using platform::Clock;

// The endpoint as the Host field and CONNECT name it: the port only when
// it is not HTTPS's own.
std::string authority(const Endpoint &endpoint) {
  return endpoint.port == 443 ? endpoint.host : endpoint.host + ":" + std::to_string(endpoint.port);
}

struct Exchange {
  std::unique_ptr<platform::Stream> stream;
  std::string failure; ///< REASON for "Token request to HOST failed: REASON"
};

Exchange lost(std::string reason) { return {nullptr, std::move(reason)}; }

Exchange connected_to(const Endpoint &to, const smtp::Connect &connect) {
  std::string host = to.host;
  smtp::Connected connected = connect(host, to.port);
  if (!connected.stream) {
    // The socket error's words without their "() " lead.
    std::string words = smtp::socket_error_text(connected.error).substr(3);
    while (!words.empty() && words.back() == ' ') words.pop_back();
    return lost("no connection to " + to.host + ":" + std::to_string(to.port) + " (" + words + ")");
  }
  return {std::move(connected.stream), {}};
}

bool sent(platform::Stream &stream, std::string_view text, Clock::time_point deadline) {
  return platform::send_all(stream, text, deadline) == platform::Moved::done;
}

// RFC 9110 9.3.6: CONNECT, then any 2xx makes the connection a tunnel to
// the endpoint. The proxy's answer has no body; a byte after its blank line
// would have to come from the endpoint, which speaks only after the TLS
// client's first flight.
std::string tunnel_failure(platform::Stream &proxy, const Endpoint &proxy_at,
                           const Endpoint &endpoint, Clock::time_point deadline) {
  const std::string to = endpoint.host + ":" + std::to_string(endpoint.port);
  const std::string named = proxy_at.host + ":" + std::to_string(proxy_at.port);
  if (!sent(proxy, "CONNECT " + to + " HTTP/1.1\r\nHost: " + to + "\r\n\r\n", deadline)) {
    return "the proxy " + named + " took no CONNECT";
  }
  std::string head;
  char block[1024];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kLargestHead) return "the proxy " + named + " answered too long";
    const int left = platform::milliseconds_left(deadline);
    const platform::Transfer got = proxy.receive_some(block, sizeof block, left);
    if (got.timed_out || left == 0) return "no answer within 30 seconds";
    if (got.count <= 0) return "the proxy " + named + " closed the connection";
    head.append(block, static_cast<std::size_t>(got.count));
  }
  const std::string line = head.substr(0, head.find("\r\n"));
  const bool tunnel = line.size() >= 12 && line.starts_with("HTTP/1.") && line[9] == '2' &&
                      head.size() == head.find("\r\n\r\n") + 4;
  return tunnel ? std::string() : "the proxy " + named + " answered: " + line.substr(0, 200);
}

std::string request_text(const Endpoint &endpoint, const std::string &body) {
  return "POST " + endpoint.path + " HTTP/1.1\r\nHost: " + authority(endpoint) +
         "\r\nContent-Type: application/x-www-form-urlencoded\r\nAccept: application/json"
         "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The answer, read until the reader has it whole or cannot.
std::string read_answer(platform::Stream &stream, HttpReader &reader, Clock::time_point deadline) {
  char block[16 * 1024];
  while (reader.progress == HttpProgress::more) {
    const int left = platform::milliseconds_left(deadline);
    const platform::Transfer got = stream.receive_some(block, sizeof block, left);
    if (got.timed_out || (left == 0 && got.count <= 0)) return "no answer within 30 seconds";
    if (got.count < 0) {
      // A close without close_notify may have cut a body that runs to the
      // close: only a body whose length is known is taken whole then.
      return "the connection was lost";
    }
    if (got.count == 0) {
      take_end(reader);
    } else {
      take_bytes(reader, std::string_view(block, static_cast<std::size_t>(got.count)));
    }
  }
  return reader.progress == HttpProgress::failed ? reader.failure : std::string();
}

const char *grant_name(GrantType type) {
  return type == GrantType::client_credentials ? "client_credentials" : "refresh_token";
}

// Each secret the request carries, as it is and as the form encodes it: an
// endpoint or a proxy may quote the request in its answer.
std::vector<std::string> sent_secrets(const Grant &grant, const std::string &secret) {
  return {secret, form_encoded(secret), grant.client_secret, form_encoded(grant.client_secret)};
}

} // namespace

smtp::Connected connect_for_token(std::string &host, int port) {
  smtp::TimeLimits limits;
  limits.connect_in_all = std::chrono::milliseconds(kTokenRequestMs);
  limits.connect = std::min(limits.connect, limits.connect_in_all);
  return smtp::connect_within(host, port, limits);
}

TokenAnswer request_token(const Grant &grant, const std::string &secret,
                          const smtp::Connect &connect) {
  const Clock::time_point deadline =
      platform::deadline_in(std::chrono::milliseconds(kTokenRequestMs));
  // The URL was judged when quillrun.ini was read.
  const Endpoint endpoint = parse_https_url(grant.token_url).value_or(Endpoint{});
  const std::optional<Endpoint> proxy = parse_proxy(grant.proxy);
  logs::debug_log("Token request: POST " + grant.token_url + " (grant " + grant_name(grant.type) +
                  (proxy ? ", through the proxy " + grant.proxy : std::string()) + ")\n");
  const std::vector<std::string> secrets = sent_secrets(grant, secret);
  TokenAnswer answer;
  auto told = [&](const std::string &failure) {
    answer.failure = smtp::hide_secrets(failure, secrets);
    logs::debug_log(answer.failure + "\n");
    return answer;
  };
  auto failed = [&](const std::string &reason) {
    return told("Token request to " + endpoint.host + " failed: " + reason);
  };
  Exchange exchange = connected_to(proxy ? *proxy : endpoint, connect);
  if (!exchange.stream) return failed(exchange.failure);
  if (proxy) {
    std::string refusal = tunnel_failure(*exchange.stream, *proxy, endpoint, deadline);
    if (!refusal.empty()) return failed(refusal);
  }
  platform::TlsStart tls = platform::start_tls(std::move(exchange.stream), endpoint.host, {},
                                               platform::milliseconds_left(deadline));
  if (!tls.stream) return told("TLS with " + endpoint.host + " failed: " + tls.failure);
  if (!sent(*tls.stream, request_text(endpoint, token_request_body(grant, secret)), deadline)) {
    return failed("the connection was lost");
  }
  HttpReader reader;
  std::string fault = read_answer(*tls.stream, reader, deadline);
  if (!fault.empty()) return failed(fault);
  answer = parse_token_answer(reader.status, reader.body, secrets);
  logs::debug_log("Token answer: HTTP " + std::to_string(reader.status) +
                  (answer.failure.empty()
                       ? ", a token for " + std::to_string(answer.expires_in) + " seconds\n"
                       : "\n"));
  return answer.failure.empty() ? answer : failed(answer.failure);
}

} // namespace oauth
