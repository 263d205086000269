// The one reader of numbers written as text: CD indexes and strings given
// where a member takes an integer.
#include "platform/decimal_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace zb {
namespace {

TEST(DecimalText, ReadsTheLeadingDecimalNumberCutTowardZero) {
  EXPECT_EQ(ReadDecimal("2"), 2);
  EXPECT_EQ(ReadDecimal("2.7"), 2);
  EXPECT_EQ(ReadDecimal("  \t+3xyz"), 3);
  EXPECT_EQ(ReadDecimal("-0.9"), 0);
  EXPECT_EQ(ReadDecimal("-1.5"), -1);
  EXPECT_EQ(ReadDecimal("1e1"), 10);
  EXPECT_EQ(ReadDecimal("25E-1"), 2);
  EXPECT_EQ(ReadDecimal(".5"), 0);
  EXPECT_EQ(ReadDecimal("4."), 4);
  EXPECT_EQ(ReadDecimal("2e"), 2);
  EXPECT_EQ(ReadDecimal(""), 0);
  EXPECT_EQ(ReadDecimal("x"), 0);
  EXPECT_EQ(ReadDecimal("0x10"), 0);
  EXPECT_EQ(ReadDecimal("inf"), 0);
  EXPECT_EQ(ReadDecimal("-"), 0);
  EXPECT_EQ(ReadDecimal("1e999"), INT_MAX);
  EXPECT_EQ(ReadDecimal("-99999999999"), INT_MIN);
}

}  // namespace
}  // namespace zb
