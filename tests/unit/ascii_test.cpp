#include "text/ascii.h"

#include <gtest/gtest.h>

namespace ascii {
namespace {

TEST(Printable, KeepsACertificatesTextOnOneLine) {
  EXPECT_EQ(printable("CN=a\r\nO=b\x7f\t"), "CN=a??O=b??");
  EXPECT_EQ(printable("O=B\xc3\xbc"
                      "cher, C=DE"),
            "O=B\xc3\xbc"
            "cher, C=DE");
}

} // namespace
} // namespace ascii
