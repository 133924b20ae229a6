// The intake's loop: standard input through the header rewriting into the
// spool file, block by block.
#pragma once

#include "intake/message_rewrite.h"
#include "io/block_reader.h"

#include <cstdio>

namespace intake {

inline constexpr const char *kHeaderLineTooLong = "Header line too long\n";

enum class CopyOutcome { copied, read_failed, write_failed, header_line_too_long };

/// Copies `input` into `spool` with the header rewritten, up to the end of
/// input or the terminating "." line (the bytes after it stay unconsumed in
/// `input`); prints the intake's messages as they arise and writes debug
/// entries in debug mode. When copied, `spool` is flushed and rewound, ready
/// to be sent. Any other outcome leaves no whole message in `spool`. When
/// `eight_bit` is given, it is set when the spool holds a byte over 127.
CopyOutcome copy_message(io::BlockReader &input, std::FILE *spool, const RewriteOptions &options,
                         RecipientList &list, bool *eight_bit = nullptr);

} // namespace intake
