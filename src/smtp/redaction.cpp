#include "smtp/redaction.h"

#include "text/ascii.h"

#include <algorithm>
#include <unordered_map>

namespace smtp {
namespace {

constexpr std::string_view kHidden = "<hidden>";

// A shorter run says too little of a secret to hide it wherever it stands:
// the letters of a one-letter password are in every reply.
constexpr std::size_t kRun = 8;

using Marks = std::vector<bool>; // per byte of the text: part of a secret

void mark(Marks &secret, std::size_t at, std::size_t size, bool value = true) {
  std::fill_n(secret.begin() + static_cast<std::ptrdiff_t>(at), size, value);
}

// Every run of kRun bytes or more of `text` found in a form: its windows of
// kRun bytes are all in the forms. The text's windows are the ones looked
// up, since a reply is mostly far shorter than a token's forms.
void mark_runs(std::string_view text, const std::vector<std::string> &forms, Marks &secret) {
  std::unordered_map<std::string_view, bool> in_form;
  for (std::size_t at = 0; at + kRun <= text.size(); ++at) {
    in_form.emplace(text.substr(at, kRun), false);
  }
  if (in_form.empty()) return;
  for (std::string_view form : forms) {
    for (std::size_t at = 0; at + kRun <= form.size(); ++at) {
      auto window = in_form.find(form.substr(at, kRun));
      if (window != in_form.end()) window->second = true;
    }
  }
  for (std::size_t at = 0; at + kRun <= text.size(); ++at) {
    if (in_form[text.substr(at, kRun)]) mark(secret, at, kRun);
  }
}

bool in_word(std::string_view text, std::size_t at) {
  return at < text.size() && ascii::is_letter_or_digit(text[at]);
}

void mark_words(std::string_view text, std::string_view form, Marks &secret) {
  for (std::size_t at = text.find(form); at != std::string_view::npos;
       at = text.find(form, at + 1)) {
    if ((at == 0 || !in_word(text, at - 1)) && !in_word(text, at + form.size())) {
      mark(secret, at, form.size());
    }
  }
}

// RFC 5321 4.2: each line of a reply starts with the code, then a blank,
// "-" or the line's end. A line that does not is text a secret may start.
bool starts_with_code(std::string_view line) {
  return line.size() >= 3 && ascii::is_digit(line[0]) && ascii::is_digit(line[1]) &&
         ascii::is_digit(line[2]) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-' || line[3] == '\r' ||
          line[3] == '\n');
}

void keep_codes(std::string_view text, Marks &secret) {
  for (std::size_t at = 0; at != std::string_view::npos;) {
    if (starts_with_code(text.substr(at))) {
      mark(secret, at, std::min<std::size_t>(4, text.size() - at), false);
    }
    at = text.find('\n', at);
    if (at != std::string_view::npos) ++at;
  }
}

Marks marked(std::string_view text, const std::vector<std::string> &forms) {
  Marks secret(text.size(), false);
  mark_runs(text, forms, secret);
  for (const std::string &form : forms) {
    if (!form.empty() && form.size() < kRun) mark_words(text, form, secret);
  }
  return secret;
}

std::string shown(std::string_view text, const Marks &secret) {
  std::string kept;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!secret[at]) {
      kept += text[at];
    } else if (at == 0 || !secret[at - 1]) {
      kept += kHidden;
    }
  }
  return kept;
}

} // namespace

std::string hide_secrets(std::string_view text, const std::vector<std::string> &forms) {
  if (forms.empty()) return std::string(text);
  return shown(text, marked(text, forms));
}

std::string hide_secrets_in_reply(std::string_view text, const std::vector<std::string> &forms) {
  if (forms.empty()) return std::string(text);
  Marks secret = marked(text, forms);
  keep_codes(text, secret);
  return shown(text, secret);
}

} // namespace smtp
