#pragma once
// Why an exchange failed, one enum for both links and the polls, and the short
// English text of each error. Operations return the error with the value when
// there is one; the window still shows what it always showed (a failed count
// reads 0), while the frame log and the command-line tool read the error.
#include <QString>

namespace tessavin {

enum class LinkError {
    None, // the exchange worked
    PortClosed, // no port is open
    NoReply, // nothing came within the first-byte wait (about 13 s)
    PortLost, // the device went away during the exchange
    BadHeaderChecksum, // register link: the checksum of bytes 0-3 is wrong
    LengthOutOfRange, // register link: the stated length is below 4 or beyond the buffer
    BadBodyChecksum, // register link: the body checksum is wrong
    Truncated, // fewer bytes came than the reply states it holds
    TooShort, // a well-formed reply too short for what was asked
    InvalidReply, // configuration link: fewer than two bytes, or 00 00 at the start
    BadChecksum, // configuration link: the checksum behind the reply's data is wrong or missing
    ImpossibleValue, // a reply carrying a value the controller never sends (a status it does not define)
    ValueRejected, // a valid reply whose value cannot be used (not above zero)
};

// "ok", "no reply", "bad header checksum", ...
QString LinkErrorText(LinkError error);

// Whether a reply came but cannot be trusted: cut short, a checksum that fails,
// bytes that make no reply, a value the controller cannot send. After a request
// that changes the controller such a reply leaves the change unconfirmed: the
// controller answered, but what it answered is unknown.
bool ReplyDamaged(LinkError error);

// A value read from the controller, with the error that spoiled it. On failure
// the value holds the failure value the window has always shown (0, 0.0, -1).
template <class T>
struct LinkResult {
    T value{};
    LinkError error = LinkError::None;

    bool ok() const { return error == LinkError::None; }
};

} // namespace tessavin
