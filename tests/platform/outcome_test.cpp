// The one result type: a value, or a reason of the operation's domain with
// its detail.
#include "platform/outcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace zb {
namespace {

enum class Why { kFirst, kSecond };

Outcome<Why, std::string> Named(bool fail) {
  if (fail) return Fail(Why::kSecond, 42);
  return "made";  // a value the held type can be made from
}

TEST(Outcome, HoldsAValueOrAReasonWithItsDetail) {
  Outcome<Why, std::string> made = Named(false);
  EXPECT_TRUE(made.Ok());
  EXPECT_TRUE(static_cast<bool>(made));
  EXPECT_EQ(made.Value(), "made");

  Outcome<Why, std::string> failed = Named(true);
  EXPECT_FALSE(failed.Ok());
  EXPECT_FALSE(static_cast<bool>(failed));
  EXPECT_EQ(failed.Reason(), Why::kSecond);
  EXPECT_EQ(failed.Detail(), 42);

  // The first reason of a domain is a failure like any other, and a failure
  // made without a detail has 0.
  Outcome<Why> first = Fail(Why::kFirst);
  EXPECT_FALSE(first.Ok());
  EXPECT_EQ(first.Reason(), Why::kFirst);
  EXPECT_EQ(first.Detail(), 0);

  // Asking a value of a failure, or a reason of a value, is refused.
  EXPECT_THROW((void)failed.Value(), std::logic_error);
  EXPECT_THROW((void)made.Reason(), std::logic_error);
  EXPECT_THROW((void)made.Detail(), std::logic_error);
}

TEST(Outcome, DefaultsToTheValueOfItsTypeAndChangesByAssignment) {
  Outcome<Why> done;
  EXPECT_TRUE(done.Ok());
  Outcome<Why, int> number;
  EXPECT_EQ(number.Value(), 0);

  Outcome<Why, std::string> text;
  EXPECT_EQ(text.Value(), "");
  text = Fail(Why::kFirst, -1);
  EXPECT_EQ(text.Detail(), -1);
  text = std::string("again");
  EXPECT_EQ(text.Value(), "again");
}

TEST(Outcome, MovesItsValueOut) {
  Outcome<Why, std::unique_ptr<int>> held = std::make_unique<int>(7);
  std::unique_ptr<int> taken = std::move(held).Value();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(*taken, 7);
}

}  // namespace
}  // namespace zb
