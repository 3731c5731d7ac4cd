#include "features/probe.h"

#include "protocol/checksum.h"
#include "protocol/config_link.h"
#include "serial/port_list.h"
#include "serial/system_port.h"
#include "features/session.h"

#include <QThread>

#include <atomic>
#include <mutex>

namespace tessavin {

namespace {

// The status query's reply: unit, result code, data count n, n data bytes and
// the Frame checksum of all of them.
LinkError statusReplyCheck(const std::uint8_t* bytes, std::size_t received)
{
    if (const LinkError error = ConfigReplyCheck(bytes, received); error != LinkError::None)
        return error;
    const std::size_t covered = received >= 3 ? 3 + std::size_t{bytes[2]} : received;
    if (received < covered + 2)
        return LinkError::Truncated;
    return ChecksumMatches(bytes, covered) ? LinkError::None : LinkError::BadBodyChecksum;
}

ProbeOutcome outcomeOf(LinkError error)
{
    switch (error) {
    case LinkError::None:
        return ProbeOutcome::Answered;
    case LinkError::NoReply:
        return ProbeOutcome::Silent;
    case LinkError::PortClosed:
    case LinkError::PortLost:
        return ProbeOutcome::Unavailable;
    default:
        return ProbeOutcome::Garbled;
    }
}

// What is shared by the ports' probes: the request, the hooks and the result.
class ProbeRun {
public:
    ProbeRun(const ProbeRequest& request, const ProbeHooks& hooks) : request_(request), hooks_(hooks) { }

    // Whether the probe is over: found, or stopped by the hook.
    bool over()
    {
        if (found_)
            return true;
        if (hooks_.stop && hooks_.stop()) {
            std::lock_guard lock(mutex_);
            result_.stopped = true;
            return true;
        }
        return false;
    }

    void record(const ProbeTry& t)
    {
        std::lock_guard lock(mutex_);
        if (found_ && t.outcome != ProbeOutcome::Answered)
            return; // a try of another port that ended after the answer
        result_.tries.push_back(t);
        if (t.outcome == ProbeOutcome::Answered && !result_.found) {
            result_.found = t;
            found_ = true;
        }
        if (hooks_.onTry)
            hooks_.onTry(t);
    }

    std::unique_ptr<Session> session(const QString& port, bool pumped) const
    {
        auto session = std::make_unique<Session>(ProbeTiming(request_.wait),
                                                 hooks_.makePort ? hooks_.makePort() : MakeSystemPort(), hooks_.clock);
        if (pumped && hooks_.pump)
            session->link.setPump(hooks_.pump);
        if (hooks_.onFrame)
            session->link.frameLog().attach(
                [onFrame = hooks_.onFrame, port](const FrameRecord& record) { onFrame(port, record); });
        // A good register reply ends at its stated length, not after the idle gap.
        session->chooseFastReplies(true, false);
        return session;
    }

    const ProbeRequest& request() const { return request_; }
    ProbeResult result()
    {
        std::lock_guard lock(mutex_);
        return result_;
    }

private:
    const ProbeRequest& request_;
    const ProbeHooks& hooks_;
    std::mutex mutex_;
    ProbeResult result_;
    std::atomic<bool> found_{false};
};

// One port: its link, and the rates where the register link drew nothing.
class PortProbe {
public:
    PortProbe(ProbeRun& run, QString port, bool pumped)
        : run_(run)
        , port_(std::move(port))
        , session_(run.session(port_, pumped))
    {
    }

    // Asks the question of `link` at `baud` where it is due: the register link's
    // at every rate, the configuration link's where the first drew nothing.
    // False when the probe is over.
    bool step(LinkKind link, qint32 baud)
    {
        if (skipped_ || (link == LinkKind::Config && !silentRates_.contains(baud)))
            return true;
        if (run_.over())
            return false;
        const ProbeTry t = ask(link, baud);
        if (link == LinkKind::Register && t.outcome == ProbeOutcome::Silent)
            silentRates_.append(baud);
        run_.record(t);
        return true;
    }

private:
    ProbeTry ask(LinkKind link, qint32 baud)
    {
        ProbeTry t;
        t.port = port_;
        t.baud = baud;
        t.link = link;
        SerialLink& line = session_->link;
        PortOpenError error;
        if (!line.openPort(PortDeviceName(port_), baud, &error)) {
            t.outcome = error.kind == PortOpenError::Kind::Busy ? ProbeOutcome::Busy : ProbeOutcome::Unavailable;
            t.detail = PortOpenErrorText(error);
            // A rate the port refuses says nothing about the others.
            skipped_ = error.kind != PortOpenError::Kind::LineSettings && error.kind != PortOpenError::Kind::BadBaud;
            return t;
        }
        const auto start = line.clock().now();
        LinkError verdict = LinkError::None;
        if (link == LinkKind::Register) {
            verdict = RegReadWord(line, session_->frame, BuildRegRequest(session_->frame, reg::kLogCount),
                                  session_->replies)
                          .error;
            t.elapsed = line.clock().now() - start;
            if (verdict == LinkError::None) {
                const auto number = RegReadLong(line, session_->frame, BuildRegRequest(session_->frame, reg::kIdent),
                                                session_->replies);
                if (number.ok())
                    t.deviceNumber = number.value;
            }
        } else {
            ConfigFrame frame{};
            const auto trace = session_->trace();
            const std::size_t length = BuildConfigFrame(cfg::kStatusQuery, frame, nullptr, 0, 0, trace);
            verdict = ConfigTransact(line, trace, frame, length, statusReplyCheck);
            t.elapsed = line.clock().now() - start;
        }
        line.close();
        t.outcome = outcomeOf(verdict);
        if (t.outcome != ProbeOutcome::Answered && t.outcome != ProbeOutcome::Silent)
            t.detail = LinkErrorText(verdict);
        skipped_ = t.outcome == ProbeOutcome::Unavailable;
        return t;
    }

    ProbeRun& run_;
    QString port_;
    std::unique_ptr<Session> session_;
    QList<qint32> silentRates_;
    bool skipped_ = false;
};

} // namespace

QList<qint32> ProbeRates(qint32 settingsRate)
{
    QList<qint32> rates{9600, 19200, 38400, 57600, 115200};
    if (settingsRate > 0) {
        rates.removeAll(settingsRate);
        rates.prepend(settingsRate);
    }
    return rates;
}

QStringList ProbePorts()
{
    QStringList ports;
    for (const PortEntry& entry : ListSerialPorts())
        ports.append(entry.path);
    return ports;
}

LinkTiming ProbeTiming(std::chrono::milliseconds wait)
{
    LinkTiming timing;
    timing.firstBytePause = std::chrono::milliseconds{0};
    timing.firstByteWait = wait;
    timing.firstByteTries = 1;
    return timing;
}

QString ProbeOutcomeName(ProbeOutcome outcome)
{
    switch (outcome) {
    case ProbeOutcome::Answered:
        return QStringLiteral("answered");
    case ProbeOutcome::Silent:
        return QStringLiteral("silent");
    case ProbeOutcome::Garbled:
        return QStringLiteral("garbled");
    case ProbeOutcome::Busy:
        return QStringLiteral("busy");
    case ProbeOutcome::Unavailable:
        break;
    }
    return QStringLiteral("unavailable");
}

ProbeResult FindController(const ProbeRequest& request, const ProbeHooks& hooks)
{
    ProbeRun run(request, hooks);
    if (request.parallel && request.ports.size() > 1) {
        // QThreads, not bare threads: the serial port wants an event dispatcher
        // in its thread, even though its waits never run one.
        std::vector<std::unique_ptr<QThread>> threads;
        for (const QString& port : request.ports) {
            threads.emplace_back(QThread::create([&run, &request, port] {
                PortProbe probe(run, port, false);
                for (const LinkKind link : {LinkKind::Register, LinkKind::Config})
                    for (const qint32 baud : request.rates)
                        if (!probe.step(link, baud))
                            return;
            }));
            threads.back()->start();
        }
        for (auto& thread : threads)
            thread->wait();
        return run.result();
    }
    std::vector<std::unique_ptr<PortProbe>> probes;
    for (const QString& port : request.ports)
        probes.push_back(std::make_unique<PortProbe>(run, port, true));
    // Rate by rate, so that the likeliest rate (given first) is tried on every
    // port before the next.
    for (const LinkKind link : {LinkKind::Register, LinkKind::Config})
        for (const qint32 baud : request.rates)
            for (auto& probe : probes)
                if (!probe->step(link, baud))
                    return run.result();
    return run.result();
}

} // namespace tessavin
