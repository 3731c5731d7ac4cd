#pragma once
// What the controller sends: the reply frames of both links with the fields
// inside them, and a reply as it goes onto the line, in parts.
#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <vector>

namespace tessavin::sim {

// The reply as it goes onto the line: one or more parts, each after a pause.
struct ReplyPart {
    std::chrono::milliseconds pauseBefore{0};
    QByteArray bytes;
};
struct Reply {
    std::vector<ReplyPart> parts; // empty: the controller stays silent
    QByteArray note; // why it is silent, or which faults shaped it

    bool silent() const { return parts.empty(); }
    QByteArray bytes() const; // all parts joined
};

// Frame builders of the controller's side (used by the controller and by tests).
QByteArray ConfigReply(std::uint8_t result, const QByteArray& data = {});
QByteArray RegisterReply(std::uint8_t command, std::uint8_t function, const QByteArray& payload);
// The fields inside them, low byte first: a 16-bit word (of the value's low 16
// bits) and a 32-bit long.
QByteArray WordBytes(int value);
QByteArray LongBytes(std::uint32_t value);

} // namespace tessavin::sim
