// The emulated controller on a pseudo-terminal, driven by a plain QSerialPort
// client, and by the system's own serial link with its default timing (what a
// faulty reply turns into on the reading side).
#include "sim/controller_thread.h"
#include "features/probe.h"
#include "serial/system_port.h"
#include "protocol/register_link.h"
#include "serial/serial_link.h"
#include "sim/sim_options.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTest>

#include <chrono>
#include <thread>

using namespace tessavin;
using namespace tessavin::sim;
using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }
QByteArray spaced(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }

const QByteArray kCountRequest = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
const QByteArray kIdentRequest = hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7");
const QByteArray kStatusRequest = hex("05 64 03 0B 01 06 00 00 00 37 C8 1C");
const QByteArray kIdentReply = hex("05 64 08 00 46 F7 2C 06 D2 04 00 00 F7 0E");

// Reads until `n` bytes came or `timeout` passed; returns what came.
QByteArray readBytes(QSerialPort& port, qsizetype n, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (out.size() < n && t.elapsed() < timeoutMs) {
        if (port.bytesAvailable() == 0
            && !port.waitForReadyRead(static_cast<int>(std::max<qint64>(1, timeoutMs - t.elapsed()))))
            continue;
        out += port.read(n - out.size());
    }
    return out;
}

void send(QSerialPort& port, const QByteArray& bytes)
{
    port.write(bytes);
    port.waitForBytesWritten(1000);
}

} // namespace

class TestSimPty : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        ControllerSettings settings;
        settings.logRecords = 291;
        sim_ = std::make_unique<ControllerThread>(settings);
        QString error;
        const bool started = sim_->start(&error);
        if (!started && !test::pseudoTerminalsExist())
            QSKIP(qPrintable(QStringLiteral("[pty] ") + error));
        QVERIFY2(started, qPrintable(error));
    }

    void cleanup() { sim_.reset(); }

    // Two requests sent back to back are taken by their lengths alone (the framing
    // gap is long) and answered in turn; the log holds each frame whole, in order.
    void requestsAreFramedByLengthAndLogged()
    {
        QSerialPort port;
        QVERIFY2(openClient(port), qPrintable(port.errorString()));
        sim_->setLineSettings({0, 2000ms, 0ms, 100ms});
        const QByteArray countReply = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        send(port, kCountRequest + kStatusRequest);
        QCOMPARE(spaced(readBytes(port, 12 + 5, 3000)), spaced(countReply + hex("01 00 00 20 00")));
        QVERIFY(sim_->waitForFrames(4, 3s));
        const auto log = sim_->frames();
        QCOMPARE(log.size(), std::size_t(4));
        QCOMPARE(log[0].direction, Direction::Received);
        QVERIFY(log[0].kind.is(LinkKind::Register));
        QCOMPARE(spaced(log[0].bytes), spaced(kCountRequest));
        QCOMPARE(log[1].direction, Direction::Sent);
        QCOMPARE(spaced(log[1].bytes), spaced(countReply));
        QVERIFY(log[0].lastByte <= log[1].firstByte);
        QVERIFY(log[2].kind.is(LinkKind::Config));
        QCOMPARE(spaced(log[2].bytes), spaced(kStatusRequest));
    }

    void unknownBytesEndAtTheFramingGapUnanswered()
    {
        QSerialPort port;
        QVERIFY2(openClient(port), qPrintable(port.errorString()));
        send(port, hex("13 37 42"));
        QVERIFY(sim_->waitForFrames(1, 3s));
        send(port, kIdentRequest);
        QCOMPARE(spaced(readBytes(port, 14, 3000)), spaced(kIdentReply)); // nothing came before it
        const auto log = sim_->frames();
        QCOMPARE(spaced(log[0].bytes), spaced(hex("13 37 42")));
        QCOMPARE(log[0].note, QByteArray("unrecognised bytes"));
        QCOMPARE(log[1].direction, Direction::Received);
    }

    // The link's count read when the reply meets each fault; afterwards whatever
    // was left of it on the line is purged by the next request, which reads clean.
    void linkReadsUnderFaults_data()
    {
        QTest::addColumn<int>("fault"); // -1: none
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("clean reply") << -1 << -1 << 291;
        QTest::newRow("trailing garbage") << int(FaultKind::TrailingGarbage) << -1 << 291;
        QTest::newRow("slow turnaround, 300 ms") << int(FaultKind::SlowTurnaround) << -1 << 291;
        QTest::newRow("split after 6 bytes, pause over the idle gap") << int(FaultKind::Split) << 6 << 0;
        QTest::newRow("bad header checksum") << int(FaultKind::BadHeaderChecksum) << -1 << 0;
        QTest::newRow("bad body checksum") << int(FaultKind::BadBodyChecksum) << -1 << 0;
        QTest::newRow("truncated to 9") << int(FaultKind::Truncated) << 9 << 0;
        QTest::newRow("1200-byte reply") << int(FaultKind::Oversized) << -1 << 0;
        QTest::newRow("silence") << int(FaultKind::Silence) << -1 << 0;
    }

    void linkReadsUnderFaults()
    {
        QFETCH(int, fault);
        QFETCH(int, bytes);
        QFETCH(int, expected);
        if (fault >= 0)
            sim_->withController([&](Controller& c) {
                c.addFault({FaultKind(fault), FaultTarget::registerCommand(0x1C), 1, bytes, 300ms});
            });
        LinkTiming timing; // the system's values, except the wait for a reply that never comes
        if (fault == int(FaultKind::Silence))
            timing.firstByteTries = 3;
        SerialLink link(timing, MakeSystemPort());
        QVERIFY(link.openPort(sim_->slavePath(), 38400));
        FrameBuffer frame{};
        QElapsedTimer t;
        t.start();
        QCOMPARE(int(RegReadWord(link, frame, BuildRegRequest(frame, reg::kLogCount)).value), expected);
        if (fault == int(FaultKind::SlowTurnaround))
            QVERIFY(t.elapsed() >= 300);
        if (fault != int(FaultKind::Silence))
            QVERIFY(sim_->waitFor([](const auto& log) { return log.size() >= 2 && log[1].lastByte > log[1].firstByte; },
                                  5s));
        QCOMPARE(int(RegReadWord(link, frame, BuildRegRequest(frame, reg::kLogCapacity)).value), 2000);
    }

    // A paced reply comes whole once the request and the reply have had their
    // time on the line (614 bytes at 19200 baud, 320 ms): never before, and never
    // with a gap inside it that a slow emulator thread could stretch past the idle gap.
    void repliesArePacedAtTheBaudRate()
    {
        QSerialPort port;
        QVERIFY2(openClient(port), qPrintable(port.errorString()));
        sim_->setLineSettings({19200, 8ms, 0ms, 100ms});
        sim_->withController([](Controller& c) {
            c.addFault({FaultKind::Oversized, FaultTarget::any(), 1, 600, -1ms});
        });
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        send(port, kIdentRequest);
        QByteArray first = readBytes(port, 1, 5000);
        QVERIFY(sinceRequest.elapsed() >= 614 * 10'000 / 19200);
        QElapsedTimer rest;
        rest.start();
        QCOMPARE((first + readBytes(port, 599, 5000)).size(), 600);
        QVERIFY(rest.elapsed() < 60);
        QVERIFY(
            sim_->waitFor([](const auto& log) { return log.size() >= 2 && log[1].lastByte > log[1].firstByte; }, 3s));
        const auto sent = sim_->frames()[1];
        // 599 byte times at 10 bits a byte after the first byte left.
        QVERIFY(sent.lastByte - sent.firstByte >= std::chrono::microseconds(599 * 10'000'000LL / 19200));
    }

    void reopeningTheSlaveKeepsTheControllerServing()
    {
        {
            QSerialPort port;
            QVERIFY2(openClient(port), qPrintable(port.errorString()));
            send(port, kIdentRequest);
            QCOMPARE(readBytes(port, 14, 3000).size(), 14);
        }
        QSerialPort again;
        QVERIFY2(openClient(again), qPrintable(again.errorString()));
        send(again, kIdentRequest);
        QCOMPARE(spaced(readBytes(again, 14, 3000)), spaced(kIdentReply));
    }

    void scheduledPollsRepeat()
    {
        QSerialPort port;
        QVERIFY2(openClient(port), qPrintable(port.errorString()));
        PollSpec report;
        report.address = 5;
        report.function = 10;
        sim_->setPollSchedule({report}, 20ms, 1s);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(readBytes(port, 36, 3000).size(), 36);
            send(port, hex("55 05 06 83 43 E8"));
        }
        QVERIFY(sim_->waitForPollResults(3, 3s));
        sim_->setPollSchedule({}, 0ms);
        for (const auto& r : sim_->pollResults())
            QVERIFY(r.ok() || r.answer.isEmpty());
        QVERIFY(sim_->pollResults()[0].ok());
    }

    void requestDuringAPollIsServed()
    {
        QSerialPort port;
        QVERIFY2(openClient(port), qPrintable(port.errorString()));
        PollSpec date;
        PollResult result;
        std::thread poller([&] { result = sim_->sendPoll(date, 10s); });
        QCOMPARE(readBytes(port, 8, 3000).size(), 8);
        send(port, kIdentRequest); // the application was not answering polls
        QCOMPARE(spaced(readBytes(port, 14, 3000)), spaced(kIdentReply));
        poller.join();
        QVERIFY(result.interrupted);
        QVERIFY(result.answer.isEmpty());
        QVERIFY(!result.ok());
    }

    void peerIsSeenOpeningAndClosing()
    {
        PseudoTerminal pty;
        QString error;
        QVERIFY2(pty.open(&error), qPrintable(error));
        {
            QSerialPort port(pty.slavePath());
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            QVERIFY(pty.peerOpen());
            // Bytes written while the peer reads them arrive; the write returns.
            QVERIFY(pty.write("abc"));
            QCOMPARE(readBytes(port, 3, 3000), QByteArray("abc"));
        }
        QVERIFY(!pty.peerOpen());
    }

    // The probe against the controller at one rate: other rates draw garbage or
    // silence, a port that cannot be had is skipped, and only the three read-only
    // questions reach the line. Rows: the controller's line, the rates tried, the
    // tries as "<port> <baud> <link> <outcome> [device number]".
    void probeFindsTheControllerAtItsRate_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("mismatch");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<qint32>>("rates");
        QTest::addColumn<bool>("held");
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QStringList>("tries");
        const QStringList found{"none 9600 register unavailable", "sim 9600 register garbled",
                                "sim 19200 register answered 1234"};
        QTest::newRow("garbage at 9600, answer at 19200")
            << 19200 << "garbage"
            << "" << QList<qint32>{9600, 19200, 38400} << false << false << found;
        QTest::newRow("the same in parallel") << 19200 << "garbage"
                                              << "" << QList<qint32>{9600, 19200, 38400} << false << true << found;
        QTest::newRow("silent at wrong rates: none")
            << 19200 << "silent"
            << "" << QList<qint32>{9600, 38400} << false << false
            << QStringList{"none 9600 register unavailable", "sim 9600 register silent", "sim 38400 register silent",
                           "sim 9600 config silent", "sim 38400 config silent"};
        QTest::newRow("register link silent: status query")
            << 38400 << "garbage"
            << "silence:reg=0x1C" << QList<qint32>{38400} << false << false
            << QStringList{"none 38400 register unavailable", "sim 38400 register silent", "sim 38400 config answered"};
        QTest::newRow("busy port skipped") << 38400 << "garbage"
                                           << "" << QList<qint32>{38400, 9600} << true << false
                                           << QStringList{"none 38400 register unavailable", "sim 38400 register busy"};
    }

    void probeFindsTheControllerAtItsRate()
    {
        QFETCH(int, baud);
        QFETCH(QString, mismatch);
        QFETCH(QString, fault);
        QFETCH(QList<qint32>, rates);
        QFETCH(bool, held);
        QFETCH(bool, parallel);
        QFETCH(QStringList, tries);
        LineSettings line;
        line.baud = baud;
        line.mismatch = *ParseRateMismatch(mismatch);
        sim_->setLineSettings(line);
        if (!fault.isEmpty())
            sim_->withController([&](Controller& c) { c.addFault(*ParseFault(fault)); });
        QSerialPort holder;
        if (held)
            QVERIFY2(openClient(holder), qPrintable(holder.errorString()));

        ProbeRequest request;
        request.ports = QStringList{"/dev/tessavin-none", sim_->slavePath()};
        request.rates = rates;
        request.parallel = parallel;
        const ProbeResult result = FindController(request);

        QStringList seen;
        for (const ProbeTry& t : result.tries)
            seen << QStringLiteral("%1 %2 %3 %4%5")
                        .arg(t.port == sim_->slavePath() ? "sim" : "none")
                        .arg(t.baud)
                        .arg(t.link == LinkKind::Register ? "register" : "config", ProbeOutcomeName(t.outcome),
                             t.deviceNumber ? QStringLiteral(" %1").arg(*t.deviceNumber) : QString());
        QCOMPARE(result.found.has_value(), tries.constLast().contains("answered"));
        if (parallel) { // the ports' tries interleave
            seen.sort();
            tries.sort();
        }
        QCOMPARE(seen, tries);
        for (const LoggedFrame& f : sim_->frames())
            if (f.direction == Direction::Received)
                QVERIFY2(f.bytes == kCountRequest || f.bytes == kIdentRequest || f.bytes == kStatusRequest,
                         spaced(f.bytes).constData());
    }

private:
    bool openClient(QSerialPort& port)
    {
        port.setPortName(sim_->slavePath());
        port.setBaudRate(38400);
        if (!port.open(QIODevice::ReadWrite))
            return false;
        port.clear();
        return true;
    }
    std::unique_ptr<ControllerThread> sim_;
};

QTEST_GUILESS_MAIN(TestSimPty)
#include "tst_sim_pty.moc"
