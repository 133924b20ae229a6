#include "intake/message_rewrite.h"

#include "log/debug_log.h"

#include <gtest/gtest.h>

#include <string_view>

#include <string>
#include <vector>

namespace intake {
namespace {

const std::string F = "From: <me@h.example>\n";
const std::string T = "To: <rcpt@x.example>\n";
const std::string M = kNoBodyMarker;
std::string s(std::size_t count, char c) { return std::string(count, c); }

// One message through the line machine. `mode` holds "t" for header
// extraction, "i" for ignore-dot mode, "0" for an empty To value.
struct Row {
  const char *name;
  std::string mode;
  std::vector<std::string> input; // lines without their LF
  std::string spool;
  std::vector<std::string> recipients = {};
  std::string messages = "";
};

struct Result {
  RewriteOutput out;
  RecipientList list;
};

// Feeds `input` as the intake does, cut into pieces of `step` bytes, up to
// the end of the message.
Result rewrite_in_pieces(std::string_view input, const RewriteOptions &options, std::size_t step,
                         RecipientList list) {
  Result result{{}, std::move(list)};
  RewriteState state;
  while (!input.empty()) {
    std::string_view piece = input.substr(0, step);
    Taken taken = take_input(piece, options, state, result.list, result.out);
    EXPECT_NE(taken.verdict, Verdict::header_line_too_long);
    input.remove_prefix(taken.consumed);
    if (taken.verdict == Verdict::end_of_message) break;
    EXPECT_EQ(taken.consumed, piece.size());
  }
  finish_message(options, state, result.list, result.out);
  return result;
}

// Feeds `input` whole and in small pieces: each cut must give the same.
Result rewrite_input(const std::string &input, const RewriteOptions &options,
                     const RecipientList &list = {}) {
  Result whole = rewrite_in_pieces(input, options, input.size() + 1, list);
  for (std::size_t step : {1u, 2u, 3u, 7u}) {
    SCOPED_TRACE("in pieces of " + std::to_string(step));
    Result cut = rewrite_in_pieces(input, options, step, list);
    EXPECT_EQ(cut.out.spool, whole.out.spool);
    EXPECT_EQ(cut.list.entries, whole.list.entries);
    EXPECT_EQ(cut.out.messages, whole.out.messages);
    EXPECT_EQ(cut.out.debug, whole.out.debug);
  }
  return whole;
}

// The lines, each ended by LF, as input.
Result rewrite(const std::vector<std::string> &lines, const RewriteOptions &options,
               const RecipientList &list = {}) {
  std::string input;
  for (const std::string &line : lines) input += line + "\n";
  return rewrite_input(input, options, list);
}

RewriteOptions options_for(const std::string &mode) {
  auto has = [&](char c) { return mode.find(c) != std::string::npos; };
  return {has('t'), has('i'), "<me@h.example>", has('0') ? "" : "<rcpt@x.example>"};
}

void check(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Result result = rewrite(row.input, options_for(row.mode));
    EXPECT_EQ(result.out.spool, row.spool);
    EXPECT_EQ(result.list.entries, row.recipients);
    EXPECT_EQ(result.out.messages, row.messages);
    EXPECT_EQ(result.out.debug, "");
  }
}

TEST(MessageRewrite, HeaderEndsAtAnEmptyLineOrALineWithoutColon) {
  check({
      {"empty input", "", {}, F + T + "\n" + M},
      {"empty To value", "0", {}, F + "To: \n\n" + M},
      {"first line empty", "", {"", "body"}, F + T + "\nbody\n"},
      {"no header", "", {"hello world", "more"}, F + T + "\nhello world\nmore\n"},
      {"header and body", "", {"Subject: hi", "", "text"}, "Subject: hi\n" + F + T + "\ntext\n"},
      {"a colon makes a header line",
       "",
       {"Dear Bob: hi", "text", ""},
       "Dear Bob: hi\n" + F + T + "\ntext\n\n"},
      {"a leading blank stays in the header",
       "",
       {" no colon", "", "b"},
       " no colon\n" + F + T + "\nb\n"},
      {"header to the end of input",
       "",
       {"Subject: a", "X-Y: b"},
       "Subject: a\nX-Y: b\n" + F + T + "\n" + M},
      {"body of empty lines gets the marker", "", {"", "", ""}, F + T + "\n\n\n" + M},
      {"body of blanks is content", "", {"", "  "}, F + T + "\n  \n"},
  });
}

TEST(MessageRewrite, OwnFromAndToLinesSuppressTheSynthesizedOnes) {
  check({
      {"both present", "", {"From: a@x", "To: c@x", "", "b"}, "From: a@x\nTo: c@x\n\nb\n"},
      {"no blank after the colon", "", {"From:a@x", "To:c@x", ""}, "From:a@x\nTo:c@x\n\n" + M},
      {"any letter case", "", {"FROM: a@x", "tO: c@x", ""}, "FROM: a@x\ntO: c@x\n\n" + M},
      {"only From", "", {"from: a@x", ""}, "from: a@x\n" + T + "\n" + M},
      {"lookalike fields",
       "",
       {"Resent-From: a@x", "To-Do: list", ""},
       "Resent-From: a@x\nTo-Do: list\n" + F + T + "\n" + M},
      {"To in the body does not count", "", {"", "To: c@x"}, F + T + "\nTo: c@x\n"},
  });
}

TEST(MessageRewrite, ALoneDotEndsTheMessageUnlessDotsAreIgnored) {
  check({
      {"dot in the body", "", {"", "one", ".", "two"}, F + T + "\none\n"},
      {"dot with CR", "", {"", "one", ".\r", "two"}, F + T + "\none\n"},
      {"dot in the header", "", {"Subject: a", ".", "x"}, "Subject: a\n" + F + T + "\n" + M},
      {"ignored dot in the body", "i", {"", "one", ".", "two"}, F + T + "\none\n.\ntwo\n"},
      {"ignored dot ends the header",
       "i",
       {"Subject: a", ".", "x"},
       "Subject: a\n" + F + T + "\n.\nx\n"},
      {"dot and more is text", "", {"", ". ", ".."}, F + T + "\n. \n..\n"},
  });
}

TEST(MessageRewrite, CarriageReturnsAreRemovedAndTheTextKept) {
  check({
      {"CR LF line ends",
       "",
       {"Subject: a\r", "\r", "body\r"},
       "Subject: a\n" + F + T + "\nbody\n"},
      {"CR inside a line", "", {"", "ab\rcd", "\r\r"}, F + T + "\nabcd\n\n"},
  });
}

TEST(MessageRewrite, BccHeaderLinesAndTheirContinuationsAreLeftOut) {
  check({
      {"Bcc and continuations",
       "",
       {"Bcc: a@x", " b@x", "\tc@x", "Subject: s", "", "x"},
       "Subject: s\n" + F + T + "\nx\n"},
      {"any case, any blank", "", {"BCC: a@x", "bcc:b@x", "Bcc:\tc@x", ""}, F + T + "\n" + M},
      {"continuation ends at the next field",
       "",
       {"Bcc: a@x", "Subject: s", " more", ""},
       "Subject: s\n more\n" + F + T + "\n" + M},
      {"Bcc in the body is kept", "", {"", "Bcc: a@x"}, F + T + "\nBcc: a@x\n"},
      {"Bcc in the body is kept and not extracted",
       "t0",
       {"", "Bcc: a@x"},
       F + "To: \n\nBcc: a@x\n"},
      {"To and Cc continuations written, not parsed",
       "",
       {"To: a@x", " b@x", "Cc: c@x", "\td@x"},
       "To: a@x\n b@x\nCc: c@x\n\td@x\n" + F + "\n" + M},
  });
}

TEST(MessageRewrite, ExtractionTakesToCcAndBccAddressesWithTheirContinuations) {
  check({
      {"fields and continuations",
       "t",
       {"To: a@x, Bob <b@x>", "\tc@x", "Cc: d@x", " e@x", "Bcc: f@x", " g@x", "Subject: s", " h@x",
        "", "i@x"},
       "To: a@x, Bob <b@x>\n\tc@x\nCc: d@x\n e@x\nSubject: s\n h@x\n" + F + "\ni@x\n",
       {"<a@x>", "<b@x>", "<c@x>", "<d@x>", "<e@x>", "<f@x>", "<g@x>"}},
      {"any case, no blank",
       "t",
       {"TO:a@x", "cc:\tb@x", "BCC:c@x", ""},
       "TO:a@x\ncc:\tb@x\n" + F + "\n" + M,
       {"<a@x>", "<b@x>", "<c@x>"}},
      {"lookalike fields give nothing",
       "t",
       {"Resent-To: a@x", "To-Do: b@x", "Ccx: c@x", ""},
       "Resent-To: a@x\nTo-Do: b@x\nCcx: c@x\n" + F + T + "\n" + M},
      {"envelope form over 499 dropped, of 499 kept",
       "t",
       {"To: " + s(496, 'a') + "@x", "Cc: " + s(495, 'b') + "@x"},
       "To: " + s(496, 'a') + "@x\nCc: " + s(495, 'b') + "@x\n" + F + "\n" + M,
       {"<" + s(495, 'b') + "@x>"},
       kAddressTooLong},
  });
}

TEST(MessageRewrite, ALastLineWithoutLineFeedIsALine) {
  struct Unended {
    const char *name;
    std::string mode;
    std::string input;
    std::string spool;
  };
  const std::vector<Unended> rows = {
      {"in the header", "", "Subject: a", "Subject: a\n" + F + T + "\n" + M},
      {"ending the header", "", "Subject: a\nbody", "Subject: a\n" + F + T + "\nbody\n"},
      {"in the body", "", "S: a\n\nbody", "S: a\n" + F + T + "\nbody\n"},
      {"a lone dot ends the message", "", "S: a\n\nbody\n.", "S: a\n" + F + T + "\nbody\n"},
      {"a lone dot in the header", "", "S: a\n.", "S: a\n" + F + T + "\n" + M},
      {"a kept lone dot", "i", "S: a\n\nbody\n.", "S: a\n" + F + T + "\nbody\n.\n"},
      {"a dot and a CR", "", "S: a\n\nbody\n.\r", "S: a\n" + F + T + "\nbody\n"},
  };
  for (const Unended &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(rewrite_input(row.input, options_for(row.mode)).out.spool, row.spool);
  }
}

TEST(MessageRewrite, TheDotLineEndsTheInputTakenRightAfterItsLineFeed) {
  const std::string input = "S: a\n\nbody\n\r.\r\nrest\n";
  RewriteState state;
  RecipientList list;
  RewriteOutput out;
  Taken taken = take_input(input, options_for(""), state, list, out);
  EXPECT_EQ(taken.verdict, Verdict::end_of_message);
  EXPECT_EQ(input.substr(taken.consumed), "rest\n");
}

TEST(MessageRewrite, AHeaderLineIsHeldUpToOneMebibyteCarriageReturnsNotCounted) {
  const std::string longest = "X: " + s(kMaxHeldHeaderLine - 3, 'v');
  Result held = rewrite_input(longest + "\r\n\r\nbody\n", options_for(""));
  EXPECT_EQ(held.out.spool.find(longest.substr(0, 998) + "\n"), 0u);

  for (std::size_t step : {std::size_t{4096}, longest.size() + 10}) {
    RewriteState state;
    RecipientList list;
    RewriteOutput out;
    Verdict verdict = Verdict::more;
    const std::string whole = "S: s\n" + longest + "v\n\nbody\n";
    std::string_view input = whole;
    while (verdict == Verdict::more && !input.empty()) {
      Taken taken = take_input(input.substr(0, step), options_for(""), state, list, out);
      input.remove_prefix(taken.consumed);
      verdict = taken.verdict;
    }
    EXPECT_EQ(verdict, Verdict::header_line_too_long);
  }
}

TEST(MessageRewrite, BodyLinesOfAnyLengthPassThroughWithoutBeingHeld) {
  const std::string line = s(3 * 1024 * 1024, 'b');
  RewriteOptions options = options_for("");
  RewriteState state;
  RecipientList list;
  RewriteOutput out;
  take_input("S: s\n\n", options, state, list, out);
  out.spool.clear();
  std::size_t passed = 0;
  for (std::size_t at = 0; at < line.size(); at += 65536) {
    take_input(std::string_view(line).substr(at, 65536), options, state, list, out);
    EXPECT_LE(out.spool.size(), 65536u);
    passed += out.spool.size();
    out.spool.clear();
  }
  EXPECT_EQ(passed, line.size());
  EXPECT_TRUE(state.header_line.empty());
}

TEST(MessageRewrite, HeaderAddressesBeyondAFullListAreDroppedWithAMessageEach) {
  RecipientList list{std::vector<std::string>(30000, "<earlier>")};
  Result result = rewrite({"Cc: a@x, b@x, c@x"}, options_for("t"), list);
  ASSERT_EQ(result.list.entries.size(), 30001u);
  EXPECT_EQ(result.list.entries.back(), "<a@x>");
  EXPECT_EQ(result.out.messages, std::string(kHeaderListFull) + kHeaderListFull);
  EXPECT_EQ(result.out.spool, "Cc: a@x, b@x, c@x\n" + F + T + "\n" + M);
}

TEST(MessageRewrite, LongHeaderLinesStayWholeUpTo998AndAreFoldedBeyond) {
  const std::string line_499 = "X-Long: " + s(491, 'v');
  const std::string line_998 = "X-Long: " + s(990, 'v');
  check({
      {"499 characters", "", {line_499, "S: s", "", "b"}, line_499 + "\nS: s\n" + F + T + "\nb\n"},
      {"998 characters", "", {line_998, ""}, line_998 + "\n" + F + T + "\n" + M},
      {"999 characters, the field name not left alone",
       "",
       {line_998 + "w", ""},
       line_998 + "\n w\n" + F + T + "\n" + M},
  });

  RecipientList arguments;
  for (char c = 'a'; c < 'a' + 11; ++c) arguments.entries.push_back("<" + s(90, c) + "@x.org>");
  std::string first_ten;
  for (std::size_t i = 0; i < 10; ++i) first_ten += arguments.entries[i] + ",";
  RewriteOptions options{false, false, "<me@h.example>", join_recipients(arguments)};
  EXPECT_EQ(rewrite({"From: a@x", ""}, options).out.spool,
            "From: a@x\nTo: " + first_ten + "\n " + arguments.entries[10] + "\n\n" + M);
}

TEST(MessageRewrite, ContinuationsAreTracedInDebugMode) {
  RewriteOptions options{true, false, "<me@h.example>", ""};
  const std::string long_continuation = " " + s(150, 'c') + "@x";
  logs::set_debug_mode(true);
  Result result = rewrite({"To: a@x", "\tb@x", long_continuation, "Cc: c@x", " d@x"}, options);
  logs::set_debug_mode(false);
  EXPECT_EQ(result.out.debug, "Found continuation of header (\tb@x)\n"
                              "Found continuation of header (" +
                                  long_continuation.substr(0, 100) +
                                  ")\n"
                                  "Found continuation of header ( d@x)\n");
  EXPECT_EQ(result.list.entries.size(), 5u);
}

} // namespace
} // namespace intake
