#include "sim/memory_line.h"

namespace tessavin::sim {

MemoryLine::MemoryLine(const ControllerSettings& settings)
    : clock(std::make_shared<VirtualClock>())
    , port(std::make_shared<MemoryPort>(clock))
    , controller(settings)
{
    port->setResponder([this](const QByteArray& frame) {
        const SimClock::time_point now = at(clock->now());
        const FrameKind kind = ClassifyFrame(frame);
        if (keepFrames_)
            frames_.push_back({Direction::Received, kind, now, now, frame, {}});
        std::vector<MemoryPort::Part> parts;
        if (kind.answer)
            return parts;
        controller.tick(now);
        const Reply reply = controller.handle(frame, now);
        if (reply.silent()) {
            if (keepFrames_)
                frames_.back().note = reply.note;
            return parts;
        }
        if (keepFrames_)
            frames_.push_back({Direction::Sent, kind, now + turnaround, now + turnaround, reply.bytes(), reply.note});
        for (std::size_t i = 0; i < reply.parts.size(); ++i)
            parts.push_back({reply.parts[i].pauseBefore + onLine(reply.parts[i].bytes)
                                 + (i == 0 ? turnaround + onLine(frame) : std::chrono::milliseconds{0}),
                             reply.parts[i].bytes});
        return parts;
    });
}

void MemoryLine::setKeepFrames(bool keep)
{
    keepFrames_ = keep;
    port->setKeepWritten(keep);
}

std::chrono::milliseconds MemoryLine::onLine(const QByteArray& bytes) const
{
    if (baud <= 0)
        return {};
    return std::chrono::milliseconds((static_cast<long long>(bytes.size()) * 10000 + baud - 1) / baud);
}

SimClock::time_point MemoryLine::at(std::chrono::milliseconds virtualTime) const
{
    return SimClock::time_point{} + virtualTime;
}

QList<QByteArray> MemoryLine::received() const
{
    QList<QByteArray> out;
    for (const LoggedFrame& f : frames_)
        if (f.direction == Direction::Received && !f.kind.answer)
            out << f.bytes;
    return out;
}

void MemoryLine::sendPoll(const PollSpec& pollSpec, std::chrono::milliseconds after)
{
    const QByteArray poll = BuildPoll(pollSpec);
    const SimClock::time_point when = at(clock->now() + after);
    frames_.push_back({Direction::Sent, FrameKind::poll(), when, when, poll, {}});
    port->arrive(poll, after);
}

QList<QByteArray> MemoryLine::pollAnswers() const
{
    QList<QByteArray> out;
    for (const LoggedFrame& f : frames_)
        if (f.kind.answer)
            out << f.bytes;
    return out;
}

} // namespace tessavin::sim
