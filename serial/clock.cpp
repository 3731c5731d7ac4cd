#include "serial/clock.h"

#include <thread>

namespace tessavin {

SteadyClock::SteadyClock() : start_(std::chrono::steady_clock::now()) { }

Clock::ms SteadyClock::now() const { return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - start_); }

void SteadyClock::sleep(ms duration)
{
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

} // namespace tessavin
