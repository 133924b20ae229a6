#include "platform/stream.h"

namespace platform {
namespace {

class SocketStream final : public Stream {
public:
  explicit SocketStream(Socket socket) : socket_(socket) {}
  ~SocketStream() override { close_socket(socket_); }
  SocketStream(const SocketStream &) = delete;
  SocketStream &operator=(const SocketStream &) = delete;

  Transfer send_some(std::string_view data, int timeout_ms) override {
    return platform::send_some(socket_, data, timeout_ms);
  }
  Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) override {
    return platform::receive_some(socket_, buffer, capacity, timeout_ms);
  }
  void send_without_delay() override { platform::send_without_delay(socket_); }

private:
  Socket socket_;
};

} // namespace

std::unique_ptr<Stream> socket_stream(Socket socket) {
  return std::make_unique<SocketStream>(socket);
}

} // namespace platform
