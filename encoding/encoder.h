// What the attachment encoders share: the Cancel flag, the percentage they
// report, the event that reports it, and the injected message pump.
#pragma once

#include "pump.h"
#include "streams.h"
#include "tstrings.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class TProgressEncoder;

// Fired synchronously from inside Encode with the encoder as sender; the
// handler reads `Progress` (and may set `Canceled`).
using TEncoderEvent = std::function<void(TProgressEncoder& sender)>;

// Base of the encoders that report progress (UUencode, base64).
class TProgressEncoder {
public:
    TProgressEncoder(TStream& input, TStrings& output) : FInput(input), FOutput(output) {}
    virtual ~TProgressEncoder() = default;
    TProgressEncoder(const TProgressEncoder&) = delete;
    TProgressEncoder& operator=(const TProgressEncoder&) = delete;

    // Clears Output and encodes the input from its position to its end.
    // However it ends, Progress becomes 100 with one more report, and a
    // canceled encoding leaves Output empty. Raises EReadError when the
    // input cannot be read to its stated end.
    void Encode();

    bool Canceled = false;      // set by the owner's Cancel to stop Encode
    int Progress = 0;           // percent of the input consumed, 0..100
    TEncoderEvent OnProgress;
    TProcessMessages ProcessMessages;   // may be empty

protected:
    // The encoding proper, between Encode's start and its finish.
    virtual void EncodeInput() = 0;
    void DoProgress()
    {
        if (OnProgress)
            OnProgress(*this);
    }
    // Percent of `total` that `done` is, truncated; an empty input counts as
    // complete, and a stream that grew while it was read never passes 100.
    static int Percent(std::uint64_t done, std::uint64_t total);
    void Finish();

    TStream& FInput;
    TStrings& FOutput;
};

// TProgressEncoder::Percent for a count that only grows, without a division
// per call: the count at which the next percent begins is worked out once
// per percent.
class TPercentCounter {
public:
    explicit TPercentCounter(std::uint64_t total) : FTotal(total) { Advance(); }
    int Update(std::uint64_t done)
    {
        while (done >= FNextAt && FPercent < 100)
            Advance();
        return FPercent;
    }

private:
    void Advance();

    std::uint64_t FTotal;
    std::uint64_t FNextAt = 0;   // first count of percent FPercent + 1
    int FPercent = -1;
};

// Calls the pump through TPumpThrottle, but looks at the clock only after
// every `ClockCheckBytes` of work, so that encoding a byte costs no system
// call. The first piece of work always pumps once.
class TEncoderPump {
public:
    static constexpr std::size_t ClockCheckBytes = 16 * 1024;

    explicit TEncoderPump(const TProcessMessages& pump) : FThrottle(pump) {}
    void Worked(std::size_t bytes)
    {
        FSinceCheck += bytes;
        if (FSinceCheck < ClockCheckBytes)
            return;
        FSinceCheck = 0;
        FThrottle.Pump();
    }

private:
    TPumpThrottle FThrottle;
    std::size_t FSinceCheck = ClockCheckBytes;
};

// Bytes of `stream` from its position to its stated end; 0 when the
// position is past the end.
std::uint64_t RemainingBytes(const TStream& stream);

// Reads until `count` bytes are in `buffer` or the stream ends; returns the
// number read. Streams may deliver fewer bytes per Read than asked.
std::size_t ReadUpTo(TStream& stream, void* buffer, std::size_t count);

// Raises EReadError when a stream ended before the size it stated: a file
// that shrinks while it is encoded must not be mailed truncated.
void CheckReadComplete(std::uint64_t consumed, std::uint64_t expected);
