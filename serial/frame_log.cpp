#include "serial/frame_log.h"

#include <QLoggingCategory>

#include <algorithm>

#include <utility>

namespace tessavin {

namespace {

Q_LOGGING_CATEGORY(lcConfig, "tessavin.link.config", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRegister, "tessavin.link.register", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPoll, "tessavin.link.poll", QtInfoMsg)

const QLoggingCategory& category(LinkKind link)
{
    switch (link) {
    case LinkKind::Config:
        return lcConfig();
    case LinkKind::Poll:
        return lcPoll();
    case LinkKind::Register:
        break;
    }
    return lcRegister();
}

} // namespace

const char* LinkKindName(LinkKind link)
{
    switch (link) {
    case LinkKind::Config:
        return "config";
    case LinkKind::Poll:
        return "poll";
    case LinkKind::Register:
        break;
    }
    return "register";
}

FrameLog::FrameLog(std::shared_ptr<Clock> clock)
    : clock_(std::move(clock))
    , wallClock_([] { return QDateTime::currentDateTime(); })
{
}

int FrameLog::attach(FrameSink sink)
{
    frameSinks_.emplace_back(nextId_, std::move(sink));
    return nextId_++;
}

int FrameLog::attachNotes(NoteSink sink)
{
    noteSinks_.emplace_back(nextId_, std::move(sink));
    return nextId_++;
}

void FrameLog::detach(int id)
{
    const auto same = [id](const auto& entry) { return entry.first == id; };
    frameSinks_.erase(std::remove_if(frameSinks_.begin(), frameSinks_.end(), same), frameSinks_.end());
    noteSinks_.erase(std::remove_if(noteSinks_.begin(), noteSinks_.end(), same), noteSinks_.end());
}

void FrameLog::publish(FrameRecord record)
{
    if (frameSinks_.empty())
        return;
    record.ms = clock_ ? clock_->now() : Clock::ms{0};
    record.time = wallClock_();
    // A sink may attach or detach others; work on a copy.
    const auto sinks = frameSinks_;
    for (const auto& [id, sink] : sinks)
        sink(record);
}

void FrameLog::sent(LinkKind link, const QByteArray& bytes)
{
    FrameRecord record{Clock::ms{0}, {}, link, true, bytes, std::nullopt, false};
    record.retry = std::exchange(pendingRetry_, 0);
    publish(std::move(record));
}

void FrameLog::received(LinkKind link, const QByteArray& bytes, LinkError verdict)
{
    publish({Clock::ms{0}, {}, link, false, bytes, verdict, false});
}

void FrameLog::trailing(LinkKind link, const QByteArray& bytes)
{
    publish({Clock::ms{0}, {}, link, false, bytes, std::nullopt, true});
}

void FrameLog::note(LinkKind link, const QString& line)
{
    const auto sinks = noteSinks_;
    for (const auto& [id, sink] : sinks)
        sink(link, line);
}

QString IsoLocalTime(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int magnitude = offset < 0 ? -offset : offset;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(magnitude / 3600, 2, 10, QLatin1Char('0'))
              .arg(magnitude / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString FrameHex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QByteArray FrameJsonLine(const FrameRecord& record)
{
    JsonObject line;
    line.string("t", IsoLocalTime(record.time))
        .string("link", QLatin1String(LinkKindName(record.link)))
        .string("dir", record.sent ? QStringLiteral("tx") : QStringLiteral("rx"))
        .integer("len", record.bytes.size())
        .string("hex", FrameHex(record.bytes));
    if (record.verdict)
        line.string("verdict", LinkErrorText(*record.verdict));
    if (record.trailing)
        line.boolean("trailing", true);
    if (record.retry > 0)
        line.integer("retry", record.retry);
    return line.json().text();
}

QString FrameTextLine(const FrameRecord& record)
{
    QString line = record.time.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
        + QLatin1String(LinkKindName(record.link)) + (record.sent ? QStringLiteral(" tx ") : QStringLiteral(" rx "))
        + QString::number(record.bytes.size());
    if (record.verdict)
        line += QStringLiteral(" [%1]").arg(LinkErrorText(*record.verdict));
    if (record.trailing)
        line += QStringLiteral(" [trailing]");
    if (record.retry > 0)
        line += QStringLiteral(" [retry %1]").arg(record.retry);
    if (!record.bytes.isEmpty())
        line += QStringLiteral(": ") + FrameHex(record.bytes);
    return line;
}

void LogFramesToCategories(FrameLog& log)
{
    log.attach([](const FrameRecord& record) {
        const QLoggingCategory& c = category(record.link);
        if (!c.isDebugEnabled())
            return;
        QString text = record.sent ? QStringLiteral("tx %1 bytes").arg(record.bytes.size())
            : record.trailing      ? QStringLiteral("rx %1 bytes [trailing]").arg(record.bytes.size())
                                   : QStringLiteral("rx %1 bytes [%2]")
                                    .arg(record.bytes.size())
                                    .arg(LinkErrorText(record.verdict.value_or(LinkError::None)));
        if (record.retry > 0)
            text += QStringLiteral(" [retry %1]").arg(record.retry);
        qCDebug(c).noquote() << text;
        // 16 bytes a row, offset first, as a hex dump reads.
        for (qsizetype at = 0; at < record.bytes.size(); at += 16)
            qCDebug(c).noquote()
                << QStringLiteral("  %1  %2").arg(at, 4, 16, QLatin1Char('0')).arg(FrameHex(record.bytes.mid(at, 16)));
    });
}

JsonLinesTrace::~JsonLinesTrace() { close(); }

bool JsonLinesTrace::open(const QString& path, FrameLog& log, QString* error)
{
    close();
    file_.setFileName(path);
    // Unbuffered: each line goes to the system as it is written.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = file_.errorString();
        return false;
    }
    healthy_ = true;
    log_ = &log;
    id_ = log.attach([this](const FrameRecord& record) {
        if (!file_.isOpen())
            return;
        const QByteArray line = FrameJsonLine(record) + '\n';
        if (file_.write(line) != line.size())
            healthy_ = false;
    });
    return true;
}

void JsonLinesTrace::close()
{
    if (log_) {
        log_->detach(id_);
        log_ = nullptr;
    }
    if (file_.isOpen())
        file_.close();
}

} // namespace tessavin
