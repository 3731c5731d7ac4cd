#pragma once
// The line below the frames: bits at a rate. What a receiver set to another
// rate than the sender's makes of the bytes, and what the controller does with
// a request from such a port.
#include <QByteArray>

namespace tessavin::sim {

// What the controller does with a request from a port set to another rate than
// the line's (on a pseudo-terminal, read from the settings its other side made).
enum class RateMismatch {
    Answer, // answer as if the rates matched
    Garbage, // take nothing in, and give the requester the bytes a receiver at
             // its rate makes of the reply (HeardAtRate): garbage
    Silent, // take nothing in, answer nothing
};

// The bytes a receiver at `readBaud` makes of `sent` at `sentBaud` (8 data bits,
// no parity, one stop bit, the line idle high around them): it starts a byte at
// each falling edge and samples the bits in the middle of its own bit times.
// The same rate, or a rate that is not positive, gives the bytes back unchanged.
QByteArray HeardAtRate(const QByteArray& sent, int sentBaud, int readBaud);

} // namespace tessavin::sim
