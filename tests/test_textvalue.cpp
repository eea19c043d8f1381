#include "TextValue.h"

#include <gtest/gtest.h>

#include <clocale>

TEST(TextValue, LeadingNumberWithBlanksAnywhere)
{
    EXPECT_EQ(TextValue("15"), 15);
    EXPECT_EQ(TextValue("5 12"), 512);
    EXPECT_EQ(TextValue(" \t1\n5 "), 15);
    EXPECT_EQ(TextValue("12abc"), 12);
    EXPECT_EQ(TextValue("-3"), -3);
    EXPECT_EQ(TextValue("+7"), 7);
    EXPECT_DOUBLE_EQ(TextValue("15.5"), 15.5);
    EXPECT_DOUBLE_EQ(TextValue(".5"), 0.5);
    EXPECT_DOUBLE_EQ(TextValue("1.5e2"), 150);
    EXPECT_DOUBLE_EQ(TextValue("1.5D2"), 150);
    EXPECT_DOUBLE_EQ(TextValue("2e"), 2);
    EXPECT_DOUBLE_EQ(TextValue("2e+x"), 2);
    EXPECT_DOUBLE_EQ(TextValue("1.2.3"), 1.2);
    EXPECT_EQ(TextValue("1,5"), 1);
}

TEST(TextValue, EmptyOrNonNumericIsZero)
{
    for (const char* text : {"", " ", "abc", "-", ".", "e5", "inf", "nan", "0x10", "&", "&X1", "--1"})
        EXPECT_EQ(TextValue(text), 0) << '"' << text << '"';
}

TEST(TextValue, HexAndOctalPrefixes)
{
    EXPECT_EQ(TextValue("&H1F"), 31);
    EXPECT_EQ(TextValue("&hff"), 255);
    EXPECT_EQ(TextValue("&O17"), 15);
    EXPECT_EQ(TextValue("&o19"), 1);
    EXPECT_EQ(TextValue("&H"), 0);
    EXPECT_EQ(TextValue("& H 1 0"), 16);
}

TEST(TextValue, DecimalPointIsAFullStopInAnyLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_DOUBLE_EQ(TextValue("14.5"), 14.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TextValue, RoundingHalvesToEvenAndClampsHugeValues)
{
    EXPECT_EQ(RoundToInt16(TextValue("14.5")), 14);
    EXPECT_EQ(RoundToInt16(TextValue("15.5")), 16);
    EXPECT_EQ(RoundToInt16(TextValue("-2.5")), -2);
    EXPECT_EQ(RoundToInt32(TextValue("2.51")), 3);
    EXPECT_EQ(RoundToInt16(TextValue("100000")), 32767);
    EXPECT_EQ(RoundToInt16(TextValue("-100000")), -32768);
    EXPECT_EQ(RoundToInt32(TextValue("1e300")), 2147483647);
    EXPECT_EQ(RoundToInt32(TextValue("1e999")), 2147483647);
    EXPECT_EQ(RoundToInt32(TextValue("-1e999")), -2147483647 - 1);
    EXPECT_EQ(RoundToInt32(TextValue("1e-999")), 0);
    EXPECT_EQ(RoundToInt32(TextValue("0.000000000000000000000000000000000000000000000000000000000000000000000000000"
                                      "00000000000000000000000000000000000000000000000000000000000000000000000000000"
                                      "00000000000000000000000000000000000000000000000000000000000000000000000000000"
                                      "00000000000000000000000000000000000000000000000000000000000000000000000000000"
                                      "000000000000000000000000000000000000000000000000000000000001")),
              0);
}
