#include "clock.h"

#include <thread>

namespace tessavin {

SteadyClock::SteadyClock() : start_(std::chrono::steady_clock::now()) {}

Clock::ms SteadyClock::now() const
{
    return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - start_);
}

void SteadyClock::sleep(ms duration)
{
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

void VirtualClock::advanceTo(ms when)
{
    while (!actions_.empty() && actions_.begin()->first <= when) {
        const auto due = actions_.begin();
        const auto action = std::move(due->second);
        if (due->first > now_)
            now_ = due->first;
        actions_.erase(due);
        action();
    }
    if (when > now_)
        now_ = when;
}

} // namespace tessavin
