#include "testing/memory_port.h"

#include <algorithm>

namespace tessavin {

MemoryPort::MemoryPort(std::shared_ptr<VirtualClock> clock) : clock_(std::move(clock))
{
    responder_ = [this](const QByteArray&) -> std::vector<Part> {
        const QByteArray reply = scripted_.isEmpty() ? otherwise_ : scripted_.takeFirst();
        if (reply.isEmpty())
            return {};
        return {Part{ms{0}, reply}};
    };
}

void MemoryPort::script(const QList<QByteArray>& replies, const QByteArray& otherwise)
{
    scripted_ = replies;
    otherwise_ = otherwise;
}

void MemoryPort::arrive(const QByteArray& bytes, ms after)
{
    const Arrival arrival{clock_->now() + after, bytes};
    const auto at = std::upper_bound(arrivals_.begin(), arrivals_.end(), arrival.at,
                                     [](ms t, const Arrival& a) { return t < a.at; });
    arrivals_.insert(at, arrival);
}

void MemoryPort::vanish(ms after) { lostAt_ = clock_->now() + after; }

QList<QByteArray> MemoryPort::written() const
{
    QList<QByteArray> out;
    for (const Written& w : written_)
        out << w.bytes;
    return out;
}

bool MemoryPort::open(const QString& device, std::int32_t, PortOpenError* error)
{
    close();
    if (refusal_.kind != PortOpenError::Kind::None) {
        if (error) {
            *error = refusal_;
            error->device = device;
        }
        return false;
    }
    open_ = true;
    device_ = device;
    lostAt_.reset();
    input_.clear();
    ++opens_;
    return true;
}

void MemoryPort::close()
{
    open_ = false;
    input_.clear();
}

void MemoryPort::deliver()
{
    const ms now = clock_->now();
    auto due = arrivals_.begin();
    while (due != arrivals_.end() && due->at <= now) {
        if (open_)
            input_ += due->bytes;
        ++due;
    }
    arrivals_.erase(arrivals_.begin(), due);
}

void MemoryPort::purge()
{
    deliver();
    input_.clear();
}

bool MemoryPort::write(const std::uint8_t* bytes, std::size_t count)
{
    if (!open_ || lost())
        return false;
    const QByteArray frame(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count));
    if (keepWritten_)
        written_.push_back({clock_->now(), frame});
    ms after{0};
    for (const Part& part : responder_(frame)) {
        after += part.after;
        arrive(part.bytes, after);
    }
    return true;
}

std::size_t MemoryPort::bytesAvailable()
{
    deliver();
    return open_ ? static_cast<std::size_t>(input_.size()) : 0;
}

std::size_t MemoryPort::read(std::uint8_t* buf, std::size_t capacity)
{
    deliver();
    const std::size_t n = std::min(capacity, static_cast<std::size_t>(input_.size()));
    std::copy_n(input_.constData(), n, reinterpret_cast<char*>(buf));
    input_.remove(0, static_cast<qsizetype>(n));
    return n;
}

BytePort::Wait MemoryPort::waitReadable(ms limit)
{
    const ms until = clock_->now() + std::max(limit, ms{0});
    for (;;) {
        if (!open_)
            return Wait::Lost;
        deliver();
        if (!input_.isEmpty())
            return Wait::Ready;
        if (lost())
            return Wait::Lost;
        if (clock_->now() >= until)
            return Wait::TimedOut;
        // Step to whatever comes first: an arrival, the loss, an action of the
        // test (which may send bytes), or the end of the wait.
        ms next = until;
        if (!arrivals_.empty())
            next = std::min(next, arrivals_.front().at);
        if (lostAt_)
            next = std::min(next, *lostAt_);
        if (const auto action = clock_->nextAction())
            next = std::min(next, std::max(*action, clock_->now()));
        clock_->advanceTo(next);
    }
}

} // namespace tessavin
