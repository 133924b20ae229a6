// An SMTP server in memory, for the dialogue's unit tables: the client runs
// over it exactly as over a socket, and the server keeps every byte it got.
//
// Each command line the client sends is answered by what the script gives
// its verb (the line's first word; the "." line is "DOT"), each use of a verb
// taking the next answer and the last answer repeating. An answer's pieces
// reach the client in receives of their own; kClose ends the connection (the
// client reads its end), kReset breaks it (an error), and tls_fault(WHY)
// breaks it as a TLS stream does, telling WHY.
// A verb without an answer gets none: the client's wait then runs out.
#pragma once

#include "platform/stream.h"
#include "smtp/client.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace unit {

inline const std::string kClose = "<close>";
inline const std::string kReset = "<reset>";

/// A piece that breaks the connection as TLS does when it fails for `why`.
inline std::string tls_fault(const std::string &why) { return "<tls>" + why; }

using Answer = std::vector<std::string>; ///< pieces, each one receive
using Script = std::map<std::string, std::vector<Answer>>;

/// A well-behaved server's answers: a whole delivery goes through.
inline Script default_script() {
  return {{"greeting", {{"220 e2e.test ESMTP ready\r\n"}}},
          {"HELO", {{"250 hello\r\n"}}},
          {"EHLO", {{"250-e2e.test\r\n250 8BITMIME\r\n"}}},
          {"MAIL", {{"250 ok\r\n"}}},
          {"RCPT", {{"250 ok\r\n"}}},
          {"DATA", {{"354 go ahead\r\n"}}},
          {"DOT", {{"250 queued\r\n"}}},
          {"RSET", {{"250 ok\r\n"}}},
          {"QUIT", {{"221 bye\r\n"}}}};
}

/// `changes` over the default script.
inline Script script_with(const Script &changes) {
  Script script = default_script();
  for (const auto &[verb, answers] : changes) script[verb] = answers;
  return script;
}

/// What one connection's server saw.
struct Received {
  std::string raw;             ///< every byte the client sent, in order
  std::vector<int> idle_waits; ///< the time limit of each wait that got nothing
};

class ScriptedStream final : public platform::Stream {
public:
  ScriptedStream(Script script, std::shared_ptr<Received> received)
      : script_(std::move(script)), received_(std::move(received)) {
    answer("greeting");
  }

  platform::Transfer send_some(std::string_view data, int) override {
    if (gone_ == kReset) return {-1, false};
    // As over TCP, a first send to a closed server goes (lost on the way,
    // unseen) and is answered by a reset that fails every later one.
    if (gone_ == kClose) {
      gone_ = kReset;
      return {static_cast<long>(data.size()), false};
    }
    received_->raw += data;
    line_ += data;
    for (std::size_t end; (end = line_.find("\r\n")) != std::string::npos;) {
      const std::string verb = line_.substr(0, std::min(line_.find(' '), end));
      answer(verb == "." ? "DOT" : verb);
      line_.erase(0, end + 2);
    }
    return {static_cast<long>(data.size()), false};
  }

  platform::Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) override {
    if (to_receive_.empty()) {
      if (!ended_.empty()) return {ended_ == kReset ? -1 : 0, false};
      if (timeout_ms > 0) received_->idle_waits.push_back(timeout_ms);
      return {0, true};
    }
    std::string &piece = to_receive_.front();
    if (piece.starts_with("<tls>")) {
      failure_ = piece.substr(5);
      piece = kReset;
    }
    if (piece == kClose || piece == kReset) {
      ended_ = piece;
      to_receive_.clear();
      return receive_some(buffer, capacity, timeout_ms);
    }
    const std::size_t count = std::min(capacity, piece.size());
    piece.copy(buffer, count);
    piece.erase(0, count);
    if (piece.empty()) to_receive_.pop_front();
    return {static_cast<long>(count), false};
  }

  void send_without_delay() override {}

  std::string failure() const override { return failure_; }

private:
  // The server's answer closes or breaks its end the moment it is given.
  void answer(const std::string &verb) {
    auto found = script_.find(verb);
    if (found == script_.end() || found->second.empty()) return;
    std::size_t &uses = uses_[verb];
    const Answer &pieces = found->second[std::min(uses, found->second.size() - 1)];
    ++uses;
    for (const std::string &piece : pieces) {
      to_receive_.push_back(piece);
      if (piece == kClose || piece == kReset) gone_ = piece;
    }
  }

  Script script_;
  std::shared_ptr<Received> received_;
  std::map<std::string, std::size_t> uses_;
  std::string line_;
  std::deque<std::string> to_receive_;
  std::string gone_;  ///< kClose or kReset once the server has ended its end
  std::string ended_; ///< the same, once the client has read up to it
  std::string failure_;
};

/// A server in memory for every connection a client makes: the first
/// served by `scripts[0]`, the next by `scripts[1]`, and so on (the last
/// script for any later one).
struct ScriptedServer {
  std::vector<Script> scripts;
  int refusal;         ///< when not 0, no connection at all, for this Windows Sockets code
  std::string address; ///< where the client finds itself connected to (4 or 16 bytes)
  std::vector<std::shared_ptr<Received>> connections;

  explicit ScriptedServer(std::vector<Script> served, int refused = 0)
      : scripts(std::move(served)), refusal(refused) {}

  /// A client whose connections reach this server, with limits short
  /// enough for a test that waits in vain.
  smtp::Client client() {
    smtp::Client client;
    client.connect = [this](std::string &, int) {
      smtp::Connected connected;
      if (refusal != 0) {
        connected.error = refusal;
        return connected;
      }
      connected.address = address;
      auto received = std::make_shared<Received>();
      connections.push_back(received);
      const Script &script = scripts[std::min(connections.size(), scripts.size()) - 1];
      connected.stream = std::make_unique<ScriptedStream>(script, received);
      return connected;
    };
    return client;
  }

  /// What the first connection's server got.
  std::string raw() const { return connections.empty() ? "" : connections.front()->raw; }
};

} // namespace unit
