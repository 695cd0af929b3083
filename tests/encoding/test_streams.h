// Streams that misbehave in the ways real ones may: short reads, failing
// reads, and a stated size that the data does not reach.
#pragma once

#include "streams.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

// Delivers 1 to 7 bytes per Read, in a fixed irregular rhythm.
class TShortReadStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::size_t Read(void* buffer, std::size_t count) override
    {
        static constexpr std::size_t Rhythm[] = {3, 1, 7, 2, 5, 6, 4, 1, 7};
        const std::size_t limit = Rhythm[FReads++ % std::size(Rhythm)];
        return TMemoryStream::Read(buffer, std::min(count, limit));
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

// States a size larger than the data it delivers (a file cut short while
// it is read).
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
