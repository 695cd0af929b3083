#include "uucode.h"

#include "test_streams.h"

#include <gtest/gtest.h>

// The rules written out slowly: 45-byte blocks read into one buffer whose
// tail keeps the previous block, 360 bits cut into 60 six-bit values; value
// 0 is the backquote, 1..63 are "!" to "_".
template <>
TLines TEncoderFacts<TUUCode>::Reference(const std::string& data)
{
    const auto character = [](int value) { return value ? char(0x20 + value) : '`'; };
    TLines lines;
    unsigned char block[45] = {};
    for (std::size_t pos = 0;;) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - pos);
        std::copy_n(data.begin() + std::ptrdiff_t(pos), n, block);
        pos += n;
        std::string line(1, character(int(n)));
        for (std::size_t v = 0; v < (n == 45 ? 60 : 4 * n / 3 + 1); ++v) {
            int value = 0;
            for (std::size_t bit = v * 6; bit < v * 6 + 6; ++bit)
                value = value << 1 | (block[bit / 8] >> (7 - bit % 8) & 1);
            line += character(value);
        }
        lines.push_back(line);
        if (n < 45)
            return lines;
    }
}
template <>
const std::size_t TEncoderFacts<TUUCode>::LineBytes = 45;
template <>
const std::size_t TEncoderFacts<TUUCode>::ReadBytes = 4096 * 45;

INSTANTIATE_TYPED_TEST_SUITE_P(UU, ProgressEncoder, TUUCode);

TEST(TUUCode, EncodesTheDocumentedExamples)
{
    std::string line45A = "M";
    for (int i = 0; i < 15; ++i)
        line45A += "04%!";
    const std::vector<std::pair<std::string, TLines>> examples = {
        {"", {"``"}}, {"a", {"!80"}}, {"ab", {"\"86("}}, {"abc", {"#86)C`"}},
        // Whole blocks end with the line of a zero-byte block; a short last
        // block takes its tail from the previous one.
        {std::string(45, 'A'), {line45A, "`0"}},
        {std::string(46, 'A'), {line45A, "!04"}},
        {std::string(90, 'A'), {line45A, line45A, "`0"}},
    };
    for (const auto& [input, lines] : examples) {
        EXPECT_EQ(Encode<TUUCode>(input), lines) << input.size() << " bytes";
        EXPECT_EQ(TEncoderFacts<TUUCode>::Reference(input), lines) << "reference, " << input.size() << " bytes";
    }
    // EncodeLine on its own: the value past a zero-byte block comes from the buffer.
    TMemoryStream none;
    TStrings unused;
    EXPECT_EQ(TUUCode(none, unused).EncodeLine(TUUCode::TBlock{'a', 'b', 'c'}, 0), "`8");
}

TEST(TUUCode, ReportsAfterEveryBlockAndOnceAtTheEnd)
{
    EXPECT_EQ(ProgressReports<TUUCode>(100), (std::vector<int>{45, 90, 100, 100}));
    EXPECT_EQ(ProgressReports<TUUCode>(0), (std::vector<int>{100, 100}));   // nothing left to do
}
