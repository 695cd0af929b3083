// The encoders run on the user-interface thread and keep the window alive
// by calling back into the event loop while they work. The callable is
// injected so that this library stays free of any toolkit.
#pragma once

#include <chrono>
#include <functional>

using TProcessMessages = std::function<void()>;

// Calls the pump at most once per `Interval` of work, so that a pump that
// costs microseconds never dominates an encoder that handles a byte in
// nanoseconds; a Cancel set by a handler is still seen within milliseconds.
class TPumpThrottle {
public:
    static constexpr std::chrono::milliseconds Interval{5};

    explicit TPumpThrottle(const TProcessMessages& pump) : FPump(pump) {}
    void Pump()
    {
        if (!FPump)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - FLast < Interval)
            return;
        FLast = now;
        FPump();
    }
    void PumpNow()
    {
        if (FPump)
            FPump();
        FLast = std::chrono::steady_clock::now();
    }

private:
    const TProcessMessages& FPump;
    std::chrono::steady_clock::time_point FLast{};
};
