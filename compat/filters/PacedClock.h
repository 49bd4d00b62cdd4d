#pragma once
// Deadlines at a fixed rate on the steady clock. A waiter that falls more than one period
// behind starts a fresh cadence instead of bursting to catch up.
#include <chrono>

namespace filters {

class PacedClock {
public:
    using Clock = std::chrono::steady_clock;

    void start(int framesPerSecond)
    {
        period_ = std::chrono::nanoseconds(1'000'000'000 / framesPerSecond);
        next_ = Clock::now();
    }
    // The deadline of the next frame; advances the cadence.
    Clock::time_point next()
    {
        const auto deadline = next_;
        next_ += period_;
        const auto now = Clock::now();
        if (now > next_ + period_)
            next_ = now + period_;
        return deadline;
    }
    Clock::duration period() const { return period_; }

private:
    Clock::duration period_{};
    Clock::time_point next_{};
};

} // namespace filters
