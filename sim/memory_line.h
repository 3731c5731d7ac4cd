#pragma once
// The emulated controller behind an in-memory port, on a virtual clock: each
// frame the program writes is handled at the virtual time it was written, and
// the reply's parts arrive after the turnaround and any pause a fault asks for.
// Polls arrive when sendPoll says; the answers written back are logged. No
// thread, no pseudo-terminal, no real time:
//
//     tessavin::sim::MemoryLine line;                     // default log, archive, configuration
//     tessavin::Session session({}, line.port, line.clock); // the system's timings
//     session.link.openPort("controller", 38400);
//     ... AskRingQuestion(session, RingQuestion::LogCount) reads 150 ...
//     line.frames() holds the request and the reply, with their virtual times.
#include "sim/controller.h"
#include "sim/controller_polls.h"

#include "testing/memory_port.h"

#include <memory>
#include <vector>

namespace tessavin::sim {

class MemoryLine {
public:
    explicit MemoryLine(const ControllerSettings& settings = {});

    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<MemoryPort> port;
    Controller controller;
    // Pause between a request and its reply.
    std::chrono::milliseconds turnaround{0};
    // Paces the line at this rate, 10 bits a byte, on the virtual clock: each
    // part of a reply arrives whole when its last byte would, the first after
    // the request's own time on the line (whole milliseconds, rounded up). 0: no pacing.
    int baud = 0;

    // Every frame written (Received) and every reply and poll sent (Sent), in order.
    const std::vector<LoggedFrame>& frames() const { return frames_; }
    void clearFrames() { frames_.clear(); }
    // Whether frames are kept here and in the port (on unless a long run turns
    // it off to keep its memory flat).
    void setKeepFrames(bool keep);
    // The frames the controller received, each whole.
    QList<QByteArray> received() const;

    // The controller sends a poll `after` from now.
    void sendPoll(const PollSpec& pollSpec, std::chrono::milliseconds after = {});
    // The answers written back so far, in order.
    QList<QByteArray> pollAnswers() const;

private:
    SimClock::time_point at(std::chrono::milliseconds virtualTime) const;
    std::chrono::milliseconds onLine(const QByteArray& bytes) const;

    std::vector<LoggedFrame> frames_;
    bool keepFrames_ = true;
};

} // namespace tessavin::sim
