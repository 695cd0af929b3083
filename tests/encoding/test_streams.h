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

template <class TEncoder>
class ProgressEncoder : public ::testing::Test {};
TYPED_TEST_SUITE_P(ProgressEncoder);

TYPED_TEST_P(ProgressEncoder, ClearsOutputAndReadsFromTheCurrentPosition)
{
    TMemoryStream input("--foo");
    input.Seek(2);
    EXPECT_EQ(Encode<TypeParam>(input, TStrings{"old"}), Encode<TypeParam>("foo"));
}

TYPED_TEST_P(ProgressEncoder, ShortReadsGiveTheSameLines)
{
    const std::string data = RandomBytes(250000, 5);
    TShortReadStream input(data);
    EXPECT_EQ(Encode<TypeParam>(input), Encode<TypeParam>(data));
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

REGISTER_TYPED_TEST_SUITE_P(ProgressEncoder, ClearsOutputAndReadsFromTheCurrentPosition, ShortReadsGiveTheSameLines,
                            MessagePumpRunsButNotPerBlockAndItsCancelStopsEarly,
                            ReadErrorsPropagateAfterTheClosingReport);
