// Text bytes at the application's edges: UTF-8 when valid, Latin-1 else.
#include "textcodec.h"
#include "tstrings.h"

#include <gtest/gtest.h>

struct TUtf8Case {
    const char* Name;
    std::string Bytes;
    bool Valid;
    std::string Latin1;   // what a line of these bytes becomes for ISO-8859-1
};

class TextCodec : public ::testing::TestWithParam<TUtf8Case> {};

TEST_P(TextCodec, ValidatesAndConvertsToLatin1)
{
    const auto& c = GetParam();
    EXPECT_EQ(IsValidUtf8(c.Bytes), c.Valid);
    EXPECT_EQ(Latin1FromUtf8(c.Bytes), c.Latin1);
    const QByteArray bytes = QByteArray::fromStdString(c.Bytes);
    EXPECT_EQ(DecodeText(c.Bytes), c.Valid ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TextCodec,
    ::testing::Values(TUtf8Case{"Ascii", "plain = text", true, "plain = text"},
                      TUtf8Case{"Umlauts", "Gr\xC3\xBC\xC3\x9F" "e", true, "Gr\xFC\xDF" "e"},
                      TUtf8Case{"BeyondLatin1", "\xE2\x82\xAC 5 \xF0\x9F\x98\x80", true, "? 5 ?"},
                      TUtf8Case{"Latin1Already", "Gr\xFC\xDF" "e", false, "Gr\xFC\xDF" "e"},
                      TUtf8Case{"Overlong", "\xC0\xAF", false, "\xC0\xAF"},
                      TUtf8Case{"OverlongThreeBytes", "\xE0\x80\xAF", false, "\xE0\x80\xAF"},
                      TUtf8Case{"Surrogate", "\xED\xA0\x80", false, "\xED\xA0\x80"},
                      TUtf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", false, "\xF4\x90\x80\x80"},
                      TUtf8Case{"Truncated", "ab\xC3", false, "ab\xC3"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TextCodecLines, ConvertsEveryLineAndKeepsTheirCount)
{
    TStrings lines{"caf\xC3\xA9", "", "na\xEFve"};
    ConvertToLatin1(lines);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"caf\xE9", "", "na\xEFve"}));
}
