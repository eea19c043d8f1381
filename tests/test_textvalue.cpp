#include "TextValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

TEST(TextValue, LeadingNumberOfTheTextWithBlanksIgnoredAndZeroForNoNumber)
{
    const std::pair<const char*, double> cases[] = {
        {"15", 15}, {"5 12", 512}, {" \t1\n5 ", 15}, {"12abc", 12}, {"-3", -3}, {"+7", 7}, {"15.5", 15.5},
        {".5", 0.5}, {"1.5e2", 150}, {"1.5D2", 150}, {"2E-1", 0.2}, {"2e", 2}, {"2e+x", 2}, {"1.2.3", 1.2},
        {"1,5", 1}, {"&H1F", 31}, {"&hff", 255}, {"&O17", 15}, {"&o19", 1}, {"& H 1 0", 16}, {"&H", 0},
        {"", 0}, {" ", 0}, {"abc", 0}, {"-", 0}, {".", 0}, {"e5", 0}, {"inf", 0}, {"nan", 0}, {"0x10", 0},
        {"&", 0}, {"&X1", 0}, {"--1", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(TextValue(text), value) << '"' << text << '"';
}

TEST(TextValue, DecimalPointIsAFullStopInAnyLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_DOUBLE_EQ(TextValue("14.5"), 14.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TextValue, RoundingHalvesToEvenAndClampsToTheTargetType)
{
    const std::tuple<const char*, int, long> cases[] = {
        {"14.5", 14, 14}, {"15.5", 16, 16}, {"-2.5", -2, -2}, {"2.51", 3, 3}, {"100000", 32767, 100000},
        {"-100000", -32768, -100000}, {"1e300", 32767, 2147483647}, {"-1e999", -32768, -2147483648L},
        {"1e-999", 0, 0}};
    for (const auto& [text, int16, int32] : cases) {
        EXPECT_EQ(RoundToInt16(TextValue(text)), int16) << text;
        EXPECT_EQ(RoundToInt32(TextValue(text)), int32) << text;
    }
}
