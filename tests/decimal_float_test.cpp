// Decimal-float encoding: "%.6g" text, the two words, the way back, and
// independence from the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "DriverFixture.h"
#include "frames/DecimalFloat.h"
#include "frames/Func_Write.h"

using namespace marovin_test;
using marovin::decodeDecimalFloat;
using marovin::encodeDecimalFloat;
using marovin::formatG6;

namespace {

// Bytes 7 to 10 of a decimal-float write frame.
std::string wordsHex(float value)
{
    unsigned short fraction = 0xAAAA, integer = 0xAAAA;
    encodeDecimalFloat(value, &fraction, &integer);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02X %02X %02X %02X", fraction >> 8, fraction & 0xFF, integer >> 8,
                  integer & 0xFF);
    return buffer;
}

TEST(DecimalFloat, EncodingTable)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float value;
        const char *text, *words;
    } rows[] = {
        {12.5f, "12.5", "00 05 00 0C"},       {12.05f, "12.05", "00 05 00 0C"},       {-3.25f, "-3.25", "00 19 FF FD"},
        {-0.5f, "-0.5", "00 05 00 00"},       {1.0f, "1", "00 00 00 01"},             {0.1f, "0.1", "00 01 00 00"},
        {0.0001f, "0.0001", "00 01 00 00"},   {3.14159265f, "3.14159", "37 4F 00 03"}, {100000.0f, "100000", "00 00 86 A0"},
        {1234567.0f, "1.23457e+06", "00 00 00 01"}, {0.000012f, "1.2e-05", "00 00 00 01"},
        {123456.7f, "123457", "00 00 E2 41"}, {1000000.0f, "1e+06", "00 00 00 00"},  {0.123457f, "0.123457", "E2 41 00 00"},
        {-40000.0f, "-40000", "00 00 63 C0"}, {0.0f, "0", "00 00 00 00"},             {-0.0f, "-0", "00 00 00 00"},
        {inf, "inf", "00 00 00 00"},          {-inf, "-inf", "00 00 00 00"},
        {std::numeric_limits<float>::quiet_NaN(), "nan", "00 00 00 00"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(formatG6(r.value).toStdString(), r.text);
        EXPECT_EQ(wordsHex(r.value), r.words) << r.text;
    }
    // Exact ties round to even, as printf does.
    const struct {
        double value;
        const char *text;
    } ties[] = {
        {123456.5, "123456"}, {123457.5, "123458"}, {12345.25, "12345.2"}, {12345.75, "12345.8"}, {0.5, "0.5"},
        {2.5e-5, "2.5e-05"}, {1234565, "1.23456e+06"}, {1234575, "1.23458e+06"}, {999999.5, "1e+06"},
        {-1.5e300, "-1.5e+300"}, {5e-324, "4.94066e-324"},
    };
    for (const auto &t : ties)
        EXPECT_EQ(formatG6(t.value).toStdString(), t.text) << t.text;
    unsigned short fraction = 1;
    encodeDecimalFloat(2.5f, &fraction, nullptr);  // either word may be left out
    encodeDecimalFloat(2.5f, nullptr, nullptr);
    EXPECT_EQ(fraction, 5);
}

TEST(DecimalFloat, DecodingAndTheWayBack)
{
    const struct {
        unsigned short fraction, integer;
        float value;
    } rows[] = {
        {5, 12, 12.5f},  {25, 3, 3.25f},         {0, 0, 0.0f},         {0, 1, 1.0f},
        {1, 0, 0.1f},    {14159, 3, 3.14159f},   {65535, 65535, 65535.65535f}, {123, 0x8000, 32768.123f},
    };
    for (const auto &r : rows)
        EXPECT_EQ(decodeDecimalFloat(r.fraction, r.integer), r.value) << r.integer << "." << r.fraction;
    for (float v : {12.5f, 3.25f, 100.75f, 1.5f, 999.9f, 42.0f, 0.5f, 65535.5f, 7.125f, 3.14159f, 1234.56f}) {
        unsigned short fraction = 0, integer = 0;
        encodeDecimalFloat(v, &fraction, &integer);
        EXPECT_EQ(decodeDecimalFloat(fraction, integer), v) << v;
    }
}

class DecimalFloatLocale : public DriverTest {};

TEST_F(DecimalFloatLocale, CommaDecimalLocaleLeavesFramesUnchanged)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char *chosen = nullptr;
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if (!chosen && std::setlocale(LC_NUMERIC, name))
            chosen = name;
    if (!chosen)
        GTEST_SKIP() << "no comma-decimal locale is installed (de_DE.UTF-8 or fr_FR.UTF-8)";
    char check[16];
    std::snprintf(check, sizeof check, "%.6g", 12.5);
    EXPECT_STREQ(check, "12,5") << "the locale must really be in force, or the test proves nothing";
    EXPECT_EQ(formatG6(12.5).toStdString(), "12.5");
    EXPECT_EQ(decodeDecimalFloat(5, 12), 12.5f);
    RW_VAR v = writeVar(5, 0x100, "D0 0F 49 40", 1, 2);  // 3.14159
    WriteAnalog_32FLOAT(&v);
    EXPECT_EQ(queuedFrames(), std::vector<std::string>{"0A 00 10 90 05 01 00 37 4F 00 03 39"}) << chosen;
    std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
