// Conversions of automation values, which the system performs on Windows and the runtime on
// Linux; both must give the same results and errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/automation.h"

namespace quillet::ole {
namespace {

TEST(ValueConversion, TextToIntegerFailsLikeTheSystem) {
  EXPECT_EQ(Convert(Value("42"), VarType::kInt), Value(42));
  EXPECT_EQ(Convert(Value("  -17 "), VarType::kInt), Value(-17));
  EXPECT_EQ(Convert(Value("2.5"), VarType::kInt), Value(2));  // half to even
  EXPECT_EQ(Convert(Value("3.5"), VarType::kInt), Value(4));
  Value out;
  EXPECT_EQ(ChangeType(Value("abc"), VarType::kInt, &out), hr::kTypeMismatch);
  EXPECT_EQ(ChangeType(Value(""), VarType::kInt, &out), hr::kTypeMismatch);
  EXPECT_EQ(ChangeType(Value("12x"), VarType::kInt, &out), hr::kTypeMismatch);
  EXPECT_EQ(ChangeType(Value("2147483648"), VarType::kInt, &out), hr::kOverflow);
  EXPECT_EQ(Convert(Value("-2147483648"), VarType::kInt), Value(INT32_MIN));
}

TEST(ValueConversion, OtherTypes) {
  EXPECT_EQ(Convert(Value(true), VarType::kInt), Value(-1));
  EXPECT_EQ(Convert(Value(), VarType::kInt), Value(0));
  EXPECT_EQ(Convert(Value(-5), VarType::kString), Value("-5"));
  EXPECT_EQ(Convert(Value(), VarType::kString), Value(""));
  EXPECT_EQ(Convert(Value("TRUE"), VarType::kBool), Value(true));
  EXPECT_EQ(Convert(Value("0"), VarType::kBool), Value(false));
  EXPECT_EQ(Convert(Value(7), VarType::kBool), Value(true));
  std::string text = "12";
  std::int32_t number = 9;
  EXPECT_EQ(Convert(Value(&text), VarType::kInt), Value(12));
  EXPECT_EQ(Convert(Value(&number), VarType::kString), Value("9"));
  Value out;
  EXPECT_EQ(ChangeType(Value("yes"), VarType::kBool, &out), hr::kTypeMismatch);
  EXPECT_EQ(ChangeType(Value::Omitted(), VarType::kString, &out), hr::kTypeMismatch);
}

}  // namespace
}  // namespace quillet::ole
