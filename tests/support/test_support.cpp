#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <QFile>

using namespace std::chrono_literals;

namespace tessavin::test {

LinkTiming quickTiming()
{
    LinkTiming t;
    t.firstBytePause = 1ms;
    t.firstByteWait = 20ms;
    t.firstByteTries = 5;
    t.idleGap = 15ms;
    t.pumpSlice = 5ms;
    return t;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray letters(qsizetype n)
{
    QByteArray bytes(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

QString missingFolderReason()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("missing/x")));
    file.open(QIODevice::WriteOnly);
    return file.errorString();
}

QList<int> range(int from, int to)
{
    QList<int> out;
    for (int i = from; i <= to; ++i)
        out << i;
    return out;
}

QList<int> requestedIndexes(const QList<QByteArray>& frames, std::uint8_t command)
{
    QList<int> out;
    for (const QByteArray& f : frames)
        if (f.size() == 14 && static_cast<std::uint8_t>(f[6]) == command)
            out << (static_cast<std::uint8_t>(f[8]) | (static_cast<std::uint8_t>(f[9]) << 8));
    return out;
}

MemoryLink::MemoryLink(LinkTiming timing) : session(timing, port, clock)
{
    session.link.openPort(QStringLiteral("memory"), 38400);
    session.link.frameLog().attachNotes([this](LinkKind, const QString& line) { trace << line; });
    session.link.frameLog().attach([this](const FrameRecord& record) { records.push_back(record); });
}

QList<QByteArray> receivedFrames(const sim::ControllerThread& sim)
{
    QList<QByteArray> out;
    for (const sim::LoggedFrame& frame : sim.frames())
        if (frame.direction == sim::Direction::Received)
            out << frame.bytes;
    return out;
}

void addFault(sim::ControllerThread& sim, sim::FaultKind kind, sim::FaultTarget target, int times, int bytes)
{
    sim.withController([&](sim::Controller& c) { c.addFault({kind, target, times, bytes, -1ms}); });
}

bool pseudoTerminalsExist()
{
    sim::PseudoTerminal pty;
    return pty.open();
}

} // namespace tessavin::test
