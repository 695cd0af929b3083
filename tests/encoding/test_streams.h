// Shared by the encoder tests: streams that misbehave as real ones may
// (short reads, failing reads, a stated size the data does not reach), and
// the behaviour every progress-reporting encoder (UU, base64) shares.
#pragma once

#include "encoder.h"
#include "streams.h"
#include "tstrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

// Delivers 1 to 7 bytes per Read, in a fixed irregular rhythm.
class TShortReadStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::size_t Read(void* buffer, std::size_t count) override
    {
        static constexpr std::size_t Rhythm[] = {3, 1, 7, 2, 5, 6, 4, 1, 7};
        return TMemoryStream::Read(buffer, std::min(count, Rhythm[FReads++ % std::size(Rhythm)]));
    }

private:
    std::size_t FReads = 0;
};

// Delivers `good` bytes, then raises EReadError as a failing disk would.
class TFailingStream : public TMemoryStream {
public:
    TFailingStream(std::string data, std::size_t good) : TMemoryStream(std::move(data)), FGood(good) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (Position() >= FGood)
            throw EReadError("Error reading file \"test\". Input/output error");
        return TMemoryStream::Read(buffer, std::min<std::size_t>(count, FGood - Position()));
    }

private:
    std::size_t FGood;
};

// States a size larger than its data (a file cut short while it is read).
class TShrunkStream : public TMemoryStream {
public:
    TShrunkStream(std::string data, std::uint64_t statedSize) : TMemoryStream(std::move(data)), FStated(statedSize) {}
    std::uint64_t Size() const override { return FStated; }

private:
    std::uint64_t FStated;
};

inline std::string RandomBytes(std::size_t count, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = char(random() & 0xFF);
    return bytes;
}

template <class TEncoder>
TLines Encode(TStream& input, TStrings output = {})
{
    TEncoder(input, output).Encode();
    return output.ToVector();
}

template <class TEncoder>
TLines Encode(const std::string& data)
{
    TMemoryStream input(data);
    return Encode<TEncoder>(input);
}

// The Progress values an encoder reports for `size` bytes.
template <class TEncoder>
std::vector<int> ProgressReports(std::size_t size)
{
    TMemoryStream input(std::string(size, 'x'));
    TStrings output;
    TEncoder encoder(input, output);
    std::vector<int> seen;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        EXPECT_EQ(&sender, &encoder);
        seen.push_back(sender.Progress);
    };
    encoder.Encode();
    return seen;
}

// What each progress encoder's test file gives the shared suite: the rules
// written out slowly, the bytes of one output line and of one read.
template <class TEncoder>
struct TEncoderFacts {
    static TLines Reference(const std::string& data);
    static const std::size_t LineBytes, ReadBytes;
};

template <class TEncoder>
class ProgressEncoder : public ::testing::Test {};
TYPED_TEST_SUITE_P(ProgressEncoder);

TYPED_TEST_P(ProgressEncoder, MatchesTheReferenceAcrossLengthsReadsAndChunkBoundaries)
{
    using TFacts = TEncoderFacts<TypeParam>;
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    const std::size_t line = TFacts::LineBytes, chunk = TFacts::ReadBytes;
    for (std::size_t n : {chunk - line - 1, chunk - line, chunk - 1, chunk, chunk + 1, chunk + line, 2 * chunk + 7})
        sizes.push_back(n);
    for (std::size_t n : sizes) {
        const std::string data = RandomBytes(n, unsigned(n + 7));
        ASSERT_EQ(Encode<TypeParam>(data), TFacts::Reference(data)) << n << " bytes";
    }
    const std::string data = RandomBytes(250000, 5);
    TShortReadStream shortReads(data);
    EXPECT_EQ(Encode<TypeParam>(shortReads), TFacts::Reference(data)) << "short reads";
    TMemoryStream input("--foo");
    input.Seek(2);
    EXPECT_EQ(Encode<TypeParam>(input, TStrings{"old"}), TFacts::Reference("foo")) << "from the position, output cleared";
}

TYPED_TEST_P(ProgressEncoder, CancelFromProgressEmptiesOutput)
{
    TMemoryStream input(std::string(450, 'x'));
    TStrings output;
    TypeParam encoder(input, output);
    int events = 0;
    encoder.OnProgress = [&](TProgressEncoder& sender) {
        if (++events == 3)
            sender.Canceled = true;
    };
    encoder.Encode();
    EXPECT_TRUE(output.Empty());
    EXPECT_EQ(encoder.Progress, 100);
    EXPECT_EQ(events, 4);   // the third, then the closing report
}

TYPED_TEST_P(ProgressEncoder, MessagePumpRunsButNotPerBlockAndItsCancelStopsEarly)
{
    const std::string data = RandomBytes(4 << 20);
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "run through");
        TMemoryStream input(data);
        TStrings output;
        TypeParam encoder(input, output);
        std::size_t pumped = 0;
        encoder.ProcessMessages = [&] { ++pumped; encoder.Canceled = cancel; };
        encoder.Encode();
        EXPECT_GE(pumped, 1u);
        EXPECT_LE(pumped, data.size() / TEncoderPump::ClockCheckBytes + 1);
        EXPECT_EQ(output.Empty(), cancel);
        EXPECT_EQ(input.Position() < data.size(), cancel);
    }
}

TYPED_TEST_P(ProgressEncoder, ReadErrorsPropagateAfterTheClosingReport)
{
    TFailingStream failing(RandomBytes(300000), 200000);
    TStrings output;
    TypeParam encoder(failing, output);
    int last = -1;
    encoder.OnProgress = [&](TProgressEncoder& sender) { last = sender.Progress; };
    EXPECT_THROW(encoder.Encode(), EReadError);
    EXPECT_EQ(last, 100);
    TShrunkStream shrunk(RandomBytes(100), 101);
    EXPECT_THROW(Encode<TypeParam>(shrunk), EReadError);
}

REGISTER_TYPED_TEST_SUITE_P(ProgressEncoder, MatchesTheReferenceAcrossLengthsReadsAndChunkBoundaries,
                            CancelFromProgressEmptiesOutput, MessagePumpRunsButNotPerBlockAndItsCancelStopsEarly,
                            ReadErrorsPropagateAfterTheClosingReport);
