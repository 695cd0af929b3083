#include "mime.h"

#include "test_streams.h"

#include <gtest/gtest.h>

// RFC 4648 written out bit by bit, cut into lines of 76 characters with a
// rest line that may be empty.
template <>
TLines TEncoderFacts<TBase64>::Reference(const std::string& data)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string all;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = bits << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            all += k <= n ? alphabet[bits >> (18 - 6 * k) & 63] : '=';
    }
    TLines lines;
    for (std::size_t i = 0; i <= data.size() / 57; ++i)
        lines.push_back(all.substr(i * 76, 76));
    return lines;
}
template <>
const std::size_t TEncoderFacts<TBase64>::LineBytes = 57;
template <>
const std::size_t TEncoderFacts<TBase64>::ReadBytes = 2048 * 57;

INSTANTIATE_TYPED_TEST_SUITE_P(Base64, ProgressEncoder, TBase64);

TEST(TBase64, EncodesKnownTexts)
{
    std::string line57A;
    for (int i = 0; i < 19; ++i)
        line57A += "QUFB";
    const std::vector<std::pair<std::string, TLines>> examples = {
        {"", {""}}, {"f", {"Zg=="}}, {"fo", {"Zm8="}}, {"foo", {"Zm9v"}}, {"foobar", {"Zm9vYmFy"}},
        {std::string("\0\xFF\xFE", 3), {"AP/+"}},
        {std::string(57, 'A'), {line57A, ""}},   // a whole line still gets its (empty) rest line
        {std::string(58, 'A'), {line57A, "QQ=="}},
    };
    for (const auto& [input, lines] : examples) {
        EXPECT_EQ(Encode<TBase64>(input), lines) << input.size() << " bytes";
        EXPECT_EQ(TEncoderFacts<TBase64>::Reference(input), lines) << "reference, " << input.size() << " bytes";
    }
}

TEST(TBase64, ReportsAtEveryHundredthOfTheSizeAndOnceAtTheEnd)
{
    EXPECT_EQ(ProgressReports<TBase64>(0), (std::vector<int>{100}));
    EXPECT_EQ(ProgressReports<TBase64>(10), (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100}));
    for (std::size_t size : {150, 1000}) {
        // A report whenever the bytes done reach a multiple of size div 100
        // (at least 1), the percentage truncated.
        const std::size_t step = std::max<std::size_t>(1, size / 100);
        std::vector<int> expected;
        for (std::size_t done = step; done <= size; done += step)
            expected.push_back(int(done * 100 / size));
        expected.push_back(100);
        EXPECT_EQ(ProgressReports<TBase64>(size), expected) << size << " bytes";
    }
}
