#include "sim/live_line.h"

#include "sim/sim_options.h"

#include <thread>

namespace tessavin::sim {

namespace {
constexpr int kDemoBaud = 38400;
constexpr std::chrono::milliseconds kPollInterval{5000};
constexpr std::chrono::milliseconds kPollQuiet{500};
} // namespace

LiveLine::LiveLine(const ControllerSettings& settings)
    : line_(settings)
    , start_(std::chrono::steady_clock::now())
    , polls_(DemoPolls())
    , pollDue_(kPollInterval)
{
    line_.baud = kDemoBaud;
    line_.setKeepFrames(false); // a long session keeps its memory flat
}

LiveLine::ms LiveLine::elapsed() const
{
    return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now() - start_);
}

void LiveLine::sync()
{
    const ms now = elapsed();
    if (now > line_.clock->now())
        line_.clock->advanceTo(now);
    if (!isOpen() || polls_.empty() || now < pollDue_ || now - lastRequest_ < kPollQuiet)
        return;
    line_.sendPoll(polls_[nextPoll_ % polls_.size()]);
    ++nextPoll_;
    pollDue_ = now + kPollInterval;
}

bool LiveLine::open(const QString& device, std::int32_t baud, PortOpenError* error)
{
    sync();
    return line_.port->open(device, baud, error);
}

void LiveLine::close() { line_.port->close(); }

void LiveLine::purge()
{
    sync();
    line_.port->purge();
}

bool LiveLine::write(const std::uint8_t* bytes, std::size_t count)
{
    sync();
    lastRequest_ = elapsed();
    return line_.port->write(bytes, count);
}

std::size_t LiveLine::bytesAvailable()
{
    sync();
    return line_.port->bytesAvailable();
}

std::size_t LiveLine::read(std::uint8_t* buf, std::size_t capacity)
{
    sync();
    return line_.port->read(buf, capacity);
}

BytePort::Wait LiveLine::waitReadable(std::chrono::milliseconds limit)
{
    const ms end = elapsed() + std::max(limit, ms{0});
    for (;;) {
        sync();
        if (!isOpen())
            return Wait::Lost;
        if (line_.port->bytesAvailable() > 0)
            return Wait::Ready;
        if (elapsed() >= end)
            return Wait::TimedOut;
        std::this_thread::sleep_for(ms{1});
    }
}

} // namespace tessavin::sim
