// The serial link: checksum, port names, and the rules of the reply reader at
// the system's own timings on a virtual clock (201 first-byte rounds, the idle
// gap, buffer bounds, purge, a port that vanishes); the frame log and its JSON
// Lines file; and the real port on a pseudo-terminal.
#include "protocol/checksum.h"
#include "serial/frame_log.h"
#include "util/integer_text.h"
#include "serial/qt_serial_port.h"
#include "serial/system_port.h"
#include "serial/serial_link.h"
#include "tests/support/test_support.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cmath>
#include <thread>

Q_DECLARE_METATYPE(tessavin::PortOpenError::Kind)

using namespace tessavin;
using tessavin::test::hex;
using namespace std::chrono_literals;

namespace {

// A link on an in-memory far end, the system's timings, its marks collected.
struct Line {
    test::MemoryLink m;
    QString marks;
    Line()
    {
        m.session.link.setActivity([this](const char* mark) { marks += QLatin1String(mark); });
    }
    SerialLink& link() { return m.session.link; }
    std::chrono::milliseconds now() const { return m.clock->now(); }
    SerialLink::Received receive(std::uint8_t* buf, std::size_t capacity)
    {
        return link().receiveReply(LinkKind::Register, buf, capacity);
    }
};

QByteArray bytes(const std::uint8_t* buf, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(buf), static_cast<qsizetype>(n));
}

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
            QVERIFY(!ChecksumMatches(reinterpret_cast<std::uint8_t*>(broken.data()),
                                     static_cast<std::size_t>(bytes.size())));
        }
        QCOMPARE(FrameChecksum(reinterpret_cast<const std::uint8_t*>("123456789"), 9), std::uint16_t(0x4B37));
    }

    void portNames_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("device");
#ifdef Q_OS_WIN
        QTest::newRow("12") << "12"
                            << "COM12";
#else
        QTest::newRow("1 is ttyS0") << "1"
                                    << "/dev/ttyS0";
        QTest::newRow("12") << "12"
                            << "/dev/ttyS11";
#endif
        QTest::newRow("ttyUSB0") << "ttyUSB0"
                                 << "ttyUSB0";
        QTest::newRow("path") << "/dev/pts/4"
                              << "/dev/pts/4";
        QTest::newRow("empty") << ""
                               << "";
    }
    void portNames()
    {
        QFETCH(QString, field);
        QFETCH(QString, device);
        QCOMPARE(PortDeviceName(field), device);
    }

    // One integer reader, two sets of rules: the window's fields (the defaults)
    // and tessavin-sim's numbers (0 to 255, hexadecimal, blanks after).
    void integerTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("field"); // -1: refused
        QTest::addColumn<QString>("simNumber"); // the value, or the message
        const QString range = QStringLiteral(" (expected 0 to 255)");
        QTest::newRow("' 12'") << " 12" << 12 << "12";
        QTest::newRow("'12 '") << "12 " << -1 << "12";
        QTest::newRow("'0x1A'") << "0x1A" << -1 << "26";
        QTest::newRow("'010'") << "010" << 10 << "10";
        QTest::newRow("'300'") << "300" << 300 << "300 is out of range" + range;
        QTest::newRow("'2147483648'") << "2147483648" << -1 << "2147483648 is out of range" + range;
        QTest::newRow("' x'") << " x" << -1 << "'x' is not a number" + range;
    }
    void integerTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, field);
        QFETCH(QString, simNumber);
        QCOMPARE(ParseInteger(text).value_or(-1), field);
        QString error;
        const auto value = ParseInteger(text, {.min = 0, .max = 255, .hexadecimal = true, .blanksAfter = true}, &error);
        QCOMPARE(value ? QString::number(*value) : error, simNumber);
    }

    // A silent far end: 201 rounds of a 10 ms pause and a 55 ms wait, 13,065 ms,
    // nothing stored, the Activity label untouched, "no reply" logged.
    void silenceTakes201RoundsOf65ms()
    {
        Line line;
        std::uint8_t buf[16] = {};
        const auto got = line.receive(buf, sizeof buf);
        QCOMPARE(got.count, std::size_t(0));
        QCOMPARE(got.error, LinkError::NoReply);
        QCOMPARE(line.link().lastFirstByteRounds(), 201);
        QCOMPARE(line.now(), 13065ms);
        QVERIFY(line.marks.isEmpty());
        QCOMPARE(line.m.records.size(), std::size_t(1));
        QCOMPARE(line.m.records[0].verdict, LinkError::NoReply);

        // A first byte in the last round is still taken.
        Line late;
        late.m.port->arrive(hex("01"), 13064ms);
        QCOMPARE(late.receive(buf, sizeof buf).count, std::size_t(1));
        QCOMPARE(late.link().lastFirstByteRounds(), 201);
    }

    // A reply ends at the first silence longer than the 60 ms idle gap; what
    // follows the pause is thrown away by the next send's purge.
    void replyEndsAtTheIdleGap_data()
    {
        QTest::addColumn<int>("pause");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("end"); // ms: 60 ms after the reply's last byte
        QTest::newRow("59 ms: one reply") << 59 << hex("01 02 03 04") << 20 + 59 + 60;
        QTest::newRow("60 ms: one reply") << 60 << hex("01 02 03 04") << 20 + 60 + 60;
        QTest::newRow("61 ms: ends before 04") << 61 << hex("01 02 03") << 20 + 60;
    }
    void replyEndsAtTheIdleGap()
    {
        QFETCH(int, pause);
        QFETCH(QByteArray, reply);
        QFETCH(int, end);
        Line line;
        line.m.port->arrive(hex("01 02 03"), 20ms);
        line.m.port->arrive(hex("04"), 20ms + std::chrono::milliseconds(pause));
        std::uint8_t buf[16] = {};
        const auto got = line.receive(buf, sizeof buf);
        QCOMPARE(bytes(buf, got.count), reply);
        QCOMPARE(line.marks, QStringLiteral(" + "));
        QCOMPARE(line.now(), std::chrono::milliseconds(end));

        line.m.port->script({}, {});
        line.m.clock->advance(100ms);
        const std::uint8_t request[] = {9};
        line.link().sendBytes(LinkKind::Register, request, 1);
        QCOMPARE(line.receive(buf, sizeof buf).count, std::size_t(0)); // the late byte was purged
        QCOMPARE(line.marks, QStringLiteral(" +  . "));
    }

    // What a test does at a moment of virtual time happens at that moment of a
    // wait: bytes sent at 500 ms are a reply that ends 60 ms later.
    void actionsRunAtTheirTimeDuringAWait()
    {
        Line line;
        std::chrono::milliseconds ranAt{-1};
        line.m.clock->at(500ms, [&] {
            ranAt = line.now();
            line.m.port->arrive(hex("01 02"));
        });
        std::uint8_t buf[8] = {};
        QCOMPARE(line.receive(buf, sizeof buf).count, std::size_t(2));
        QCOMPARE(ranAt, 500ms);
        QCOMPARE(line.now(), 560ms);
    }

    // Bytes beyond the buffer are read and dropped; nothing is written past it.
    void oversizeReplyStaysInBuffer()
    {
        Line line;
        line.m.port->arrive(QByteArray(3000, '\x5A'));
        std::array<std::uint8_t, 1100> area{};
        QCOMPARE(line.receive(area.data(), 1000).count, std::size_t(1000));
        QVERIFY(std::all_of(area.begin(), area.begin() + 1000, [](std::uint8_t b) { return b == 0x5A; }));
        QVERIFY(std::all_of(area.begin() + 1000, area.end(), [](std::uint8_t b) { return b == 0; }));
        QCOMPARE(line.receive(area.data(), 1000).count, std::size_t(0)); // the line was drained
    }

    void receiveAnyEndsOnStop()
    {
        Line line;
        int rounds = 0;
        std::uint8_t buf[8] = {};
        QCOMPARE(line.link().receiveAny(LinkKind::Poll, buf, sizeof buf, [&] { return ++rounds > 5; }), std::size_t(0));
        int first = 0;
        line.m.port->arrive(hex("AA 01 02"), 5000ms);
        QCOMPARE(line.link().receiveAny(
                     LinkKind::Poll, buf, sizeof buf, [] { return false; }, [&] { ++first; }),
                 std::size_t(3));
        QCOMPARE(first, 1);
        QVERIFY(line.marks.isEmpty());
        QCOMPARE(line.m.records.back().bytes, hex("AA 01 02"));
        QCOMPARE(line.m.records.back().link, LinkKind::Poll);
    }

    // The port goes away in the middle of a wait: the wait ends at once, the port
    // is closed and reported closed, and later sends and reads do nothing harmful.
    void vanishedPort()
    {
        Line line;
        bool open = true;
        line.link().setOpenChanged([&](bool state) { open = state; });
        line.m.port->vanish(30ms);
        std::uint8_t buf[8] = {};
        QCOMPARE(line.receive(buf, sizeof buf).error, LinkError::PortLost);
        QVERIFY(!open);
        QVERIFY(!line.link().isOpen());
        const std::uint8_t request[] = {1};
        QCOMPARE(line.link().sendBytes(LinkKind::Register, request, 1), LinkError::PortClosed);
        // With no port every read fails at once: 201 rounds of the 10 ms pause alone.
        const auto before = line.now();
        QCOMPARE(line.receive(buf, sizeof buf).error, LinkError::PortClosed);
        QCOMPARE(line.now() - before, 2010ms);
    }

    void frameRecords()
    {
        QDateTime at(QDate(2026, 12, 8), QTime(17, 21, 13, 836), Qt::OffsetFromUTC, 3 * 3600);
        FrameRecord sent{1200ms, at, LinkKind::Register, true, hex("05 64 08 00"), std::nullopt};
        QCOMPARE(
            FrameJsonLine(sent),
            QByteArray(
                R"({"t":"2026-12-08T17:21:13.836+03:00","link":"register","dir":"tx","len":4,"hex":"05 64 08 00"})"));
        FrameRecord silent{
            1200ms, at.toOffsetFromUtc(-5 * 3600 - 1800), LinkKind::Config, false, {}, LinkError::NoReply};
        QCOMPARE(
            FrameJsonLine(silent),
            QByteArray(
                R"({"t":"2026-12-08T08:51:13.836-05:30","link":"config","dir":"rx","len":0,"hex":"","verdict":"no reply"})"));
        FrameRecord poll{0ms, at.toUTC(), LinkKind::Poll, false, hex("aa 01"), LinkError::None};
        QCOMPARE(
            FrameJsonLine(poll),
            QByteArray(
                R"({"t":"2026-12-08T14:21:13.836+00:00","link":"poll","dir":"rx","len":2,"hex":"AA 01","verdict":"ok"})"));
        QCOMPARE(FrameTextLine(poll), QStringLiteral("14:21:13.836 poll rx 2 [ok]: AA 01"));
        FrameRecord trailing{0ms, at.toUTC(), LinkKind::Register, false, hex("a5 5a"), std::nullopt, true};
        QCOMPARE(
            FrameJsonLine(trailing),
            QByteArray(
                R"({"t":"2026-12-08T14:21:13.836+00:00","link":"register","dir":"rx","len":2,"hex":"A5 5A","trailing":true})"));
        QCOMPARE(FrameTextLine(trailing), QStringLiteral("14:21:13.836 register rx 2 [trailing]: A5 5A"));
    }

    // The one JSON writer: control characters as \u00XX, numbers that are not
    // finite (or not JSON's) as null, members in the order added, names repeated.
    void jsonWriter_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("string") << Json::string(QString::fromUtf8("\"\\ a\r\n\t\x01 \xc3\xa9 \xf0\x9f\x98\x80")).text()
                                << QByteArray("\"\\\"\\\\ a\\u000d\\u000a\\u0009\\u0001 \xc3\xa9 \xf0\x9f\x98\x80\"");
        QTest::newRow("1.50 as written") << Json::number(QByteArray("1.50")).text() << QByteArray("1.50");
        QTest::newRow("1e400 as written") << Json::number(QByteArray("1e400")).text() << QByteArray("1e400");
        for (const char* text : {"inf", "nan", "01", " 1", "1.", "-", ""})
            QTest::addRow("text \"%s\"", text) << Json::number(QByteArray(text)).text() << QByteArray("null");
        QTest::newRow("12.5f") << Json::number(12.5f).text() << QByteArray("12.5");
        QTest::newRow("nan") << Json::number(std::nanf("")).text() << QByteArray("null");
        QTest::newRow("-inf") << Json::number(-INFINITY).text() << QByteArray("null");
        QTest::newRow("object") << JsonObject()
                                       .integer("b", 1)
                                       .stringOrNull("a", {})
                                       .integer("b", 2)
                                       .integerOrNull("c", std::nullopt)
                                       .add("d",
                                            JsonArray().add(Json::string("x")).add(JsonArray().json()).add({}).json())
                                       .line()
                                << QByteArray(R"({"b":1,"a":null,"b":2,"c":null,"d":["x",[],null]})"
                                              "\n");
    }
    void jsonWriter()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, expected);
        QCOMPARE(written, expected);
    }

    // Every line is in the file as soon as its frame has passed.
    void jsonLinesFileIsWrittenAsFramesPass()
    {
        QTemporaryDir dir;
        Line line;
        JsonLinesTrace trace;
        QVERIFY(trace.open(dir.filePath("t.jsonl"), line.link().frameLog()));
        line.m.port->script({hex("01 02")});
        const std::uint8_t request[] = {0x05, 0x64};
        line.link().sendBytes(LinkKind::Register, request, 2);
        QCOMPARE(test::readFile(dir.filePath("t.jsonl")).count('\n'), 1);
        std::uint8_t buf[8] = {};
        line.receive(buf, sizeof buf);
        const QList<QByteArray> lines = test::readFile(dir.filePath("t.jsonl")).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].contains(R"("dir":"rx","len":2,"hex":"01 02","verdict":"ok"})"));
        QVERIFY(!trace.open(dir.filePath("no/such/dir/t.jsonl"), line.link().frameLog()));
    }

    // How a port that did not open is told, from what Qt reports and whether this
    // user may read and write the device (Qt's own words follow the user's language).
    void portOpenErrors_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<bool>("mayReadWrite");
        QTest::addColumn<QString>("text");
        const QString dialout = QStringLiteral("permission denied on /dev/ttyUSB0: the user must be in the dialout "
                                               "group (sudo usermod -aG dialout $USER, then log in again)");
        const QString busy = QStringLiteral("/dev/ttyUSB0 is busy: another program has it open");
        QTest::newRow("not found") << QSerialPort::DeviceNotFoundError << false << "no such device /dev/ttyUSB0";
        QTest::newRow("permission, not the user's") << QSerialPort::PermissionError << false << dialout;
        QTest::newRow("permission, the user's: in use") << QSerialPort::PermissionError << true << busy;
        QTest::newRow("already open") << QSerialPort::OpenError << true << busy;
        QTest::newRow("resource") << QSerialPort::ResourceError << true << "/dev/ttyUSB0: Qt's words";
        QTest::newRow("no terminal") << QSerialPort::UnsupportedOperationError << true
                                     << "/dev/ttyUSB0: not a serial port (Qt's words)";
    }
    void portOpenErrors()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(bool, mayReadWrite);
        QFETCH(QString, text);
        const PortOpenError refusal{PortOpenErrorKind(error, mayReadWrite), QStringLiteral("/dev/ttyUSB0"),
                                    QStringLiteral("Qt's words")};
        QCOMPARE(PortOpenErrorText(refusal), text);
    }

    // The same on real devices: one that is not there, a pseudo-terminal this test
    // holds open, and one whose mode lets nobody in (where this process is subject
    // to modes; root is not).
    void portOpenRefusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<PortOpenError::Kind>("kind");
        QTest::newRow("no such device") << "missing" << PortOpenError::Kind::NoSuchDevice;
        QTest::newRow("busy: held open") << "held" << PortOpenError::Kind::Busy;
        QTemporaryFile probe;
        if (probe.open() && probe.setPermissions({}) && !QFileInfo(probe.fileName()).isReadable())
            QTest::newRow("permission denied: mode 000") << "mode 000" << PortOpenError::Kind::PermissionDenied;
    }
    void portOpenRefusals()
    {
        QFETCH(QString, setup);
        QFETCH(PortOpenError::Kind, kind);
        sim::PseudoTerminal pty;
        SKIP_UNLESS_STARTED(pty.open());
        QString device = pty.slavePath();
        Session holder(test::quickTiming(), MakeSystemPort());
        if (setup == QLatin1String("missing"))
            device = QStringLiteral("/dev/no-such-tty");
        else if (setup == QLatin1String("held"))
            QVERIFY(holder.link.openPort(device, 38400));
        else
            QVERIFY(QFile::setPermissions(device, {}));
        Session session(test::quickTiming(), MakeSystemPort());
        PortOpenError error;
        QVERIFY(!session.link.openPort(device, 38400, &error));
        QCOMPARE(error.kind, kind);
        QCOMPARE(error.device, device);
    }

    // The real port on a pseudo-terminal: a request goes out whole, a reply comes
    // back, and a far end that goes away ends the wait with the port closed.
    void realPortOnAPseudoTerminal()
    {
        sim::PseudoTerminal pty;
        SKIP_UNLESS_STARTED(pty.open());
        Session session(test::quickTiming(), MakeSystemPort());
        PortOpenError error;
        QVERIFY2(session.link.openPort(pty.slavePath(), 38400, &error), qPrintable(PortOpenErrorText(error)));
        const QByteArray request = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
        session.link.sendBytes(LinkKind::Register, reinterpret_cast<const std::uint8_t*>(request.constData()), 14);
        QByteArray seen;
        QTRY_COMPARE((seen += pty.read(5ms)), request);
        pty.write(hex("05 64 06 00 42 97 1C 06 23 01 3F 45"));
        std::uint8_t buf[16] = {};
        QCOMPARE(session.link.receiveReply(LinkKind::Register, buf, sizeof buf).count, std::size_t(12));

        std::thread closer([&] {
            std::this_thread::sleep_for(30ms);
            pty.close();
        });
        const LinkError lost = session.link.receiveReply(LinkKind::Register, buf, sizeof buf).error;
        closer.join();
#ifndef Q_OS_LINUX
        if (session.link.isOpen())
            QSKIP("[platform] this system keeps the slave readable after the master closes");
#endif
        QCOMPARE(lost, LinkError::PortLost);
        QVERIFY(!session.link.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
