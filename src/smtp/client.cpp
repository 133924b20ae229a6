#include "smtp/client.h"

#include "log/debug_log.h"
#include "platform/deadline.h"
#include "platform/tls.h"
#include "smtp/body.h"
#include "smtp/connection.h"
#include "smtp/redaction.h"

namespace smtp {
namespace {

constexpr std::size_t kReceiveSize = 4096;

// Takes received bytes into `reply`; what is beyond its end waits for the next.
void take(Client &client, Reply &reply, std::string_view bytes) {
  std::size_t used = take_reply_bytes(reply, bytes);
  client.pending.assign(bytes.substr(used));
}

// Sends all of `data` unless the connection fails or the server takes none
// of it for the send limit; false then.
bool send_all(Client &client, std::string_view data) {
  const platform::Clock::time_point deadline = platform::deadline_in(client.limits.send);
  while (!data.empty()) {
    const int left = platform::milliseconds_left(deadline);
    if (left == 0) return false;
    platform::Transfer sent = client.stream->send_some(data, left);
    if (sent.timed_out || sent.count < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return true;
}

// A failed send shows as a missing or odd reply after it.
void send_command(Client &client, std::string_view command, std::string_view shown = {}) {
  send_all(client, command);
  logs::debug_log("--> " + std::string(shown.empty() ? command : shown));
}

// The first line of unasked bytes, after which QUIT has gone; nothing when
// there are none.
std::optional<std::string> quit_on_unasked_reply(Client &client) {
  Reply stray;
  stray.text = take_unasked_bytes(client);
  if (stray.text.empty()) return std::nullopt;
  send_command(client, "QUIT\r\n");
  return first_line(stray);
}

Outcome failed(Fault fault, std::string detail = {}) { return {fault, {}, std::move(detail), 0}; }

// A step the connection failed: over TLS the stream may know why, and then
// that is the fault the caller is told of.
Outcome broken(const Client &client, Fault fault) {
  std::string why = client.stream ? client.stream->failure() : std::string();
  return why.empty() ? failed(fault) : failed(Fault::tls_failed, std::move(why));
}

Outcome replied(const Client &client, std::optional<Reply> reply) {
  if (!reply) return broken(client, Fault::no_reply);
  return {Fault::none, std::move(*reply), {}, 0};
}

enum class TextSent { sent, send_failed, read_failed };

// The whole spool file in its wire form, block by block, each block within
// the send limit; stops at the first block not sent whole or at a read
// error (`text.error` then tells which).
TextSent send_wire_form(Client &client, io::BlockReader &text) {
  WireState state;
  std::string wire;
  for (std::string_view bytes = io::unconsumed(text); !bytes.empty();
       bytes = io::unconsumed(text)) {
    wire.clear();
    append_wire_form(bytes, state, wire);
    io::consume(text, bytes.size());
    if (!send_all(client, wire)) return TextSent::send_failed;
  }
  if (text.error != 0) return TextSent::read_failed;
  // The intake ends every line; a spool file that did not still ends one here.
  if (state.column > 0 && !send_all(client, "\r\n")) return TextSent::send_failed;
  return TextSent::sent;
}

} // namespace

Connected connect_by_tcp(std::string &host, int port) { return connect_within(host, port, {}); }

Connected connect_within(std::string &host, int port, const TimeLimits &limits) {
  TcpConnection tcp = open_smtp_connection(host, port, limits);
  if (tcp.socket == platform::kInvalidSocket) return {nullptr, {}, tcp.error};
  return {platform::socket_stream(tcp.socket), std::move(tcp.address), 0};
}

Outcome open_session(Client &client, const std::string &host, int port, bool implicit_tls,
                     const platform::CaFile &ca_file) {
  logs::debug_log("Open socket to (" + host + ":" + std::to_string(port) + ")\n");
  client.server = host;
  client.port = port;
  client.pending.clear();
  client.tls.reset();
  // A new connection has carried no secret: only what crosses this one can
  // come back in its replies.
  client.secrets.clear();
  Connected connected = client.connect(client.server, port);
  client.address = connected.address;
  client.stream = std::move(connected.stream);
  if (!client.stream) return {Fault::no_connection, {}, {}, connected.error};
  logs::debug_log("Socket opened \n");
  if (implicit_tls) {
    Outcome tls = start_tls(client, ca_file);
    if (tls.fault != Fault::none) return tls;
  }
  logs::debug_log("Waiting for welcome\n");
  Outcome greeting = replied(client, read_reply(client, client.limits.reply));
  if (greeting.fault != Fault::none) client.stream.reset();
  return greeting;
}

Outcome start_tls(Client &client, const platform::CaFile &ca_file) {
  platform::TlsStart tls = platform::start_tls(std::move(client.stream), client.server, ca_file,
                                               static_cast<int>(client.limits.reply.count()));
  client.stream = std::move(tls.stream);
  if (!client.stream) return failed(Fault::tls_failed, tls.failure);
  client.tls = std::move(tls.facts);
  return {};
}

std::string take_unasked_bytes(Client &client) {
  std::string unasked = std::move(client.pending);
  client.pending.clear();
  if (unasked.empty()) {
    char chunk[kReceiveSize];
    platform::Transfer got = client.stream->receive_some(chunk, sizeof chunk, 0);
    if (got.timed_out || got.count <= 0) return {};
    unasked.assign(chunk, static_cast<std::size_t>(got.count));
  }
  unasked = hide_secrets_in_reply(unasked, client.secrets);
  logs::debug_log(unasked);
  return unasked;
}

Outcome command(Client &client, std::string_view command, std::chrono::milliseconds limit,
                std::string_view shown) {
  if (auto line = quit_on_unasked_reply(client)) return failed(Fault::unasked_reply, *line);
  send_command(client, command, shown);
  return replied(client, read_reply(client, limit));
}

Outcome send_text(Client &client, io::BlockReader &text, const std::string &text_name) {
  if (auto line = quit_on_unasked_reply(client)) return failed(Fault::unasked_reply, *line);
  logs::debug_log("Sending data\n");
  switch (send_wire_form(client, text)) {
  case TextSent::send_failed:
    return broken(client, Fault::send_failed);
  case TextSent::read_failed:
    return {Fault::unreadable_text, {}, text_name, text.error};
  case TextSent::sent:
    break;
  }
  logs::debug_log("Sending terminating dot\n");
  // The final dot is small and would wait behind unacknowledged message data
  // for the server's delayed ACK; send it at once.
  client.stream->send_without_delay();
  send_command(client, ".\r\n");
  return replied(client, read_reply(client, client.limits.final_dot_reply));
}

void quit(Client &client) {
  if (!client.stream) return;
  send_command(client, "QUIT\r\n");
  read_reply(client, client.limits.quit_reply);
  client.stream.reset();
}

std::optional<Reply> read_reply(Client &client, std::chrono::milliseconds limit) {
  const platform::Clock::time_point deadline = platform::deadline_in(limit);
  Reply reply;
  const std::string earlier = std::move(client.pending);
  take(client, reply, earlier);
  char chunk[kReceiveSize];
  bool ended = false;
  while (!reply.complete && !ended) {
    const int left = platform::milliseconds_left(deadline);
    platform::Transfer got = left == 0 ? platform::Transfer{0, true}
                                       : client.stream->receive_some(chunk, sizeof chunk, left);
    ended = got.timed_out || got.count <= 0;
    if (!ended) take(client, reply, {chunk, static_cast<std::size_t>(got.count)});
    // A close after part of a reply ends it; a failure or the time does not.
    if (got.count == 0 && !got.timed_out && !reply.text.empty()) end_reply(reply);
  }
  reply.text = hide_secrets_in_reply(reply.text, client.secrets);
  logs::debug_log(reply.text);
  if (reply.dropped > 0) {
    logs::debug_log("[" + std::to_string(reply.dropped) + " more bytes of the reply dropped]\n");
  }
  if (!reply.complete) return std::nullopt;
  return reply;
}

} // namespace smtp
