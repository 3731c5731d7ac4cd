#include "testing/virtual_clock.h"

namespace tessavin {

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
