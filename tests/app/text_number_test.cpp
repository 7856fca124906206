// Field and file text read the way atoi reads it, with overflow defined.
#include "text_number.h"

#include <gtest/gtest.h>

TEST(TextNumber, ReadLikeAtoiAndFieldsCutAt15Characters) {
    EXPECT_EQ(SaturatingAtoi("  -12x"), -12);
    EXPECT_EQ(SaturatingAtoi("+7"), 7);
    EXPECT_EQ(SaturatingAtoi("x7"), 0);
    EXPECT_EQ(SaturatingAtoi("99999999999"), 2147483647);
    EXPECT_EQ(SaturatingAtoi("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseLikeAtoi("4294967297").wrapped, 1u);  // wraps as a 32-bit atoi does
    EXPECT_EQ(FieldTextToWord("65537"), 1);
    EXPECT_EQ(FieldTextToWord("-1"), 65535);
    EXPECT_EQ(FieldTextToWord("000000000000000" "7"), 0);  // the 16th character is never read
    EXPECT_EQ(FieldTextToWord(nullptr), 0);
}
