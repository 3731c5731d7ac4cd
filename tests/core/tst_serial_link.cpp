// The serial link against a pseudo-terminal peer: checksum, port names, the
// first-byte and idle rules of the reply reader, buffer bounds, purge, and a
// port that vanishes.
#include "checksum.h"
#include "serial_link.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QTest>

#include <thread>

using namespace tessavin;
using tessavin::test::hex;
using namespace std::chrono_literals;

namespace {

struct Peer {
    sim::PseudoTerminal pty;
    SerialLink link;
    QString marks;
    explicit Peer(LinkTiming timing = test::quickTiming()) : link(timing)
    {
        link.setActivity([this](const char* mark) { marks += QLatin1String(mark); });
    }
    bool open() { return pty.open() && link.OpenPort(pty.slavePath(), 38400); }
};

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("123456789") << QByteArray("123456789") << hex("37 4B");
        QTest::newRow("05 64") << hex("05 64") << hex("03 0B");
        QTest::newRow("count request body") << hex("1C 06 00 00 00 00") << hex("8A 47");
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, stored);
        QByteArray frame = bytes + QByteArray(2, '\0');
        auto* data = reinterpret_cast<std::uint8_t*>(frame.data());
        AppendChecksum(data, static_cast<std::size_t>(bytes.size()));
        QCOMPARE(frame.right(2), stored);
        QVERIFY(ChecksumMatches(data, static_cast<std::size_t>(bytes.size())));
        for (int i : {0, 1}) {
            QByteArray broken = frame;
            broken[bytes.size() + i] = static_cast<char>(broken[bytes.size() + i] ^ 0x01);
            QVERIFY(!ChecksumMatches(reinterpret_cast<std::uint8_t*>(broken.data()), static_cast<std::size_t>(bytes.size())));
        }
        QCOMPARE(FrameChecksum(reinterpret_cast<const std::uint8_t*>("123456789"), 9), std::uint16_t(0x4B37));
    }

    void portNames_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("device");
#ifdef Q_OS_WIN
        QTest::newRow("12") << "12" << "COM12";
#else
        QTest::newRow("1 is ttyS0") << "1" << "/dev/ttyS0";
        QTest::newRow("12") << "12" << "/dev/ttyS11";
#endif
        QTest::newRow("ttyUSB0") << "ttyUSB0" << "ttyUSB0";
        QTest::newRow("path") << "/dev/pts/4" << "/dev/pts/4";
        QTest::newRow("empty") << "" << "";
    }
    void portNames()
    {
        QFETCH(QString, field);
        QFETCH(QString, device);
        QCOMPARE(PortDeviceName(field), device);
    }

    // A silent peer with the system's own timing: 201 first-byte rounds, about
    // 13 seconds, nothing stored and the Activity label untouched.
    void silentPeerDefaultTiming()
    {
        Peer peer(LinkTiming{});
        SKIP_UNLESS_STARTED(peer.open());
        std::uint8_t buf[16] = {};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(peer.link.ReceiveReply(buf, sizeof buf), std::size_t(0));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(peer.link.lastFirstByteRounds(), 201);
        QVERIFY2(elapsed >= 201 * 65 - 50, qPrintable(QString::number(elapsed)));
        QVERIFY(peer.marks.isEmpty());
    }

    // A reply ends at the first silence longer than the idle gap; what follows
    // the pause is thrown away by the next send's purge. Default idle gap.
    void replyEndsAtIdleGap()
    {
        LinkTiming timing;
        timing.firstByteTries = 50;
        Peer peer(timing);
        SKIP_UNLESS_STARTED(peer.open());
        std::thread writer([&] {
            std::this_thread::sleep_for(20ms);
            peer.pty.write(hex("01 02 03"));
            std::this_thread::sleep_for(30ms); // shorter than the gap: same reply
            peer.pty.write(hex("04"));
            std::this_thread::sleep_for(200ms); // longer than the gap
            peer.pty.write(hex("AA BB"));
        });
        std::uint8_t buf[16] = {};
        const std::size_t got = peer.link.ReceiveReply(buf, sizeof buf);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), static_cast<qsizetype>(got)), hex("01 02 03 04"));
        QCOMPARE(peer.marks, QStringLiteral(" + "));
        writer.join();
        QTest::qWait(20);
        const std::uint8_t request[] = {9};
        peer.link.SendBytes(request, 1);
        peer.link.setTiming(test::quickTiming());
        QCOMPARE(peer.link.ReceiveReply(buf, sizeof buf), std::size_t(0));
        QCOMPARE(peer.marks, QStringLiteral(" +  . "));
    }

    // Bytes beyond the buffer are read and dropped; nothing is written past it.
    void oversizeReplyStaysInBuffer()
    {
        Peer peer;
        SKIP_UNLESS_STARTED(peer.open());
        peer.pty.write(QByteArray(3000, '\x5A'));
        std::array<std::uint8_t, 1100> area{};
        const std::size_t got = peer.link.ReceiveReply(area.data(), 1000);
        QCOMPARE(got, std::size_t(1000));
        QVERIFY(std::all_of(area.begin(), area.begin() + 1000, [](std::uint8_t b) { return b == 0x5A; }));
        QVERIFY(std::all_of(area.begin() + 1000, area.end(), [](std::uint8_t b) { return b == 0; }));
        // The line was drained: nothing of the oversize reply is left over.
        QCOMPARE(peer.link.ReceiveReply(area.data(), 1000), std::size_t(0));
    }

    void receiveAnyEndsOnStop()
    {
        Peer peer;
        SKIP_UNLESS_STARTED(peer.open());
        int rounds = 0;
        std::uint8_t buf[8] = {};
        QCOMPARE(peer.link.ReceiveAny(buf, sizeof buf, [&] { return ++rounds > 5; }), std::size_t(0));
        int first = 0;
        peer.pty.write(hex("AA 01 02"));
        QCOMPARE(peer.link.ReceiveAny(buf, sizeof buf, [] { return false; }, [&] { ++first; }), std::size_t(3));
        QCOMPARE(first, 1);
        QVERIFY(peer.marks.isEmpty());
    }

    // The peer goes away in the middle of a wait: the read fails, the port is
    // closed and reported closed, and later sends and reads do nothing harmful.
    void vanishedPort()
    {
        Peer peer;
        SKIP_UNLESS_STARTED(peer.open());
        bool open = true;
        peer.link.setOpenChanged([&](bool state) { open = state; });
        std::thread closer([&] {
            std::this_thread::sleep_for(30ms);
            peer.pty.close();
        });
        std::uint8_t buf[8] = {};
        peer.link.ReceiveReply(buf, sizeof buf);
        closer.join();
        const std::uint8_t request[] = {1};
        QVERIFY(peer.link.SendBytes(request, 1));
        QCOMPARE(peer.link.ReceiveReply(buf, sizeof buf), std::size_t(0));
        if (peer.link.isOpen())
            QSKIP("this system keeps the slave readable after the master closes");
        QVERIFY(!open);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
