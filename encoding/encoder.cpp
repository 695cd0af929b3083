#include "encoder.h"

void TProgressEncoder::Encode()
{
    FOutput.Clear();
    Progress = 0;
    Canceled = false;
    try {
        EncodeInput();
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
}

void TProgressEncoder::Finish()
{
    Progress = 100;
    DoProgress();
    if (Canceled)
        FOutput.Clear();
}

int TProgressEncoder::Percent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0 || done >= total)
        return 100;
    return int(done * 100 / total);
}

void TPercentCounter::Advance()
{
    ++FPercent;
    // done * 100 / total >= p + 1  <=>  done >= ceil((p + 1) * total / 100)
    FNextAt = FTotal == 0 ? 0 : ((std::uint64_t(FPercent) + 1) * FTotal + 99) / 100;
    if (FTotal == 0)
        FPercent = 100;
}

std::uint64_t RemainingBytes(const TStream& stream)
{
    const std::uint64_t size = stream.Size();
    const std::uint64_t position = stream.Position();
    return position < size ? size - position : 0;
}

std::size_t ReadUpTo(TStream& stream, void* buffer, std::size_t count)
{
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = stream.Read(out + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void CheckReadComplete(std::uint64_t consumed, std::uint64_t expected)
{
    if (consumed < expected)
        throw EReadError("Stream read error");
}
