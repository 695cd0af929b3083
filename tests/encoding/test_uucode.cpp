#include "uucode.h"

#include "test_streams.h"
#include "tstrings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The rules written out slowly: 45-byte blocks read into one buffer whose
// tail keeps the previous block, 360 bits cut into 60 six-bit values.
std::vector<std::string> ReferenceUU(const std::string& data)
{
    const std::string table(TUUCode::FTable);
    std::vector<std::string> lines;
    unsigned char block[45] = {};
    std::size_t pos = 0;
    for (;;) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - pos);
        for (std::size_t i = 0; i < n; ++i)
            block[i] = static_cast<unsigned char>(data[pos + i]);
        pos += n;
        const std::size_t values = n == 45 ? 60 : 4 * n / 3 + 1;
        std::string line(1, table[n]);
        for (std::size_t v = 0; v < values; ++v) {
            int value = 0;
            for (std::size_t bit = v * 6; bit < v * 6 + 6; ++bit)
                value = value << 1 | (block[bit / 8] >> (7 - bit % 8) & 1);
            line += table[value];
        }
        lines.push_back(line);
        if (n < 45)
            return lines;
    }
}

std::vector<std::string> EncodeUU(TStream& input)
{
    TStrings output;
    TUUCode encoder(input, output);
    encoder.Encode();
    return output.ToVector();
}

std::vector<std::string> EncodeUU(const std::string& data)
{
    TMemoryStream input(data);
    return EncodeUU(input);
}

} // namespace

TEST(TUUCode, AlphabetStartsWithBackquoteThenBangToUnderscore)
{
    ASSERT_EQ(TUUCode::FTable.size(), 64u);
    EXPECT_EQ(TUUCode::FTable[0], '`');
    for (std::size_t v = 1; v < 64; ++v)
        EXPECT_EQ(TUUCode::FTable[v], char(0x20 + v));
}

struct TUUExample {
    std::string input;
    std::vector<std::string> lines;
};

TEST(TUUCode, EncodesTheDocumentedExamples)
{
    const std::string line45A = "M" + [] { std::string s; for (int i = 0; i < 15; ++i) s += "04%!"; return s; }();
    const std::vector<TUUExample> examples = {
        {"", {"``"}},
        {"abc", {"#86)C`"}},
        {"a", {"!80"}},
        {"ab", {"\"86("}},
        {std::string(45, 'A'), {line45A, "`0"}},
        {std::string(46, 'A'), {line45A, "!04"}},
        {std::string(90, 'A'), {line45A, line45A, "`0"}},
    };
    for (const auto& example : examples)
        EXPECT_EQ(EncodeUU(example.input), example.lines) << "input of " << example.input.size() << " bytes";
}

TEST(TUUCode, LineShapesForLengthsAroundTheBlockSize)
{
    struct TShape { std::size_t size; std::vector<std::size_t> lengths; char lastLengthChar; };
    const std::vector<TShape> shapes = {
        {0, {2}, '`'},        {1, {3}, '!'},        {2, {4}, '"'},        {3, {6}, '#'},
        {44, {60}, 'L'},      {45, {61, 2}, '`'},   {46, {61, 3}, '!'},   {57, {61, 18}, ','},
        {58, {61, 19}, '-'},  {59, {61, 20}, '.'},  {90, {61, 61, 2}, '`'},
    };
    for (const auto& shape : shapes) {
        const auto lines = EncodeUU(RandomBytes(shape.size, unsigned(shape.size)));
        std::vector<std::size_t> lengths;
        for (const auto& line : lines)
            lengths.push_back(line.size());
        EXPECT_EQ(lengths, shape.lengths) << shape.size << " bytes";
        EXPECT_EQ(lines.back()[0], shape.lastLengthChar) << shape.size << " bytes";
    }
}

TEST(TUUCode, ShortBlockTakesItsTailFromThePreviousBlock)
{
    // 46 bytes: the last line's second data character holds the low two bits
    // of its byte and the high bits of byte 1 of the previous block.
    std::string data(45, '\0');
    data[1] = char(0xF0);
    data += char(0x03);
    const auto lines = EncodeUU(data);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::string("!") + TUUCode::FTable[0] + TUUCode::FTable[0x3F]);
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
        ASSERT_EQ(EncodeUU(data), ReferenceUU(data)) << n << " bytes";
    }
}

TEST(TUUCode, EncodeLineOfAPartBlock)
{
    TStrings output;
    TMemoryStream input;
    TUUCode encoder(input, output);
    TUUCode::TBlock block{};
    block[0] = 'a'; block[1] = 'b'; block[2] = 'c';
    EXPECT_EQ(encoder.EncodeLine(block, 3), "#86)C`");
    EXPECT_EQ(encoder.EncodeLine(block, 0), "`8");   // the value after 0 bytes comes from the buffer
    EXPECT_EQ(encoder.EncodeLine(TUUCode::TBlock{}, 0), "``");
    EXPECT_EQ(encoder.EncodeLine(block, 45).size(), 61u);
    EXPECT_EQ(TUUCode::LineLength(44), 60u);
}

TEST(TUUCode, ShortReadsGiveTheSameLines)
{
    const std::string data = RandomBytes(200000, 3);
    TShortReadStream input(data);
    EXPECT_EQ(EncodeUU(input), EncodeUU(data));
}

TEST(TUUCode, ClearsOutputAndReadsFromTheCurrentPosition)
{
    TMemoryStream input("xxabc");
    input.Seek(2);
    TStrings output{"old line"};
    TUUCode(input, output).Encode();
    EXPECT_EQ(output.ToVector(), (std::vector<std::string>{"#86)C`"}));
}

TEST(TUUCode, ProgressAfterEveryBlockAndOnceAtTheEnd)
{
    TMemoryStream input(std::string(100, 'x'));
    TStrings output;
    TUUCode encoder(input, output);
    std::vector<int> seen;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        EXPECT_EQ(&sender, &encoder);
        seen.push_back(sender.Progress);
    };
    encoder.Encode();
    EXPECT_EQ(seen, (std::vector<int>{45, 90, 100, 100}));
}

TEST(TUUCode, EmptyInputReportsComplete)
{
    TMemoryStream input;
    TStrings output;
    TUUCode encoder(input, output);
    std::vector<int> seen;
    encoder.OnProgress = [&](TProgressEncoder& sender) { seen.push_back(sender.Progress); };
    encoder.Encode();
    EXPECT_EQ(seen, (std::vector<int>{100, 100}));
    EXPECT_EQ(output.ToVector(), (std::vector<std::string>{"``"}));
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
    EXPECT_TRUE(encoder.Canceled);
    EXPECT_TRUE(output.Empty());
    EXPECT_EQ(encoder.Progress, 100);
    EXPECT_EQ(events, 4);   // three blocks, then the closing report
}

TEST(TUUCode, CancelFromTheMessagePumpStopsEarly)
{
    const std::string data = RandomBytes(4 << 20);
    TMemoryStream input(data);
    TStrings output;
    TUUCode encoder(input, output);
    int pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; encoder.Canceled = true; };
    encoder.Encode();
    EXPECT_GE(pumped, 1);
    EXPECT_TRUE(output.Empty());
    EXPECT_LT(input.Position(), data.size());
}

TEST(TUUCode, ReadErrorPropagatesAfterTheClosingReport)
{
    TFailingStream input(RandomBytes(1000), 500);
    TStrings output;
    TUUCode encoder(input, output);
    int last = -1;
    encoder.OnProgress = [&](TProgressEncoder& sender) { last = sender.Progress; };
    EXPECT_THROW(encoder.Encode(), EReadError);
    EXPECT_EQ(last, 100);
}

TEST(TUUCode, InputShorterThanItsSizeIsAReadError)
{
    TShrunkStream input(RandomBytes(100), 200);
    TStrings output;
    EXPECT_THROW(TUUCode(input, output).Encode(), EReadError);
}

TEST(TUUCode, MessagePumpRunsButNotPerBlock)
{
    const std::string data = RandomBytes(4 << 20);
    TMemoryStream input(data);
    TStrings output;
    TUUCode encoder(input, output);
    std::size_t pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; };
    encoder.Encode();
    EXPECT_GE(pumped, 1u);
    EXPECT_LE(pumped, data.size() / TEncoderPump::ClockCheckBytes + 1);
    EXPECT_EQ(output.Count(), data.size() / 45 + 1);
}
