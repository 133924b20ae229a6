#pragma once

#include <string_view>

namespace smtp {

inline constexpr int kDefaultPort = 25;

/// The port of the configured value `g_smtp_port`: the leading number of the
/// text after its first ":" (a "host:port" value), or of the whole value
/// without one; 25 when that number is 0. Neither range-checked nor cut to
/// 16 bits here: messages show it whole.
int smtp_port(std::string_view configured);

} // namespace smtp
