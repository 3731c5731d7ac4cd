#pragma once
// A clock that moves only when a wait or a pause asks it to, so the link's rules
// (about 13 s of silence, the idle gap) can be checked at their own values in no
// real time at all.
#include "serial/clock.h"

#include <functional>
#include <map>
#include <optional>

namespace tessavin {

class VirtualClock : public Clock {
public:
    ms now() const override { return now_; }
    void sleep(ms duration) override { advance(duration); }
    void advance(ms duration) { advanceTo(now_ + duration); }
    // Moves the clock forward to `when` (never back), running on the way every
    // action that falls due, each at its own time, in time order.
    void advanceTo(ms when);

    // Runs `action` once when the clock reaches `when` (at once if it already has,
    // the next time the clock moves). What a person does at a given moment of a
    // test: press Stop, close the window.
    void at(ms when, std::function<void()> action) { actions_.emplace(when, std::move(action)); }
    std::optional<ms> nextAction() const
    {
        return actions_.empty() ? std::nullopt : std::optional<ms>(actions_.begin()->first);
    }

private:
    ms now_{0};
    std::multimap<ms, std::function<void()>> actions_;
};

} // namespace tessavin
