#include "uucode.h"

#include "sixbit.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr TPairTable UUPairs(TUUCode::FTable, TSixBitAlphabet::UU);

// Blocks read from the stream at once: about 180 KiB, so that reads are few
// and the buffer stays in the cache.
constexpr std::size_t ChunkBlocks = 4096;

} // namespace

std::size_t TUUCode::LineLength(std::size_t count)
{
    return count >= BlockSize ? FullLineLength : 2 + 4 * count / 3;
}

void TUUCode::WriteLine(const std::uint8_t* block, std::size_t count, char* out) const
{
    out[0] = FTable[count];
    if (count >= BlockSize) {
        UUPairs.EncodeGroups(block, BlockSize / 3, out + 1);
        return;
    }
    char data[FullLineLength - 1];
    UUPairs.EncodeGroups(block, BlockSize / 3, data);
    std::memcpy(out + 1, data, LineLength(count) - 1);
}

std::string TUUCode::EncodeLine(const TBlock& block, std::size_t count) const
{
    count = std::min(count, BlockSize);
    std::string line(LineLength(count), '\0');
    WriteLine(block.data(), count, line.data());
    return line;
}

void TUUCode::ReserveOutput(std::uint64_t inputSize)
{
    const std::uint64_t full = inputSize / BlockSize;
    const std::uint64_t characters = full * FullLineLength + LineLength(inputSize % BlockSize);
    FOutput.Reserve(std::size_t(characters), std::size_t(full + 1));
}

void TUUCode::EncodeInput()
{
    const std::uint64_t expected = RemainingBytes(FInput);
    ReserveOutput(expected);
    std::vector<std::uint8_t> chunk(ChunkBlocks * BlockSize);
    TBlock block{};   // the last block read; its tail fills a short block
    TEncoderPump pump(ProcessMessages);
    std::uint64_t consumed = 0;
    TPercentCounter percent(expected);
    auto emit = [&](const std::uint8_t* start, std::size_t count) {
        WriteLine(start, count, FOutput.AddUninitialized(LineLength(count)));
        consumed += count;
        Progress = percent.Update(consumed);
        DoProgress();
        pump.Worked(count);
    };
    for (;;) {
        const std::size_t got = ReadUpTo(FInput, chunk.data(), chunk.size());
        const std::size_t full = got / BlockSize;
        for (std::size_t i = 0; i < full; ++i) {
            emit(chunk.data() + i * BlockSize, BlockSize);
            if (Canceled)
                return;
        }
        if (full > 0)
            std::memcpy(block.data(), chunk.data() + (full - 1) * BlockSize, BlockSize);
        if (got == chunk.size())
            continue;
        // A short read: the stream has ended.
        CheckReadComplete(consumed + got % BlockSize, expected);
        std::memcpy(block.data(), chunk.data() + full * BlockSize, got % BlockSize);
        emit(block.data(), got % BlockSize);
        return;
    }
}
