// Decimal-float encoding: "%.6g" text, the two words, the way back, and
// independence from the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "DriverFixture.h"
#include "frames/DecimalFloat.h"
#include "frames/Func_Write.h"

using namespace marovin_test;
using marovin::decodeDecimalFloat;
using marovin::encodeDecimalFloat;
using marovin::formatG6;

namespace {

// Restores LC_NUMERIC when a test leaves.
class NumericLocale {
public:
    NumericLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {}
    ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }

private:
    std::string saved_;
};

std::string printfG6(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// Bytes 7 to 10 of a decimal-float write frame.
std::string wordsHex(float value)
{
    unsigned short fraction = 0xAAAA, integer = 0xAAAA;
    encodeDecimalFloat(value, &fraction, &integer);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02X %02X %02X %02X", fraction >> 8, fraction & 0xFF,
                  integer >> 8, integer & 0xFF);
    return buffer;
}

struct EncodeRow {
    float value;
    const char *text;
    const char *words;
};

TEST(DecimalFloat, EncodingTable)
{
    const float inf = std::numeric_limits<float>::infinity();
    const EncodeRow rows[] = {
        {12.5f, "12.5", "00 05 00 0C"},
        {12.05f, "12.05", "00 05 00 0C"},
        {-3.25f, "-3.25", "00 19 FF FD"},
        {-0.5f, "-0.5", "00 05 00 00"},
        {1.0f, "1", "00 00 00 01"},
        {0.1f, "0.1", "00 01 00 00"},
        {0.0001f, "0.0001", "00 01 00 00"},
        {3.14159265f, "3.14159", "37 4F 00 03"},
        {100000.0f, "100000", "00 00 86 A0"},
        {1234567.0f, "1.23457e+06", "00 00 00 01"},
        {0.000012f, "1.2e-05", "00 00 00 01"},
        {123456.7f, "123457", "00 00 E2 41"},
        {1000000.0f, "1e+06", "00 00 00 00"},
        {0.123457f, "0.123457", "E2 41 00 00"},
        {-40000.0f, "-40000", "00 00 63 C0"},
        {0.0f, "0", "00 00 00 00"},
        {-0.0f, "-0", "00 00 00 00"},
        {inf, "inf", "00 00 00 00"},
        {-inf, "-inf", "00 00 00 00"},
        {std::numeric_limits<float>::quiet_NaN(), "nan", "00 00 00 00"},
    };
    for (const EncodeRow &r : rows) {
        EXPECT_EQ(formatG6(r.value).toStdString(), r.text);
        EXPECT_EQ(wordsHex(r.value), r.words) << r.text;
    }
}

TEST(DecimalFloat, ExactTiesRoundToEvenLikePrintf)
{
    const struct {
        double value;
        const char *text;
    } rows[] = {
        {123456.5, "123456"}, {123457.5, "123458"}, {12345.25, "12345.2"},
        {12345.75, "12345.8"}, {0.5, "0.5"},        {2.5e-5, "2.5e-05"},
        {1234565, "1.23456e+06"}, {1234575, "1.23458e+06"}, {999999.5, "1e+06"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(formatG6(r.value).toStdString(), r.text) << r.text;
}

TEST(DecimalFloat, FormatMatchesPrintfOverAllMagnitudes)
{
    NumericLocale keep;
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    std::mt19937 random(20240611u);
    int mismatches = 0;
    const auto compare = [&mismatches](double v) {
        const std::string expected = printfG6(v);
        const std::string actual = formatG6(v).toStdString();
        if (actual != expected && ++mismatches <= 10)
            ADD_FAILURE() << "value " << printfG6(v) << ": got " << actual << ", printf " << expected;
    };
    // Every bit pattern class: normal, subnormal, zero, infinity, NaN.
    for (int i = 0; i < 200000; ++i) {
        const quint32 bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        compare(f);
    }
    // Values with short binary fractions hit exact decimal ties.
    for (int i = 0; i < 200000; ++i) {
        compare(100000.0 + i * 0.5);
        compare(10000.0 + i * 0.25);
        compare(i * 0.125);
    }
    for (int e = -45; e <= 39; ++e) {
        compare(std::pow(10.0, e));
        compare(-5.0 * std::pow(10.0, e));
        compare(static_cast<float>(9.999995 * std::pow(10.0, e)));
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(DecimalFloat, DecodeTable)
{
    const struct {
        unsigned short fraction, integer;
        float value;
    } rows[] = {
        {5, 12, 12.5f},      {25, 3, 3.25f},         {0, 0, 0.0f},
        {0, 1, 1.0f},        {14159, 3, 3.14159f},   {65535, 65535, 65535.65535f},
        {1, 0, 0.1f},        {123, 0x8000, 32768.123f},
    };
    for (const auto &r : rows)
        EXPECT_EQ(decodeDecimalFloat(r.fraction, r.integer), r.value)
            << r.integer << "." << r.fraction;
}

TEST(DecimalFloat, WordsReadBackToTheValue)
{
    const float values[] = {12.5f, 3.25f, 100.75f, 1.5f, 999.9f, 42.0f, 0.5f,
                            65535.5f, 7.125f, 3.14159f, 1234.56f, 0.25f};
    for (float v : values) {
        unsigned short fraction = 0, integer = 0;
        encodeDecimalFloat(v, &fraction, &integer);
        EXPECT_EQ(decodeDecimalFloat(fraction, integer), v) << v;
    }
}

class DecimalFloatLocale : public DriverTest {};

TEST_F(DecimalFloatLocale, CommaDecimalLocaleLeavesFramesUnchanged)
{
    NumericLocale keep;
    const char *candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
    const char *chosen = nullptr;
    for (const char *name : candidates) {
        if (std::setlocale(LC_NUMERIC, name)) {
            chosen = name;
            break;
        }
    }
    if (!chosen)
        GTEST_SKIP() << "no comma-decimal locale is installed (de_DE.UTF-8 or fr_FR.UTF-8)";
    // The locale must really be in force, or the test proves nothing.
    ASSERT_EQ(printfG6(12.5), "12,5") << chosen;

    EXPECT_EQ(formatG6(12.5).toStdString(), "12.5");
    EXPECT_EQ(decodeDecimalFloat(5, 12), 12.5f);
    const struct {
        float value;
        const char *frame;
    } rows[] = {
        {12.5f, "0A 00 10 90 05 01 00 00 05 00 0C C1"},
        {3.14159f, "0A 00 10 90 05 01 00 37 4F 00 03 39"},
    };
    for (const auto &r : rows) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(5, 0x100, 1, 2);
        quint32 bits;
        std::memcpy(&bits, &r.value, sizeof bits);
        for (int i = 0; i < 4; ++i)
            v.data.append(char((bits >> (8 * i)) & 0xFF));
        WriteAnalog_32FLOAT(&v);
        ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
        EXPECT_EQ(toHex(PLC_driver.frameQueue.first().frame), r.frame) << chosen;
    }
}

}  // namespace
