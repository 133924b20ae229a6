#include "smtp/socket_errors.h"

#include <string_view>

namespace smtp {
namespace {

struct ErrorText {
  int code;
  std::string_view text;
};

// The Windows Sockets codes and their texts, as users have always seen
// them (spelling included). Every text is shown after "() ".
constexpr ErrorText kErrorTexts[] = {
    {10004, "The (blocking) call was canceled via WSACancelBlockingCall."},
    {10013, "The requested address is a broadcast address, but the appropriate flag was not set."},
    {10014, "The buf argument is not in a valid part of the user address space."},
    {10022, "The socket has not been bound with bind."},
    {10035, "The socket is marked as non-blocking and the requested operation would block."},
    {10036, "A blocking Windows Sockets operation is in progress."},
    {10038, "The descriptor is not a socket."},
    {10039, "DestAddrReq"},
    {10040, "The socket is of type SOCK_DGRAM, and the datagram is larger than the maximum "
            "supported by the Windows Sockets implementation."},
    {10045, "MSG_OOB was specified, but the socket is not of type SOCK_STREAM."},
    {10048, "Address in use"},
    {10049, "Address not avail"},
    {10050, "The Windows Sockets implementation has detected that the network subsystem has "
            "failed."},
    {10051, "Network Unreachable"},
    {10052, "The connection must be reset because the Windows Sockets implementation dropped it."},
    {10053, "The virtual circuit was aborted due to timeout or other failure."},
    {10054, "The virtual circuit was reset by the remote side."},
    {10055, "The Windows Sockets implementation reports a buffer deadlock."},
    {10057, "The socket is not connected."},
    {10058, "The socket has been shutdown; it is not possible to sendln on a socket after "
            "shutdown has been invoked with how set to 1 or 2."},
    {10059, "Too many refs."},
    {10060, "Timedout"},
    {10061, "Connection Refused"},
    {10063, "Name too long"},
    {10064, "Host down"},
    {10065, "Host Unreachable"},
    {10066, "Not Empty"},
    {10093, "A successful WSAStartup must occur before using this API."},
    // The resolver's: the name is unknown, or no answer came this time.
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found"},
};

} // namespace

std::string socket_error_text(int code) {
  for (const ErrorText &row : kErrorTexts) {
    if (row.code == code) return "() " + std::string(row.text);
  }
  return "() Socket Unkown error code " + std::to_string(code) + " ";
}

} // namespace smtp
