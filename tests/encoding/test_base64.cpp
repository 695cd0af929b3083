#include "mime.h"

#include "test_streams.h"
#include "tstrings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// RFC 4648 written out bit by bit, cut into lines of 76 characters with a
// rest line that may be empty.
std::vector<std::string> ReferenceBase64(const std::string& data)
{
    const std::string alphabet(TBase64::Alphabet);
    std::string all;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = bits << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            all += k <= n ? alphabet[bits >> (18 - 6 * k) & 63] : '=';
    }
    std::vector<std::string> lines;
    const std::size_t fullLines = data.size() / 57;
    for (std::size_t i = 0; i < fullLines; ++i)
        lines.push_back(all.substr(i * 76, 76));
    lines.push_back(all.substr(fullLines * 76));
    return lines;
}

std::vector<std::string> EncodeBase64(TStream& input)
{
    TStrings output;
    TBase64(input, output).Encode();
    return output.ToVector();
}

std::vector<std::string> EncodeBase64(const std::string& data)
{
    TMemoryStream input(data);
    return EncodeBase64(input);
}

std::vector<int> ProgressReports(std::size_t size)
{
    TMemoryStream input(std::string(size, 'x'));
    TStrings output;
    TBase64 encoder(input, output);
    std::vector<int> seen;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        EXPECT_EQ(&sender, &encoder);
        seen.push_back(sender.Progress);
    };
    encoder.Encode();
    return seen;
}

} // namespace

TEST(TBase64, EncodesKnownTexts)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> examples = {
        {"", {""}},
        {"f", {"Zg=="}},
        {"fo", {"Zm8="}},
        {"foo", {"Zm9v"}},
        {"foobar", {"Zm9vYmFy"}},
        {std::string("\0\xFF\xFE", 3), {"AP/+"}},
    };
    for (const auto& [input, lines] : examples)
        EXPECT_EQ(EncodeBase64(input), lines) << input;
}

TEST(TBase64, LineShapesAroundTheLineSize)
{
    struct TShape { std::size_t size; std::vector<std::size_t> lengths; std::string tail; };
    const std::vector<TShape> shapes = {
        {57, {76, 0}, ""}, {58, {76, 4}, "=="}, {59, {76, 4}, "="}, {60, {76, 4}, ""},
        {114, {76, 76, 0}, ""}, {56, {76}, "="}, {1, {4}, "=="},
    };
    for (const auto& shape : shapes) {
        const auto lines = EncodeBase64(RandomBytes(shape.size, unsigned(shape.size)));
        std::vector<std::size_t> lengths;
        for (const auto& line : lines)
            lengths.push_back(line.size());
        EXPECT_EQ(lengths, shape.lengths) << shape.size << " bytes";
        const std::string& last = lines.back();
        EXPECT_EQ(last.substr(last.find_last_not_of('=') + 1), shape.tail) << shape.size << " bytes";
    }
}

TEST(TBase64, MatchesTheReferenceAcrossManyLengthsAndChunkBoundaries)
{
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    const std::size_t chunk = 2048 * 57;   // the encoder's read size
    for (std::size_t n : {chunk - 58, chunk - 1, chunk, chunk + 1, chunk + 57, 3 * chunk + 100})
        sizes.push_back(n);
    for (std::size_t n : sizes) {
        const std::string data = RandomBytes(n, unsigned(n + 11));
        ASSERT_EQ(EncodeBase64(data), ReferenceBase64(data)) << n << " bytes";
    }
}

TEST(TBase64, ShortReadsGiveTheSameLines)
{
    const std::string data = RandomBytes(250000, 5);
    TShortReadStream input(data);
    EXPECT_EQ(EncodeBase64(input), ReferenceBase64(data));
}

TEST(TBase64, ClearsOutputAndReadsFromTheCurrentPosition)
{
    TMemoryStream input("--foo");
    input.Seek(2);
    TStrings output{"old"};
    TBase64(input, output).Encode();
    EXPECT_EQ(output.ToVector(), (std::vector<std::string>{"Zm9v"}));
}

TEST(TBase64, TenBytesReportAfterEveryByteAndOnceAtTheEnd)
{
    EXPECT_EQ(ProgressReports(10), (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100}));
}

TEST(TBase64, ThousandBytesReportEveryTenBytes)
{
    std::vector<int> expected;
    for (int p = 1; p <= 100; ++p)
        expected.push_back(p);
    expected.push_back(100);
    EXPECT_EQ(ProgressReports(1000), expected);
}

TEST(TBase64, ProgressIsTruncatedAndEmptyInputReportsOnce)
{
    const auto seen = ProgressReports(150);   // step 1: 150 reports and the closing one
    ASSERT_EQ(seen.size(), 151u);
    EXPECT_EQ(seen[0], 0);      // 1 * 100 / 150
    EXPECT_EQ(seen[1], 1);      // 2 * 100 / 150
    EXPECT_EQ(seen[148], 99);
    EXPECT_EQ(ProgressReports(0), (std::vector<int>{100}));
}

TEST(TBase64, CancelFromProgressEmptiesOutputAndStops)
{
    TMemoryStream input(RandomBytes(1000));
    TStrings output;
    TBase64 encoder(input, output);
    int events = 0;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        if (++events == 50)
            sender.Canceled = true;
    };
    encoder.Encode();
    EXPECT_TRUE(output.Empty());
    EXPECT_EQ(encoder.Progress, 100);
    EXPECT_EQ(events, 51);
}

TEST(TBase64, CancelFromTheMessagePumpStopsEarly)
{
    const std::string data = RandomBytes(4 << 20);
    TMemoryStream input(data);
    TStrings output;
    TBase64 encoder(input, output);
    int pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; encoder.Canceled = true; };
    encoder.Encode();
    EXPECT_GE(pumped, 1);
    EXPECT_TRUE(output.Empty());
    EXPECT_LT(input.Position(), data.size());
}

TEST(TBase64, ReadErrorPropagatesAfterTheClosingReport)
{
    TFailingStream input(RandomBytes(300000), 200000);
    TStrings output;
    TBase64 encoder(input, output);
    int last = -1;
    encoder.OnProgress = [&](TProgressEncoder& sender) { last = sender.Progress; };
    EXPECT_THROW(encoder.Encode(), EReadError);
    EXPECT_EQ(last, 100);
}

TEST(TBase64, InputShorterThanItsSizeIsAReadError)
{
    TShrunkStream input(RandomBytes(100), 101);
    TStrings output;
    EXPECT_THROW(TBase64(input, output).Encode(), EReadError);
}

TEST(TBase64, MessagePumpRunsButNotPerByte)
{
    const std::string data = RandomBytes(4 << 20);
    TMemoryStream input(data);
    TStrings output;
    TBase64 encoder(input, output);
    std::size_t pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; };
    encoder.Encode();
    EXPECT_GE(pumped, 1u);
    EXPECT_LE(pumped, data.size() / TEncoderPump::ClockCheckBytes + 1);
    EXPECT_EQ(output.Count(), data.size() / 57 + 1);
}
