// The bytes of one connection to the SMTP server, whatever carries them: the
// one seam between the SMTP client and the transport beneath it. Everything
// the client sends and receives passes through a Stream.
#pragma once

#include "platform/net.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class Stream {
public:
  /// Ends the connection. A TLS stream first sends close_notify (RFC 8446
  /// 6.1) if it goes at once, unless the stream is broken.
  virtual ~Stream() = default;

  /// Waits at most `timeout_ms` milliseconds for room to send, then sends
  /// what of `data` goes at once; a closed peer is an error (count -1). A
  /// TLS stream sends one whole record or fails: when its time runs out
  /// with a record sent in part (timed_out), the stream is broken, since the
  /// peer would read whatever came next as the rest of that record. A broken
  /// stream sends nothing more, close_notify included, and every later send
  /// and receive is an error (count -1).
  virtual Transfer send_some(std::string_view data, int timeout_ms) = 0;

  /// One receive of at most `capacity` bytes, waiting at most `timeout_ms`
  /// milliseconds for the first (0: only what is there now); count 0 at the
  /// end of the stream, -1 on an error. The end of a socket's stream is the
  /// peer's close. The end of a TLS stream is the peer's close_notify (RFC
  /// 8446 6.1); a close of the connection without it is an error, since it
  /// may have cut the text short: a bare close in the middle of a reply is
  /// no reply.
  virtual Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) = 0;

  /// From now on a small send leaves at once, not held back until the peer
  /// has acknowledged what went before.
  virtual void send_without_delay() = 0;

  /// Why a TLS stream broke after its handshake (an alert, a refused
  /// renegotiation, a record that failed, a close without close_notify), in
  /// words for "TLS with HOST failed: REASON"; empty while it has not broken,
  /// and always for a socket, whose failures the dialogue tells itself.
  virtual std::string failure() const { return {}; }
};

/// The stream of a connected socket; destroying it closes the socket.
std::unique_ptr<Stream> socket_stream(Socket socket);

} // namespace platform
