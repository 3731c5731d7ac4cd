// The configuration link's frames, its transaction and the device control
// commands, against a pseudo-terminal peer that answers with hand-written bytes.
#include "config_commands.h"
#include "config_link.h"
#include "pseudo_terminal.h"
#include "session.h"

#include <QTest>

using namespace tessavin;
using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

QByteArray bytesOf(const ConfigFrame& frame, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n));
}

LinkTiming quick()
{
    LinkTiming t;
    t.firstBytePause = 1ms;
    t.firstByteWait = 5ms;
    t.firstByteTries = 4;
    t.idleGap = 15ms;
    return t;
}

// The controller's side of the line, answered from inside the link's waits (its
// pump), so that every exchange runs on the test's one thread. Each complete
// configuration frame takes the next scripted reply; an empty reply is silence.
struct ScriptedPeer {
    sim::PseudoTerminal pty;
    QByteArray pending;
    QList<QByteArray> replies;
    QList<QByteArray> requests;

    static qsizetype frameLength(const QByteArray& bytes)
    {
        if (bytes.size() < 10)
            return 0;
        const qsizetype n = bytes[5] == cfg::kFunctionCommand ? 12 : 12 + static_cast<std::uint8_t>(bytes[9]);
        return bytes.size() >= n ? n : 0;
    }

    void pump()
    {
        pending += pty.read(0ms);
        while (const qsizetype n = frameLength(pending)) {
            requests << pending.left(n);
            pending.remove(0, n);
            const QByteArray reply = replies.isEmpty() ? QByteArray() : replies.takeFirst();
            if (!reply.isEmpty())
                pty.write(reply);
        }
    }
};

struct Link {
    ScriptedPeer peer;
    Session session;
    QStringList trace;

    explicit Link(LinkTiming timing = quick()) : session(timing)
    {
        session.trace = [this](const QString& line) { trace << line; };
        session.link.setPump([this] { peer.pump(); });
    }
    bool open() { return peer.pty.open() && session.link.OpenPort(peer.pty.slavePath(), 38400); }
};

#define OPEN_OR_SKIP(link)                                            \
    do {                                                              \
        if (!(link).open())                                           \
            QSKIP("no pseudo-terminal can be had here");              \
    } while (false)

} // namespace

class TestConfigLink : public QObject {
    Q_OBJECT
private slots:
    void commandFrame_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("37 status") << 0x37 << hex("05 64 03 0B 01 06 00 00 00 37 C8 1C");
        QTest::newRow("63 reboot") << 0x63 << hex("05 64 03 0B 01 06 00 00 00 63 C9 E3");
        QTest::newRow("3D upload") << 0x3D << hex("05 64 03 0B 01 06 00 00 00 3D 48 1B");
        QTest::newRow("15 START") << 0x15 << hex("05 64 03 0B 01 06 00 00 00 15 48 05");
        QTest::newRow("18 test upload") << 0x18 << hex("05 64 03 0B 01 06 00 00 00 18 89 C0");
        QTest::newRow("17 STOP") << 0x17 << hex("05 64 03 0B 01 06 00 00 00 17 C9 C4");
    }
    void commandFrame()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, frame);
        QStringList trace;
        const ConfigTrace sink = [&](const QString& line) { trace << line; };
        const std::uint8_t unused[3] = {0xAA, 0xBB, 0xCC};
        for (auto build : {&BuildConfigFrame, &BuildConfigReadFrame}) {
            ConfigFrame buffer;
            buffer.fill(0xEE);
            // Data and address are not used when the count is 0.
            QCOMPARE(build(static_cast<std::uint8_t>(code), buffer, unused, 0, 0x1234, sink), std::size_t(12));
            QCOMPARE(bytesOf(buffer, 12), frame);
            QCOMPARE(buffer[12], std::uint8_t(0xEE));
        }
        QVERIFY(trace.isEmpty());
    }

    void dataFrame_data()
    {
        QTest::addColumn<bool>("readFrame");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("traceLine");
        QTest::newRow("write AA BB at 0102") << false << hex("AA BB") << 0x0102
                                             << hex("05 64 03 0B 01 10 01 02 00 02 AA BB 77 04")
                                             << "Comm ->(10) 01 10 01 02 00 02 AA BB 77 04 ";
        QTest::newRow("read AA BB at 0102") << true << hex("AA BB") << 0x0102
                                            << hex("05 64 03 0B 01 11 01 02 00 02 AA BB 67 C4")
                                            << "Comm ->(10) 011101020002AABB67C4";
        QTest::newRow("chunk request at 0") << true << hex("00") << 0
                                            << hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")
                                            << "Comm ->(9) 011100000001000911";
    }
    void dataFrame()
    {
        QFETCH(bool, readFrame);
        QFETCH(QByteArray, data);
        QFETCH(int, address);
        QFETCH(QByteArray, frame);
        QFETCH(QString, traceLine);
        QStringList trace;
        ConfigFrame buffer{};
        const auto build = readFrame ? &BuildConfigReadFrame : &BuildConfigFrame;
        const std::size_t n = build(0x37, buffer, reinterpret_cast<const std::uint8_t*>(data.constData()),
                                    static_cast<std::size_t>(data.size()), static_cast<std::uint16_t>(address),
                                    [&](const QString& line) { trace << line; });
        QCOMPARE(n, static_cast<std::size_t>(frame.size()));
        QCOMPARE(bytesOf(buffer, n), frame);
        QCOMPARE(trace, QStringList{traceLine});
    }

    void dataFrameBounds()
    {
        QStringList trace;
        const ConfigTrace sink = [&](const QString& line) { trace << line; };
        QByteArray data(256, '\x5A');
        ConfigFrame buffer{};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
        // The count is one byte: 256 data bytes are refused and nothing is built.
        QCOMPARE(BuildConfigFrame(0, buffer, bytes, 256, 0, sink), std::size_t(0));
        QCOMPARE(buffer[0], std::uint8_t(0));
        QVERIFY(trace.isEmpty());
        QCOMPARE(BuildConfigReadFrame(0, buffer, bytes, 255, 0xFFFF, sink), std::size_t(267));
        QCOMPARE(bytesOf(buffer, 10), hex("05 64 03 0B 01 11 FF FF 00 FF"));
        QCOMPARE(trace.size(), 1);
        QVERIFY(trace.first().startsWith(QLatin1String("Comm ->(263) 0111FFFF00FF5A5A")));
        QCOMPARE(trace.first().size(), 13 + 263 * 2);
    }

    void transaction_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("readLine");
        QTest::addColumn<int>("byte2");
        QTest::newRow("01 00") << hex("01 00") << true << "bool Send, ReadBuf=2 1 0" << 0;
        QTest::newRow("00 00 05") << hex("00 00 05") << false << "bool Send, ReadBuf=3 0 0" << 5;
        QTest::newRow("00 01") << hex("00 01") << true << "bool Send, ReadBuf=2 0 1" << 0;
        QTest::newRow("01 alone") << hex("01") << false << "bool Send, ReadBuf=1 1 0" << 0;
        QTest::newRow("01 02 03 with checksum") << hex("01 02 03 41 42 43 11 22") << true
                                                << "bool Send, ReadBuf=8 1 2" << 3;
        QTest::newRow("silence") << QByteArray() << false << "bool Send, ReadBuf=0 0 0" << 0;
    }
    void transaction()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        QFETCH(QString, readLine);
        QFETCH(int, byte2);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.replies << reply;
        ConfigFrame frame{};
        const std::size_t length = BuildConfigFrame(cfg::kStatusQuery, frame, nullptr, 0, 0, link.session.trace);
        QCOMPARE(ConfigTransact(link.session.link, link.session.trace, frame, length), valid);
        QCOMPARE(link.peer.requests, QList<QByteArray>{hex("05 64 03 0B 01 06 00 00 00 37 C8 1C")});
        QCOMPARE(link.trace, (QStringList{"bool Send =12", "05 64 03 0B 01 06 00 00 00 37 C8 1C ", readLine}));
        // Bytes 0 to 3 were zeroed before the reply came: a short reply leaves zeros.
        QCOMPARE(int(frame[2]), byte2);
        if (reply.isEmpty())
            QCOMPARE(link.session.link.lastFirstByteRounds(), quick().firstByteTries);
    }

    void transactionLongReply()
    {
        Link link;
        OPEN_OR_SKIP(link);
        QByteArray reply = hex("01 00 FF") + QByteArray(1200 - 3, '\x33');
        link.peer.replies << reply;
        ConfigFrame frame{};
        const std::uint8_t data[40] = {};
        const std::size_t length = BuildConfigFrame(0, frame, data, 40, 0x0028, link.session.trace);
        QVERIFY(ConfigTransact(link.session.link, link.session.trace, frame, length));
        // The reply is kept within the 1008-byte buffer; the rest is dropped.
        QCOMPARE(link.trace.last(), QStringLiteral("bool Send, ReadBuf=1008 1 0"));
        QCOMPARE(link.trace.at(1), QStringLiteral("bool Send =52"));
        QCOMPARE(link.trace.at(2).size(), 52 * 3);
        QCOMPARE(link.peer.requests.size(), 1);
        QCOMPARE(link.peer.requests.first().size(), 52);
        QCOMPARE(frame[1007], std::uint8_t(0x33));
    }

    void statusQuery_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("00 00") << hex("00 00 00 00 00") << -1 << "      NOT OK = -1";
        QTest::newRow("01 00") << hex("01 00 00 4F 11") << 0 << "       OK";
        QTest::newRow("01 01") << hex("01 01 00 8E D1") << 1 << "   NOT OK = bad json";
        QTest::newRow("01 02") << hex("01 02 00 CE D0") << 2 << "   NOT OK = no memory";
        QTest::newRow("01 03") << hex("01 03 00 0F 10") << 3 << "   NOT OK = no file";
        QTest::newRow("01 07") << hex("01 07 00 0E D3") << 7 << "   NOT OK = ";
        QTest::newRow("01 FF") << hex("01 FF") << 255 << "   NOT OK = ";
        QTest::newRow("silence") << QByteArray() << -1 << "      NOT OK = -1";
    }
    void statusQuery()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(QString, message);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.replies << reply;
        QCOMPARE(StatusQuery(link.session), status);
        QCOMPARE(StatusQueryMessage(status), message);
        QCOMPARE(link.peer.requests, QList<QByteArray>{hex("05 64 03 0B 01 06 00 00 00 37 C8 1C")});
        QCOMPARE(link.trace.size(), 3);
    }

    void oneFrameCommands_data()
    {
        QTest::addColumn<bool>("reboot");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("result");
        QTest::newRow("set test, 01 00") << false << hex("01 00") << true;
        QTest::newRow("set test, 01 05 (any result code)") << false << hex("01 05 00") << true;
        QTest::newRow("set test, silence") << false << QByteArray() << false;
        QTest::newRow("reboot, 01 00") << true << hex("01 00") << true;
        QTest::newRow("reboot, 00 00") << true << hex("00 00") << false;
    }
    void oneFrameCommands()
    {
        QFETCH(bool, reboot);
        QFETCH(QByteArray, reply);
        QFETCH(bool, result);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.replies << reply;
        QCOMPARE(reboot ? RebootController(link.session) : SetTestMode(link.session), result);
        const QByteArray frame = reboot ? hex("05 64 03 0B 01 06 00 00 00 63 C9 E3")
                                        : hex("05 64 03 0B 01 06 00 00 00 36 09 DC");
        QCOMPARE(link.peer.requests, QList<QByteArray>{frame});
        QVERIFY(link.session.link.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestConfigLink)
#include "tst_config_link.moc"
