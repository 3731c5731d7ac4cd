#include "cli/cli_output.h"

#include <QDate>
#include <QFile>
#include <QTime>

#include <cmath>
#include <cstdio>
#include <cstring>

// The console is the one thing here that differs between systems.
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tessavin::cli {

namespace {

// "2024-01-02T03:04:05" for a real date and time; empty otherwise.
QString isoStamp(int year, int month, int day, int hour, int minute, int second)
{
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(QStringLiteral("HH:mm:ss"));
}

QString offsetText(long long seconds)
{
    const long long magnitude = seconds < 0 ? -seconds : seconds;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(magnitude / 3600, 2, 10, QLatin1Char('0'))
        .arg(magnitude / 60 % 60, 2, 10, QLatin1Char('0'));
}

// The controller's own reading of a dated record; empty for an undated one.
QString deviceTime(const ArchiveRecord& r)
{
    if (r.yearByte == 0)
        return {};
    return isoStamp(2000 + r.yearByte, r.month, r.day, r.hour, r.minute, r.second);
}

// The time as shown, with the offset it was moved by; empty for an undated record.
QString shownTime(const ArchiveLine& line, long long utcOffsetSeconds)
{
    if (line.record.yearByte == 0)
        return {};
    const RecordStamp& s = line.stamp;
    const QString stamp = isoStamp(s.year, s.month, s.day, s.hour, s.minute, s.second);
    return stamp.isEmpty() ? stamp : stamp + offsetText(utcOffsetSeconds);
}

} // namespace

#ifdef Q_OS_WIN
static bool isTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }
void WriteStdoutAsBytes() { _setmode(_fileno(stdout), _O_BINARY); }
#else
static bool isTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }
void WriteStdoutAsBytes() { }
#endif

bool StderrIsTerminal() { return isTerminal(stderr); }

bool StdoutIsTerminal() { return isTerminal(stdout); }

bool Output::open(const QString& path, QString* error)
{
    path_ = path == QLatin1String("-") ? QString() : path;
    if (path_.isEmpty())
        return true;
    // A trial open: appending to an existing file changes nothing, a new one goes again.
    QFile probe(path_);
    const bool existed = probe.exists();
    if (!probe.open(existed ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly)) {
        *error = probe.errorString();
        return false;
    }
    probe.close();
    if (!existed)
        probe.remove();
    return true;
}

bool Output::resume(const QString& path, qint64 keep, QString* error)
{
    if (!open(path, error))
        return false;
    resumeAfter_ = keep;
    return true;
}

bool Output::write(const QByteArray& bytes)
{
    if (toFile() && !written_) {
        written_ = true;
        if (!(resumeAfter_ ? file_.resume(path_, *resumeAfter_) : file_.create(path_)))
            return false;
    }
    written_ = true;
    if (toFile())
        return file_.write(bytes);
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout)
        == static_cast<std::size_t>(bytes.size());
    return std::fflush(stdout) == 0 && written;
}

bool Output::finish() { return !toFile() || written_ || write({}); }

QString Output::errorString() const
{
    return toFile() ? file_.errorString() : QStringLiteral("cannot write to stdout");
}

QByteArray Output::textLine(const QByteArray& fileLine) const
{
    if (toFile() || !fileLine.endsWith("\r\n"))
        return fileLine;
    return fileLine.left(fileLine.size() - 2) + '\n';
}

QByteArray LogRecordRaw(const LogLine& line) { return line.record.toHex(); }

QByteArray ArchiveRecordRaw(const ArchiveLine& line)
{
    const ArchiveRecord& r = line.record;
    QByteArray bytes;
    bytes.append(static_cast<char>(r.yearByte));
    for (std::uint8_t b : {r.month, r.day, r.hour, r.minute, r.second})
        bytes.append(static_cast<char>(b));
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof r.value);
    std::memcpy(&bits, &r.value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        bytes.append(static_cast<char>((bits >> (8 * i)) & 0xFF));
    return bytes.toHex();
}

QByteArray LogRecordJson(const LogLine& line)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.record.constData());
    const auto n = static_cast<std::size_t>(line.record.size());
    const RecordStamp s = LogRecordStamp(bytes, n);
    return JsonObject()
        .integer("index", line.index)
        .string("marker", n > 0 ? QString(QLatin1Char(line.record.at(0))) : QString())
        .stringOrNull("time", isoStamp(s.year, s.month, s.day, s.hour, s.minute, s.second))
        .string("text", LogMemoText(line))
        .string("raw", QString::fromLatin1(LogRecordRaw(line)))
        .line();
}

QByteArray ArchiveRecordJson(const ArchiveLine& line, long long utcOffsetSeconds)
{
    return JsonObject()
        .integer("index", line.index)
        .stringOrNull("device_time", deviceTime(line.record))
        .stringOrNull("time", shownTime(line, utcOffsetSeconds))
        .number("value", line.record.value)
        .string("raw", QString::fromLatin1(ArchiveRecordRaw(line)))
        .line();
}

QByteArray ArchiveCsvHeader() { return "index,device_time,time,value,raw\n"; }

QByteArray ArchiveRecordCsv(const ArchiveLine& line, long long utcOffsetSeconds)
{
    const float v = line.record.value;
    QByteArray value = ShortestFloatText(v);
    if (value.isEmpty())
        value = std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
    return QByteArray::number(line.index) + ',' + deviceTime(line.record).toLatin1() + ','
        + shownTime(line, utcOffsetSeconds).toLatin1() + ',' + value + ',' + ArchiveRecordRaw(line) + '\n';
}

void ProgressLine::update(int done, int total)
{
    if (!shown_)
        return;
    const qint64 now = timer_.elapsed();
    // A few redraws a second are enough; the last one always shows.
    if (now - lastDrawn_ < 200 && done < total)
        return;
    lastDrawn_ = now;
    const double seconds = static_cast<double>(now) / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0.0;
    QString text = QStringLiteral("%1/%2 %3").arg(done).arg(total).arg(unit_);
    if (rate > 0) {
        text += QStringLiteral("  %1/s").arg(rate, 0, 'f', 1);
        text += QStringLiteral("  %1 s left").arg(static_cast<long long>(std::ceil((total - done) / rate)));
    }
    const qsizetype previous = width_;
    width_ = text.size();
    if (previous > text.size())
        text += QString(previous - text.size(), QLatin1Char(' '));
    std::fprintf(stderr, "\r%s", qPrintable(text));
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::finish()
{
    if (!drawn_)
        return;
    std::fprintf(stderr, "\r%s\r", qPrintable(QString(width_, QLatin1Char(' '))));
    std::fflush(stderr);
    drawn_ = false;
}

} // namespace tessavin::cli
