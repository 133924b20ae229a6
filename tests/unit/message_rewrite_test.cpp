#include "intake/message_rewrite.h"

#include <gtest/gtest.h>

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

// Feeds the lines as the intake does, up to the end of the message.
Result rewrite(const std::vector<std::string> &input, const RewriteOptions &options,
               RecipientList list = {}) {
  Result result{{}, std::move(list)};
  RewriteState state;
  for (std::string line : input) {
    if (rewrite_line(line, options, state, result.list, result.out) ==
        LineVerdict::end_of_message) {
      break;
    }
  }
  finish_message(options, state, result.out);
  return result;
}

RewriteOptions options_for(const std::string &mode) {
  auto has = [&](char c) { return mode.find(c) != std::string::npos; };
  return {has('t'), has('i'), false, "<me@h.example>", has('0') ? "" : "<rcpt@x.example>"};
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
  RewriteOptions options{false, false, false, "<me@h.example>", join_recipients(arguments)};
  EXPECT_EQ(rewrite({"From: a@x", ""}, options).out.spool,
            "From: a@x\nTo: " + first_ten + "\n " + arguments.entries[10] + "\n\n" + M);
}

TEST(MessageRewrite, ContinuationsAreTracedInDebugMode) {
  RewriteOptions options{true, false, true, "<me@h.example>", ""};
  const std::string long_continuation = " " + s(150, 'c') + "@x";
  Result result = rewrite({"To: a@x", "\tb@x", long_continuation, "Cc: c@x", " d@x"}, options);
  EXPECT_EQ(result.out.debug, "Found continuation of header (\tb@x)\n"
                              "Found continuation of header (" +
                                  long_continuation.substr(0, 100) +
                                  ")\n"
                                  "Found continuation of header ( d@x)\n");
  EXPECT_EQ(result.list.entries.size(), 5u);
}

} // namespace
} // namespace intake
