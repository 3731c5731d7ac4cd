#pragma once
// Time as the link's rules read it. The steady clock is the computer's; the
// virtual clock moves only when a wait or a pause asks it to, so the rules
// (about 13 s of silence, the idle gap) can be checked at their own values in
// no real time at all.
#include <chrono>

namespace tessavin {

class Clock {
public:
    using ms = std::chrono::milliseconds;
    virtual ~Clock() = default;
    // Milliseconds since the clock began; never goes back.
    virtual ms now() const = 0;
    // Lets the given time pass.
    virtual void sleep(ms duration) = 0;
};

class SteadyClock : public Clock {
public:
    SteadyClock();
    ms now() const override;
    void sleep(ms duration) override;

private:
    std::chrono::steady_clock::time_point start_;
};

class VirtualClock : public Clock {
public:
    ms now() const override { return now_; }
    void sleep(ms duration) override { advance(duration); }
    void advance(ms duration)
    {
        if (duration.count() > 0)
            now_ += duration;
    }
    // Moves the clock forward to `when` (never back).
    void advanceTo(ms when)
    {
        if (when > now_)
            now_ = when;
    }

private:
    ms now_{0};
};

} // namespace tessavin
