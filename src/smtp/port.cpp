#include "smtp/port.h"

#include "smtp/leading_number.h"

namespace smtp {

int smtp_port(std::string_view configured) {
  std::size_t colon = configured.find(':');
  if (colon != std::string_view::npos) configured.remove_prefix(colon + 1);
  int port = leading_number(configured);
  return port == 0 ? kDefaultPort : port;
}

} // namespace smtp
