#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "games/wire_text.h"

namespace {

struct StripCase { std::string in, out; };

TEST(StripLineEnd, RemovesOneLineFeedThenOneCarriageReturn) {
    const StripCase cases[] = {
        {"abc\r\n", "abc"}, {"abc\n", "abc"},     {"abc\r", "abc"},   {"abc\n\r", "abc\n"},
        {"abc\r\r", "abc\r"}, {"\n", ""},         {"", ""},           {"abc\n\n", "abc\n"},
        {"\r\n\r\n", "\r\n"}, {"a\nb", "a\nb"},
    };
    for (const auto& c : cases) EXPECT_EQ(stripLineEnd(c.in), c.out) << "input size " << c.in.size();
}

struct DecimalCase { std::string text; std::uint32_t value; };

TEST(ParseDecimal, WrapsModulo2To32AndNeverRejects) {
    const DecimalCase cases[] = {
        {"", 0u},           {"0", 0u},          {"007", 7u},  {"4294967295", 4294967295u},
        {"4294967296", 0u}, {"12a", 169u},      {"-5", 4294967271u}, {"1007000000", 1007000000u},
        {" 1", static_cast<std::uint32_t>((' ' - '0') * 10 + 1)},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseDecimal, TreatsHighBytesAsNegative) {
    // 0xFF read as signed is -1, so the digit value is -49 modulo 2^32.
    EXPECT_EQ(parseDecimal(std::string(1, '\xFF')), static_cast<std::uint32_t>(-49));
    EXPECT_EQ(parseDecimal(std::string("1\0", 2)), static_cast<std::uint32_t>(10 - 48));
}

TEST(FormatDecimal, NoLeadingZerosNoSign) {
    EXPECT_EQ(formatDecimal(0), "0");
    EXPECT_EQ(formatDecimal(10), "10");
    EXPECT_EQ(formatDecimal(404), "404");
    EXPECT_EQ(formatDecimal(4294967295u), "4294967295");
    for (std::uint32_t v : {1u, 9u, 99u, 100u, 65535u, 16909060u, 2147483648u})
        EXPECT_EQ(parseDecimal(formatDecimal(v)), v);
}

TEST(ParseIp, DottedTextToNumber) {
    const DecimalCase cases[] = {
        {"1.2.3.4", 16909060u}, {"255.255.255.255", 4294967295u}, {"256.1.1.1", 0u},
        {"1.2.3.300", 0u},      {"1..4", 65540u},                 {"10", 10u},
        {"", 0u},               {"1.2.3", 66051u},                {"1.2.3.4.5", 33752069u},
        {"10.0.0.1", 167772161u}, {"0.0.0.0", 0u},                {"...", 0u},
    };
    for (const auto& c : cases) EXPECT_EQ(parseIp(c.text), c.value) << '"' << c.text << '"';
}

TEST(FormatIp, AlwaysFourParts) {
    EXPECT_EQ(formatIp(16909060u), "1.2.3.4");
    EXPECT_EQ(formatIp(0u), "0.0.0.0");
    EXPECT_EQ(formatIp(4294967295u), "255.255.255.255");
    EXPECT_EQ(formatIp(167772161u), "10.0.0.1");
}

TEST(FormatIp, RoundTripsEveryCanonicalAddressPattern) {
    const unsigned parts[] = {0, 1, 9, 10, 99, 100, 127, 128, 199, 200, 254, 255};
    for (unsigned a : parts)
        for (unsigned b : parts)
            for (unsigned c : parts)
                for (unsigned d : {0u, 7u, 255u}) {
                    std::string text = std::to_string(a) + '.' + std::to_string(b) + '.' + std::to_string(c) + '.' +
                                       std::to_string(d);
                    ASSERT_EQ(formatIp(parseIp(text)), text);
                }
}

}  // namespace
