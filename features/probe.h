#pragma once
// Finding the controller: which port it is on and at which baud rate. Every
// port is tried at every rate with one question that changes nothing and whose
// reply carries a checksum, each answer awaited only a short first-byte limit:
//
//  1. the register link's log count (0x1C); a reply that passes both checksums
//     is the controller, and its device number (0x2C) is read as well;
//  2. where that drew nothing at all, the configuration link's status query
//     (0x37), whose reply must end in the Frame checksum over its bytes.
//
// Bytes that came but did not pass are a line at a wrong rate (or another
// device): that try is over. A port that is busy or cannot be opened is skipped
// at every rate, saying why. The first answer ends the probe.
//
// One after another: question 1 at the first rate on every port, then at the
// next rate, and so on; then question 2 in the same order where 1 drew nothing.
// In parallel, every port runs its part of that order on a thread of its own
// (one rate at a time per port).
#include "serial/byte_port.h"
#include "serial/clock.h"
#include "serial/frame_log.h"
#include "serial/timing.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin {

// The baud rates tried when none are given: the settings file's rate first,
// then the usual ones.
QList<qint32> ProbeRates(qint32 settingsRate = 0);
// The ports tried when none are given: every serial port the system lists.
QStringList ProbePorts();

// The link timing of one question: a single first-byte wait of `wait`, the
// rest as the system's defaults.
LinkTiming ProbeTiming(std::chrono::milliseconds wait);

struct ProbeRequest {
    QStringList ports; // as a port field takes them (PortDeviceName)
    QList<qint32> rates;
    std::chrono::milliseconds wait{150}; // the first-byte limit of one question
    bool parallel = false;
};

enum class ProbeOutcome {
    Answered, // a reply passed its checksums
    Silent, // nothing came
    Garbled, // bytes came that did not pass
    Busy, // another program holds the port (no rate is tried on it)
    Unavailable, // the port could not be opened (no rate is tried on it)
};

// "answered", "silent", "garbled", "busy", "unavailable".
QString ProbeOutcomeName(ProbeOutcome outcome);

struct ProbeTry {
    QString port; // as given
    qint32 baud = 0; // 0 for a port that could not be opened
    LinkKind link = LinkKind::Register; // the link asked (that answered, for Answered)
    ProbeOutcome outcome = ProbeOutcome::Silent;
    std::optional<qint32> deviceNumber; // read when the register link answered
    std::chrono::milliseconds elapsed{0}; // from the question to its answer, or to giving up
    QString detail; // why a port was skipped; the bytes that did not pass
};

struct ProbeResult {
    std::vector<ProbeTry> tries; // in the order they ended
    std::optional<ProbeTry> found; // the first that answered
    bool stopped = false; // the stop hook ended the probe
};

struct ProbeHooks {
    // Told of every try as it ends; in parallel from the ports' threads, one at a time.
    std::function<void(const ProbeTry&)> onTry;
    // Asked before every try (in parallel from the ports' threads); true ends the probe.
    std::function<bool()> stop;
    // Lets window events run during the waits (one after another only).
    std::function<void()> pump;
    // Told of every frame sent and received, with the port it passed (in parallel
    // from the ports' threads).
    std::function<void(const QString& port, const FrameRecord&)> onFrame;
    // Makes the port of one link; empty: the real serial port. Clock: the computer's.
    std::function<std::shared_ptr<BytePort>()> makePort;
    std::shared_ptr<Clock> clock;
};

ProbeResult FindController(const ProbeRequest& request, const ProbeHooks& hooks = {});

} // namespace tessavin
