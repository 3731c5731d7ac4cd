#pragma once
// Every pause and time-out of the serial link, with the system's values as defaults.
// Tests may shorten them; the controller relies on the defaults.
#include <chrono>

namespace tessavin {

struct LinkTiming {
    using ms = std::chrono::milliseconds;

    // Waiting for the first byte of a reply: a pause, then a one-byte wait, up to
    // firstByteTries times in a row (201 x (10 + 55) ms, about 13 s in all).
    ms firstBytePause{10};
    ms firstByteWait{55};
    int firstByteTries{201};

    // A reply (and a poll) ends at the first silence of this length on the line.
    ms idleGap{60};

    // The poll receiver's pause between rounds while nothing has come.
    ms pollRoundPause{1};

    // The pause before answering a poll from device address 0.
    ms address0Pause{9};

    // The longest slice a wait blocks before letting window events run.
    ms pumpSlice{10};
};

} // namespace tessavin
