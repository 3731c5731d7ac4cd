#pragma once
// Every pause and time-out of the serial link, with the system's values as defaults.
// Tests may shorten them; the controller relies on the defaults.
#include <chrono>
#include <cmath>

namespace tessavin {

struct LinkTiming {
    using ms = std::chrono::milliseconds;

    // Waiting for the first byte of a reply: a pause, then a one-byte wait, up to
    // firstByteTries times in a row (201 x (10 + 55) ms, about 13 s in all).
    ms firstBytePause{10};
    ms firstByteWait{55};
    int firstByteTries{201};
    // A fast reply waits for its first byte on the port's readiness, as long as
    // all the rounds would have taken.
    ms firstByteLimit() const { return firstByteTries * (firstBytePause + firstByteWait); }

    // A read request that will be sent again if its reply fails waits at most
    // this long for the reply's first byte, once the controller has answered on
    // the open port: a lost reply then costs this, not the whole first-byte wait.
    // The first request on the port and the last try of every request keep the
    // whole wait, so a controller that is slow to answer is still read.
    ms retryFirstByteWait{1000};

    // A reply (and a poll) ends at the first silence of this length on the line.
    ms idleGap{60};

    // The poll receiver's pause between rounds while nothing has come.
    ms pollRoundPause{1};

    // The pause before answering a poll from device address 0.
    ms address0Pause{9};

    // The longest slice a wait blocks before letting window events run.
    ms pumpSlice{10};

    // Fast replies: after a reply that ended at its stated length, the next frame
    // waits this many character times of bitsPerCharacter bits at the line's baud
    // rate, and never less than guardGapMinimum, so that the controller always
    // sees a quiet line between frames.
    double guardGapCharacters{3.5};
    int bitsPerCharacter{10};
    ms guardGapMinimum{2};

    // The guard gap at a baud rate, rounded up to whole milliseconds (the unit of
    // the link's clock): 2 ms at 38400 and above, 4 ms at 9600, 30 ms at 1200.
    ms guardGap(int baud) const
    {
        if (baud <= 0)
            return guardGapMinimum;
        const double millis = guardGapCharacters * bitsPerCharacter * 1000.0 / baud;
        const ms gap{static_cast<ms::rep>(std::ceil(millis))};
        return gap > guardGapMinimum ? gap : guardGapMinimum;
    }
};

} // namespace tessavin
