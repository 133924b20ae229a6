#include "oauth/http_response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oauth {
namespace {

constexpr HttpProgress kMore = HttpProgress::more;
constexpr HttpProgress kDone = HttpProgress::done;
constexpr HttpProgress kFailed = HttpProgress::failed;

// `received` taken as a first piece of `first` bytes and then pieces of
// `step` bytes, followed by the close when `closed`.
HttpReader read(std::string_view received, std::size_t first, std::size_t step, bool closed) {
  HttpReader reader;
  take_bytes(reader, received.substr(0, first));
  for (std::size_t at = first; at < received.size(); at += step) {
    take_bytes(reader, received.substr(at, step));
  }
  if (closed) take_end(reader);
  return reader;
}

struct Row {
  const char *name;
  std::string received;
  bool closed;
  HttpProgress progress;
  int status;          ///< when done
  std::string body;    ///< when done
  std::string failure; ///< when failed
};

void expect_read_as(const Row &row, std::size_t first, std::size_t step) {
  SCOPED_TRACE(std::string(row.name) + ", first piece " + std::to_string(first) + ", then " +
               std::to_string(step));
  const HttpReader reader = read(row.received, first, step, row.closed);
  ASSERT_EQ(reader.progress, row.progress);
  if (row.progress == kDone) {
    EXPECT_EQ(reader.status, row.status);
    EXPECT_EQ(reader.body, row.body);
  }
  EXPECT_EQ(reader.failure, row.failure);
}

// Every row read whole, byte by byte, and cut in two at each place.
void expect_rows(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    const std::size_t size = row.received.size();
    expect_read_as(row, size, 1);
    expect_read_as(row, 0, 1);
    for (std::size_t cut = 1; cut < size; ++cut) expect_read_as(row, cut, size);
  }
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";

TEST(TakeBytes, ABodyOfContentLengthBytes) {
  expect_rows({
      {"Content-Length",
       kOk + "Content-Type: application/json\r\nContent-Length: 7\r\n\r\n{\"a\":1}", false, kDone,
       200, "{\"a\":1}", ""},
      {"bytes after the answer", kOk + "Content-Length: 2\r\n\r\nabHTTP/1.1", false, kDone, 200,
       "ab", ""},
      {"empty body", "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n", false, kDone, 400, "",
       ""},
      {"LF alone ends lines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nab", false, kDone, 200, "ab",
       ""},
      {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nab", false, kDone, 200, "ab",
       ""},
      {"the same length twice", kOk + "content-length: 2\r\nCONTENT-LENGTH:2 , 2\r\n\r\nab", false,
       kDone, 200, "ab", ""},
      {"lengths that differ", kOk + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc", false,
       kFailed, 0, "", "a bad Content-Length"},
      {"a list that differs", kOk + "Content-Length: 2, 3\r\n\r\nabc", false, kFailed, 0, "",
       "a bad Content-Length"},
      {"a sign", kOk + "Content-Length: +2\r\n\r\nab", false, kFailed, 0, "",
       "a bad Content-Length"},
      {"an empty length", kOk + "Content-Length:\r\n\r\n", false, kFailed, 0, "",
       "a bad Content-Length"},
      {"a length past 64 KiB", kOk + "Content-Length: 65537\r\n\r\n", false, kFailed, 0, "",
       "the answer is larger than 64 KiB"},
      {"a length past 64 bits", kOk + "Content-Length: 99999999999999999999999\r\n\r\n", false,
       kFailed, 0, "", "the answer is larger than 64 KiB"},
      {"cut short in the body", kOk + "Content-Length: 10\r\n\r\nabc", true, kFailed, 0, "",
       "the answer was cut short"},
      {"still coming", kOk + "Content-Length: 10\r\n\r\nabc", false, kMore, 0, "", ""},
  });
}

TEST(TakeBytes, AChunkedBody) {
  expect_rows({
      {"extensions and a trailer",
       kChunked +
           "4;name=\"v\"\r\nabcd\r\na \t; x=1\r\nefghijklmn\r\n0\r\nServer-Timing: 1\r\n\r\n",
       false, kDone, 200, "abcdefghijklmn", ""},
      {"LF alone, upper-case hex", kOk + "Transfer-Encoding: chunked\n\n0A\nefghijklmn\n0\n\n",
       false, kDone, 200, "efghijklmn", ""},
      {"chunked wins over Content-Length",
       kOk + "Content-Length: 3\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       false, kDone, 200, "hello", ""},
      {"folded onto the next line",
       kOk + "Transfer-Encoding:\r\n chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", false, kDone, 200, "ok",
       ""},
      {"another coding", kOk + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", false, kFailed,
       0, "", "a transfer coding other than chunked"},
      {"chunked twice", kOk + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n",
       false, kFailed, 0, "", "a transfer coding other than chunked"},
      {"no hex digits", kChunked + "zz\r\n", false, kFailed, 0, "", "a bad chunk size"},
      {"an empty size line", kChunked + "\r\n", false, kFailed, 0, "", "a bad chunk size"},
      {"0x", kChunked + "0x5\r\n", false, kFailed, 0, "", "a bad chunk size"},
      {"a size past 64 bits", kChunked + "10000000000000000\r\n", false, kFailed, 0, "",
       "a bad chunk size"},
      {"the largest 64-bit size", kChunked + "ffffffffffffffff\r\n", false, kFailed, 0, "",
       "the answer is larger than 64 KiB"},
      {"data longer than its size", kChunked + "2\r\nokX\r\n", false, kFailed, 0, "",
       "a chunk without its CRLF"},
      {"a long size line", kChunked + "1;" + std::string(1100, 'x'), false, kFailed, 0, "",
       "a chunk-size line longer than 1 KiB"},
      {"cut short before the trailer's end", kChunked + "2\r\nok\r\n0\r\n", true, kFailed, 0, "",
       "the answer was cut short"},
  });
}

TEST(TakeBytes, HeadsAndTheClose) {
  expect_rows({
      {"100 Continue first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, kDone,
       200, "ok", ""},
      {"a body up to the close",
       "HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/html\r\n\r\n<html>oops</html>",
       true, kDone, 500, "<html>oops</html>", ""},
      {"an empty body up to the close", kOk + "\r\n", true, kDone, 200, "", ""},
      {"a body up to the close, still coming", kOk + "\r\nabc", false, kMore, 0, "", ""},
      {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", false, kDone, 204,
       "", ""},
      {"closed in the head", kOk + "Content-", true, kFailed, 0, "", "the answer was cut short"},
      {"closed after 100 Continue", "HTTP/1.1 100 Continue\r\n\r\n", true, kFailed, 0, "",
       "no answer"},
      {"closed at once", "", true, kFailed, 0, "", "no answer"},
      {"HTML", "<html><body>Bad", false, kFailed, 0, "", "not an HTTP answer"},
      {"an empty first line", "\r\nHTTP/1.1 200 OK\r\n\r\n", false, kFailed, 0, "",
       "not an HTTP answer"},
      {"HTTP/2", "HTTP/2 200 OK\r\n\r\n", false, kFailed, 0, "", "not an HTTP answer"},
      {"two digits", "HTTP/1.1 20 OK\r\n\r\n", false, kFailed, 0, "", "not an HTTP answer"},
      {"four digits", "HTTP/1.1 2000 OK\r\n\r\n", false, kFailed, 0, "", "not an HTTP answer"},
      {"below 100", "HTTP/1.1 099 x\r\n\r\n", false, kFailed, 0, "", "not an HTTP answer"},
      {"a blank before the colon", kOk + "Content-Length : 2\r\n\r\nab", false, kFailed, 0, "",
       "a bad header field"},
      {"no colon", kOk + "Content-Length 2\r\n\r\nab", false, kFailed, 0, "", "a bad header field"},
      {"a fold before any field", kOk + " x\r\n\r\n", false, kFailed, 0, "", "a bad header field"},
  });
}

TEST(TakeBytes, AtMost16KiBOfHeadAnd64KiBOfBody) {
  const std::string body(kLargestBody, 'b');
  const std::string field = "X-Padding: " + std::string(kLargestHead, 'p') + "\r\n";
  const std::vector<Row> rows = {
      {"64 KiB by Content-Length", kOk + "Content-Length: 65536\r\n\r\n" + body, false, kDone, 200,
       body, ""},
      {"64 KiB up to the close", kOk + "\r\n" + body, true, kDone, 200, body, ""},
      {"a byte more up to the close", kOk + "\r\n" + body + "b", true, kFailed, 0, "",
       "the answer is larger than 64 KiB"},
      {"64 KiB in chunks",
       kChunked + "8000\r\n" + body.substr(0x8000) + "\r\n8000\r\n" + body.substr(0x8000) +
           "\r\n0\r\n\r\n",
       false, kDone, 200, body, ""},
      {"chunks past 64 KiB together", kChunked + "8000\r\n" + body.substr(0x8000) + "\r\n8001\r\n",
       false, kFailed, 0, "", "the answer is larger than 64 KiB"},
      {"a long head", kOk + field + "\r\n", false, kFailed, 0, "",
       "the answer's head is larger than 16 KiB"},
      {"a long trailer", kChunked + "0\r\n" + field + "\r\n", false, kFailed, 0, "",
       "the answer's trailer is larger than 16 KiB"},
  };
  for (const Row &row : rows) {
    for (std::size_t step : {std::size_t{1}, std::size_t{1000}, row.received.size()}) {
      expect_read_as(row, 0, step);
    }
  }
}

TEST(TakeEnd, BytesAfterTheEndAreIgnored) {
  HttpReader reader = read(kOk + "\r\nabc", 0, 100, true);
  EXPECT_EQ(take_bytes(reader, "def"), kDone);
  EXPECT_EQ(take_end(reader), kDone);
  EXPECT_EQ(reader.body, "abc");
}

} // namespace
} // namespace oauth
