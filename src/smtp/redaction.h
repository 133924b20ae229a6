// What a server's reply may show after a login: nothing of the secret. A
// server may quote the client's line back whole, in part, split over two
// lines, or cut by a length limit, so what is hidden is every stretch of the
// reply that lies in one of the forms in which the secret crossed the
// connection, not only a whole form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace smtp {

/// `text` with each run of 8 bytes or more that lies within one of `forms`,
/// and each shorter form where it stands as a word (no letter or digit next
/// to it), shown as one "<hidden>". Time linear in the sizes of `text` and
/// `forms`.
std::string hide_secrets(std::string_view text, const std::vector<std::string> &forms);

/// hide_secrets for a server's replies, line ends included: a reply code
/// that starts a line (three digits, then a blank, "-" or the line's end)
/// is kept as sent, since it steers the dialogue and says nothing of a
/// secret.
std::string hide_secrets_in_reply(std::string_view text, const std::vector<std::string> &forms);

} // namespace smtp
