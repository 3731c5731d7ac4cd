#pragma once
// The frames on the controller's line: which link a frame belongs to, where a
// request ends, and a frame as the controller's side logs it.
//
// The controller speaks three kinds of frame on the one line:
//  - configuration link: requests 05 64 03 0B, unit, function (6 command, 16 data,
//    17 block read), big-endian address, count or command code, data, checksum;
//    replies are: unit (non-zero), result code, data count, data, checksum;
//  - register and log link: requests 05 64, 16-bit length L (LE), header checksum,
//    command, function, index, count, data, body checksum; replies 05 64, L,
//    header checksum, the request's command and function, payload, body checksum
//    over the L - 2 bytes from offset 6;
//  - polls: the controller sends 0xAA polls and checks the 0x55 answers (controller_polls.h).
#include "sim/controller_polls.h"
#include "serial/frame_log.h"

#include <QByteArray>

#include <chrono>
#include <optional>

namespace tessavin::sim {

using SimClock = std::chrono::steady_clock;

// The command codes are protocol/'s: cfg:: (config_link.h) and reg:: (register_link.h).

// Which link a frame belongs to, judged from its first bytes: one of the frame
// log's link kinds, and on the poll link whether the frame polls (0xAA, or fill
// in front of a poll) or answers one (0x55).
struct FrameKind {
    std::optional<LinkKind> link; // nullopt: bytes of no known frame
    bool answer = false; // a poll's answer
    bool operator==(const FrameKind&) const = default;

    bool is(LinkKind kind) const { return link == kind; }
    static FrameKind poll() { return {LinkKind::Poll, false}; }
    static FrameKind pollAnswer() { return {LinkKind::Poll, true}; }
};

// The length of the frame at the start of `bytes` once enough of it is there to
// tell: 12 (+ n) for the configuration link, L + 6 for the register link. nullopt
// while the length cannot be known yet, or for bytes of no known frame.
std::optional<int> ExpectedRequestLength(const QByteArray& bytes);
FrameKind ClassifyFrame(const QByteArray& bytes);

// One frame on the line, as the controller's side logs it.
enum class Direction { Received, Sent };

struct LoggedFrame {
    Direction direction = Direction::Received;
    FrameKind kind;
    SimClock::time_point firstByte{};
    SimClock::time_point lastByte{};
    QByteArray bytes; // a reply split by a fault is logged once, all parts joined
    QByteArray note; // e.g. "bad checksum", "silent: rebooting", "fault: split"
};

} // namespace tessavin::sim
