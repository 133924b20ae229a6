// The intake's loop: standard input through the header rewriting into the
// spool file.
#pragma once

#include "intake/message_rewrite.h"

#include <cstdio>

namespace intake {

enum class CopyOutcome { copied, read_failed, write_failed };

/// Copies `input` into `spool` with the header rewritten, up to the end of
/// input or the terminating "." line; prints the intake's messages on
/// standard output and writes debug entries in debug mode. Closes `spool`.
/// A read error or a spool write error (flush and close included) is an
/// outcome of its own: the spool file then holds no whole message.
CopyOutcome copy_message(std::FILE *input, std::FILE *spool, const RewriteOptions &options,
                         RecipientList &list);

} // namespace intake
