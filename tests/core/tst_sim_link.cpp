// The system's own serial link, with its default timing, against the emulated
// controller: what a faulty reply turns into on the reading side.
#include "controller_thread.h"
#include "register_link.h"
#include "serial_link.h"

#include <QTest>

using namespace tessavin;
using namespace tessavin::sim;
using namespace std::chrono_literals;

class TestSimLink : public QObject {
    Q_OBJECT

private slots:
    void wordReadUnderFaults_data()
    {
        QTest::addColumn<int>("fault"); // -1: none
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("clean reply") << -1 << -1 << 150;
        QTest::newRow("trailing garbage") << int(FaultKind::TrailingGarbage) << -1 << 150;
        QTest::newRow("slow turnaround") << int(FaultKind::SlowTurnaround) << -1 << 150;
        QTest::newRow("split after 6 bytes, pause over the idle gap") << int(FaultKind::Split) << 6 << 0;
        QTest::newRow("bad header checksum") << int(FaultKind::BadHeaderChecksum) << -1 << 0;
        QTest::newRow("bad body checksum") << int(FaultKind::BadBodyChecksum) << -1 << 0;
        QTest::newRow("truncated to 9") << int(FaultKind::Truncated) << 9 << 0;
        QTest::newRow("1200-byte reply") << int(FaultKind::Oversized) << -1 << 0;
        QTest::newRow("silence") << int(FaultKind::Silence) << -1 << 0;
    }

    void wordReadUnderFaults()
    {
        QFETCH(int, fault);
        QFETCH(int, bytes);
        QFETCH(int, expected);
        ControllerThread sim;
        QString error;
        if (!sim.start(&error))
            QSKIP(qPrintable(error));
        if (fault >= 0)
            sim.withController([&](Controller& c) { c.addFault({FaultKind(fault), FaultTarget::registerCommand(0x1C), 1, bytes, -1ms}); });

        LinkTiming timing; // the system's values, except the wait for a reply that never comes
        if (fault == int(FaultKind::Silence))
            timing.firstByteTries = 3;
        SerialLink link(timing);
        QVERIFY2(link.OpenPort(sim.slavePath(), 38400, &error), qPrintable(error));
        FrameBuffer frame{};
        QCOMPARE(int(RegReadWord(link, frame, BuildRegRequest(frame, reg::kLogCount))), expected);

        // Once the controller has finished its reply, whatever of it is left on the
        // line is purged by the next request, which reads clean.
        if (fault != int(FaultKind::Silence))
            QVERIFY(sim.waitFor([](const auto& log) { return log.size() >= 2 && log[1].lastByte > log[1].firstByte; }, 5s));
        QCOMPARE(int(RegReadWord(link, frame, BuildRegRequest(frame, reg::kLogCapacity))), 2000);
    }
};

QTEST_GUILESS_MAIN(TestSimLink)
#include "tst_sim_link.moc"
