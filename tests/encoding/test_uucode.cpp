#include "uucode.h"

#include "test_streams.h"

#include <gtest/gtest.h>

namespace {

// The rules written out slowly: 45-byte blocks read into one buffer whose
// tail keeps the previous block, 360 bits cut into 60 six-bit values; value
// 0 is the backquote, 1..63 are "!" to "_".
TLines ReferenceUU(const std::string& data)
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

} // namespace

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
        EXPECT_EQ(ReferenceUU(input), lines) << "reference, " << input.size() << " bytes";
    }
    // EncodeLine on its own: the value past a zero-byte block comes from the buffer.
    TMemoryStream none;
    TStrings unused;
    EXPECT_EQ(TUUCode(none, unused).EncodeLine(TUUCode::TBlock{'a', 'b', 'c'}, 0), "`8");
}

TEST(TUUCode, MatchesTheReferenceAcrossManyLengthsAndChunkBoundaries)
{
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    const std::size_t chunk = 4096 * 45;   // the encoder's read size
    for (std::size_t n : {chunk - 46, chunk - 45, chunk - 1, chunk, chunk + 1, chunk + 44, chunk + 45, 2 * chunk + 7})
        sizes.push_back(n);
    for (std::size_t n : sizes) {
        const std::string data = RandomBytes(n, unsigned(n + 7));
        ASSERT_EQ(Encode<TUUCode>(data), ReferenceUU(data)) << n << " bytes";
    }
}

TEST(TUUCode, ReportsAfterEveryBlockAndOnceAtTheEnd)
{
    EXPECT_EQ(ProgressReports<TUUCode>(100), (std::vector<int>{45, 90, 100, 100}));
    EXPECT_EQ(ProgressReports<TUUCode>(0), (std::vector<int>{100, 100}));   // nothing left to do
}

TEST(TUUCode, CancelFromProgressEmptiesOutputAndStopsAfterTheBlock)
{
    TMemoryStream input(std::string(450, 'x'));
    TStrings output;
    TUUCode encoder(input, output);
    int events = 0;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        if (++events == 3)
            sender.Canceled = true;
    };
    encoder.Encode();
    EXPECT_TRUE(output.Empty());
    EXPECT_EQ(encoder.Progress, 100);
    EXPECT_EQ(events, 4);   // three blocks, then the closing report
}
