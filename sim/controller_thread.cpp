#include "sim/controller_thread.h"
#include "sim/sim_options.h"

#include <QTime>

#include <future>

namespace tessavin::sim {

using namespace std::chrono_literals;

namespace {

// How long n bytes take on a line at `baud`, 10 bits a byte; nothing unpaced.
SimClock::duration lineTime(qsizetype bytes, int baud)
{
    if (baud <= 0)
        return SimClock::duration::zero();
    return std::chrono::microseconds(static_cast<long long>(bytes) * 10'000'000LL / baud);
}

} // namespace

ControllerThread::ControllerThread(const ControllerSettings& settings) : controller_(settings) { }

ControllerThread::~ControllerThread() { stop(); }

bool ControllerThread::start(QString* error)
{
    stop();
    if (!pty_.open(error))
        return false;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void ControllerThread::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    pty_.close();
    // Anyone still waiting for a poll gets an empty answer.
    std::lock_guard lock(mutex_);
    for (auto& pending : pendingPolls_)
        pending->promise.set_value(CheckPollAnswer(pending->pollSpec, {}));
    pendingPolls_.clear();
}

QString ControllerThread::slavePath() const { return pty_.slavePath(); }

ControllerState ControllerThread::stateSnapshot() const
{
    std::lock_guard lock(mutex_);
    return controller_.state();
}

LineSettings ControllerThread::lineSettings() const
{
    std::lock_guard lock(mutex_);
    return line_;
}

void ControllerThread::setLineSettings(const LineSettings& settings)
{
    std::lock_guard lock(mutex_);
    line_ = settings;
}

std::vector<LoggedFrame> ControllerThread::frames() const
{
    std::lock_guard lock(logMutex_);
    return frames_;
}

std::size_t ControllerThread::frameCount() const
{
    std::lock_guard lock(logMutex_);
    return frames_.size();
}

void ControllerThread::clearFrames()
{
    std::lock_guard lock(logMutex_);
    frames_.clear();
}

bool ControllerThread::waitFor(const std::function<bool(const std::vector<LoggedFrame>&)>& pred,
                               std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(logMutex_);
    return logChanged_.wait_for(lock, timeout, [&] { return pred(frames_); });
}

bool ControllerThread::waitForFrames(std::size_t n, std::chrono::milliseconds timeout) const
{
    return waitFor([n](const std::vector<LoggedFrame>& log) { return log.size() >= n; }, timeout);
}

bool ControllerThread::waitForFrames(Direction direction, std::size_t n, std::chrono::milliseconds timeout) const
{
    return waitFor(
        [n, direction](const std::vector<LoggedFrame>& log) {
            std::size_t seen = 0;
            for (const auto& f : log)
                seen += f.direction == direction ? 1 : 0;
            return seen >= n;
        },
        timeout);
}

std::vector<PollResult> ControllerThread::pollResults() const
{
    std::lock_guard lock(logMutex_);
    return polls_;
}

bool ControllerThread::waitForPollResults(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(logMutex_);
    return logChanged_.wait_for(lock, timeout, [&] { return polls_.size() >= n; });
}

PollResult ControllerThread::sendPoll(const PollSpec& pollSpec, std::chrono::milliseconds timeout)
{
    auto pending = std::make_shared<PendingPoll>();
    pending->pollSpec = pollSpec;
    pending->timeout = timeout;
    auto result = pending->promise.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return CheckPollAnswer(pollSpec, {});
        pendingPolls_.push_back(pending);
    }
    return result.get();
}

void ControllerThread::setPollSchedule(std::vector<PollSpec> polls, std::chrono::milliseconds interval,
                                       std::chrono::milliseconds answerTimeout)
{
    std::lock_guard lock(mutex_);
    schedule_ = std::move(polls);
    scheduleInterval_ = interval;
    scheduleTimeout_ = answerTimeout;
    scheduleIndex_ = 0;
    nextScheduled_ = SimClock::now() + interval;
}

void ControllerThread::log(LoggedFrame frame)
{
    {
        std::lock_guard lock(logMutex_);
        frames_.push_back(std::move(frame));
    }
    logChanged_.notify_all();
}

bool ControllerThread::sleepUnlessStopped(std::chrono::milliseconds duration)
{
    return sleepUntilUnlessStopped(SimClock::now() + duration);
}

bool ControllerThread::sleepUntilUnlessStopped(SimClock::time_point until)
{
    while (!stopping_) {
        const auto now = SimClock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<SimClock::duration>(until - now, 5ms));
    }
    return false;
}

void ControllerThread::run()
{
    Arrival pending;
    while (!stopping_) {
        LineSettings line;
        {
            std::lock_guard lock(mutex_);
            line = line_;
            controller_.tick(SimClock::now());
        }

        // Polls go out only while no request is half received.
        if (pending.bytes.isEmpty()) {
            const bool polled = sendDuePoll(line);
            if (!carry_.isEmpty()) {
                pending.bytes = carry_;
                carry_.clear();
                pending.first = pending.last = SimClock::now();
            } else if (polled) {
                continue;
            }
        }
        receiveRequests(pending, line);
    }
}

bool ControllerThread::sendDuePoll(const LineSettings& line)
{
    std::shared_ptr<PendingPoll> poll;
    std::optional<PollSpec> scheduled;
    std::chrono::milliseconds scheduledTimeout{0};
    {
        std::lock_guard lock(mutex_);
        if (!pendingPolls_.empty()) {
            poll = pendingPolls_.front();
            pendingPolls_.pop_front();
        } else if (!schedule_.empty() && scheduleInterval_.count() > 0 && SimClock::now() >= nextScheduled_
                   && SimClock::now() - lastRequest_ >= line.pollQuiet && pty_.peerOpen()) {
            scheduled = schedule_[scheduleIndex_ % schedule_.size()];
            ++scheduleIndex_;
            scheduledTimeout = scheduleTimeout_;
        }
    }
    if (poll)
        poll->promise.set_value(doPoll(poll->pollSpec, poll->timeout));
    if (scheduled) {
        doPoll(*scheduled, scheduledTimeout);
        std::lock_guard lock(mutex_);
        nextScheduled_ = SimClock::now() + scheduleInterval_;
    }
    return poll != nullptr || scheduled.has_value();
}

void ControllerThread::receiveRequests(Arrival& pending, const LineSettings& line)
{
    auto wait = std::chrono::milliseconds(10);
    if (!pending.bytes.isEmpty()) {
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(SimClock::now() - pending.last);
        wait = std::max(0ms, line.framingGap - since);
    }
    const QByteArray in = pty_.read(wait);
    const auto now = SimClock::now();
    if (!in.isEmpty()) {
        if (pending.bytes.isEmpty())
            pending.first = now;
        pending.bytes += in;
        pending.last = now;
    }
    while (!pending.bytes.isEmpty()) {
        const auto expected = ExpectedRequestLength(pending.bytes);
        if (expected && pending.bytes.size() >= *expected) {
            const QByteArray request = pending.bytes.left(*expected);
            pending.bytes.remove(0, *expected);
            serveRequest(request, pending.first, pending.last);
            pending.first = pending.last;
            continue;
        }
        if (SimClock::now() - pending.last >= line.framingGap) {
            serveRequest(pending.bytes, pending.first, pending.last);
            pending.bytes.clear();
        }
        break;
    }
}

void ControllerThread::serveRequest(QByteArray request, SimClock::time_point first, SimClock::time_point last)
{
    LineSettings line = lineSettings();
    const int requesterBaud = line.baud > 0 && line.mismatch != RateMismatch::Answer ? pty_.peerBaud() : 0;
    if (requesterBaud > 0 && requesterBaud != line.baud) {
        serveMismatched(request, first, last, line, requesterBaud);
        return;
    }
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        reply = controller_.handle(request, SimClock::now());
    }
    lastRequest_ = SimClock::now();
    log({.direction = Direction::Received,
         .kind = ClassifyFrame(request),
         .firstByte = first,
         .lastByte = last,
         .bytes = request,
         .note = reply.silent() ? reply.note : QByteArray()});
    if (!reply.silent())
        writeReply(reply, request, first);
}

void ControllerThread::serveMismatched(const QByteArray& request, SimClock::time_point first, SimClock::time_point last,
                                       const LineSettings& line, int requesterBaud)
{
    // A controller cannot read a frame sent at another rate, so nothing changes;
    // the reply it would give shows what the requester's receiver hears.
    Reply would;
    {
        std::lock_guard lock(mutex_);
        Controller untouched = controller_;
        would = untouched.handle(request, SimClock::now());
    }
    lastRequest_ = SimClock::now();
    const QByteArray why = QStringLiteral("rate mismatch: requester at %1 baud").arg(requesterBaud).toLatin1();
    const bool answer = line.mismatch == RateMismatch::Garbage && !would.silent();
    log({.direction = Direction::Received,
         .kind = ClassifyFrame(request),
         .firstByte = first,
         .lastByte = last,
         .bytes = request,
         .note = answer ? QByteArray() : why});
    if (!answer)
        return;
    Reply garbage;
    garbage.parts.push_back({0ms, HeardAtRate(would.bytes(), line.baud, requesterBaud)});
    garbage.note = why;
    writeReply(garbage, request, first);
}

void ControllerThread::writeReply(const Reply& reply, const QByteArray& request, SimClock::time_point requestFirst)
{
    LineSettings line;
    {
        std::lock_guard lock(mutex_);
        line = line_;
    }
    // The reply may start once the request's last byte is in and the turnaround has passed.
    const auto start = std::max(SimClock::now(), requestFirst + lineTime(request.size(), line.baud)) + line.turnaround;
    std::size_t index = 0;
    for (std::size_t i = 0; i < reply.parts.size(); ++i) {
        const auto& part = reply.parts[i];
        // The first part when its last byte would arrive; a later one right
        // after its pause, counted from the bytes before it.
        const auto partStart = i == 0 ? start + part.pauseBefore : SimClock::now() + part.pauseBefore;
        const auto due = i == 0 ? partStart + lineTime(part.bytes.size(), line.baud) : partStart;
        if (!sleepUntilUnlessStopped(due))
            return;
        if (i == 0) {
            // Logged before the bytes go out, so that whoever has read the reply
            // finds it in the log.
            LoggedFrame sent;
            sent.direction = Direction::Sent;
            sent.kind = ClassifyFrame(request);
            sent.firstByte = partStart;
            sent.lastByte = partStart;
            sent.bytes = reply.bytes();
            sent.note = reply.note;
            std::lock_guard lock(logMutex_);
            frames_.push_back(std::move(sent));
            index = frames_.size() - 1;
        }
        pty_.write(part.bytes, &stopping_);
    }
    {
        std::lock_guard lock(logMutex_);
        if (index < frames_.size())
            frames_[index].lastByte = SimClock::now();
    }
    logChanged_.notify_all();
}

PollResult ControllerThread::doPoll(const PollSpec& pollSpec, std::chrono::milliseconds timeout)
{
    const LineSettings line = lineSettings();
    const QByteArray poll = BuildPoll(pollSpec);
    const int localTimeOfDay = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    const SimClock::time_point sentAt = sendPollBytes(poll, line);
    const Arrival answer = receiveAnswer(ExpectedAnswerLength(pollSpec), sentAt + timeout, line);

    PollResult result = CheckPollAnswer(pollSpec, answer.bytes, localTimeOfDay);
    result.interrupted = !carry_.isEmpty();
    result.poll = poll;
    result.sentAt = sentAt;
    if (!answer.bytes.isEmpty()) {
        result.answerDelay = std::chrono::duration_cast<std::chrono::milliseconds>(answer.last - sentAt);
        log({.direction = Direction::Received,
             .kind = ClassifyFrame(answer.bytes),
             .firstByte = answer.first,
             .lastByte = answer.last,
             .bytes = answer.bytes,
             .note = result.ok() ? QByteArray() : QByteArray("answer failed its checks")});
    }
    {
        std::lock_guard lock(logMutex_);
        polls_.push_back(result);
    }
    logChanged_.notify_all();
    return result;
}

SimClock::time_point ControllerThread::sendPollBytes(const QByteArray& poll, const LineSettings& line)
{
    LoggedFrame sent;
    sent.direction = Direction::Sent;
    sent.kind = FrameKind::poll();
    sent.firstByte = SimClock::now();
    sent.bytes = poll;
    // Whole, when its last byte would have arrived (as replies are).
    sleepUntilUnlessStopped(sent.firstByte + lineTime(poll.size(), line.baud));
    pty_.write(poll, &stopping_);
    sent.lastByte = SimClock::now();
    const auto sentAt = sent.lastByte;
    log(std::move(sent));
    return sentAt;
}

ControllerThread::Arrival ControllerThread::receiveAnswer(int expected, SimClock::time_point deadline,
                                                          const LineSettings& line)
{
    Arrival answer;
    while (!stopping_) {
        const auto now = SimClock::now();
        if (now >= deadline)
            break;
        if (!answer.bytes.isEmpty() && now - answer.last >= line.answerIdle)
            break;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms;
        if (!answer.bytes.isEmpty())
            wait = std::min(wait, line.answerIdle);
        const QByteArray in = pty_.read(std::min(wait, std::chrono::milliseconds(10)));
        if (in.isEmpty())
            continue;
        if (answer.bytes.isEmpty())
            answer.first = SimClock::now();
        answer.bytes += in;
        answer.last = SimClock::now();
        const FrameKind kind = ClassifyFrame(answer.bytes);
        if (kind.is(LinkKind::Register) || kind.is(LinkKind::Config)) {
            // The application was not answering polls but asking: serve it.
            carry_ = answer.bytes;
            answer.bytes.clear();
            break;
        }
        if (expected > 0 && answer.bytes.size() >= expected)
            break;
    }
    return answer;
}

void ConfigureDemo(ControllerThread& controller)
{
    LineSettings line;
    line.baud = 38400;
    controller.setLineSettings(line);
    controller.setPollSchedule(DemoPolls(), std::chrono::seconds(5));
}

} // namespace tessavin::sim
