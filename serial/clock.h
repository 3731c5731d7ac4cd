#pragma once
// Time as the link's rules read it. The steady clock is the computer's; tests
// give the link a virtual one (testing/virtual_clock.h).
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

} // namespace tessavin
