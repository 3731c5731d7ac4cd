// Configuration transfer without the window: uploads and downloads against a
// pseudo-terminal peer answering with hand-written bytes, configuration files,
// and the text's way between bytes and the memo.
#include "config_link.h"
#include "config_text.h"
#include "config_transfer.h"
#include "pseudo_terminal.h"
#include "session.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tessavin;
using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// The hexadecimal trace line of a whole frame.
QString hexLine(const QByteArray& frame) { return QString::fromLatin1(frame.toHex(' ').toUpper()) + QLatin1Char(' '); }

// A reply of the controller: unit 01, result 00, the chunk's length and bytes,
// and two checksum bytes (which the link does not look at).
QByteArray chunkReply(const QByteArray& chunk)
{
    return hex("01 00") + char(chunk.size()) + chunk + hex("5A A5");
}

LinkTiming quick()
{
    LinkTiming t;
    t.firstBytePause = 1ms;
    t.firstByteWait = 5ms;
    t.firstByteTries = 4;
    t.idleGap = 5ms;
    return t;
}

// The controller's side of the line, answered from inside the link's waits (its
// pump), so that every exchange runs on the test's one thread. Each complete
// configuration frame takes the next scripted reply; an empty reply is silence,
// and once the script runs out `lastReply` answers every frame.
struct ScriptedPeer {
    sim::PseudoTerminal pty;
    QByteArray pending;
    QList<QByteArray> replies;
    QByteArray lastReply;
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
            const QByteArray reply = replies.isEmpty() ? lastReply : replies.takeFirst();
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

QByteArray text(qsizetype n, char first = 'a')
{
    QByteArray bytes(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(first + i % 26);
    return bytes;
}

// The trace of one transaction: the three lines of the link.
QStringList transaction(const QByteArray& frame, const QByteArray& reply)
{
    const auto byte = [&](int i) { return i < reply.size() ? static_cast<std::uint8_t>(reply[i]) : 0; };
    return {QStringLiteral("bool Send =%1").arg(frame.size()), hexLine(frame),
            QStringLiteral("bool Send, ReadBuf=%1 %2 %3").arg(reply.size()).arg(byte(0)).arg(byte(1))};
}

const QByteArray kUploadCommand = hex("05 64 03 0B 01 06 00 00 00 3D 48 1B");
const QByteArray kStart = hex("05 64 03 0B 01 06 00 00 00 15 48 05");
const QByteArray kStop = hex("05 64 03 0B 01 06 00 00 00 17 C9 C4");
const QByteArray kCommandOk = hex("01 00 00 4F 11");

} // namespace

class TestConfigTransfer : public QObject {
    Q_OBJECT
private slots:
    void upload100_100_37()
    {
        Link link;
        OPEN_OR_SKIP(link);
        const QByteArray config = text(237);
        const QList<QByteArray> chunks{config.left(100), config.mid(100, 100), config.mid(200), {}};
        link.peer.replies << kCommandOk;
        for (const QByteArray& chunk : chunks)
            link.peer.replies << chunkReply(chunk);

        const ConfigUploadResult result = ConfigUpload(link.session, cfg::kUploadConfig);
        QCOMPARE(result.length, 237);
        QVERIFY(!result.tooLarge);
        QCOMPARE(TransferText(link.session.transfer), config);

        const QList<QByteArray> chunkRequests{hex("05 64 03 0B 01 11 00 00 00 01 00 09 11"),
                                              hex("05 64 03 0B 01 11 00 64 00 01 00 16 21"),
                                              hex("05 64 03 0B 01 11 00 C8 00 01 00 37 71"),
                                              hex("05 64 03 0B 01 11 00 ED 00 01 00 3C 7D")};
        QCOMPARE(link.peer.requests, QList<QByteArray>{kUploadCommand} + chunkRequests);

        QStringList expected = transaction(kUploadCommand, kCommandOk);
        const int totals[] = {100, 200, 237};
        for (int i = 0; i < 4; ++i) {
            expected << QStringLiteral("Comm ->(9) ") + QString::fromLatin1(chunkRequests[i].mid(4).toHex().toUpper());
            expected += transaction(chunkRequests[i], chunkReply(chunks[i]));
            if (i < 3)
                expected << QStringLiteral("Upload ->(%1) ").arg(totals[i]) << QStringLiteral("UP_NEXT ->(17) ");
        }
        QCOMPARE(link.trace, expected);
    }

    void uploadEnds_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("requests");
        const QByteArray chunk = text(30);
        QTest::newRow("two-byte reply 01 00 ends it") << QList<QByteArray>{kCommandOk, chunkReply(chunk), hex("01 00")} << 30 << 3;
        QTest::newRow("first chunk empty") << QList<QByteArray>{kCommandOk, chunkReply({})} << 0 << 2;
        QTest::newRow("command silent") << QList<QByteArray>{QByteArray()} << 0 << 1;
        QTest::newRow("command answered 00 00 05") << QList<QByteArray>{hex("00 00 05")} << 0 << 1;
        QTest::newRow("second chunk silent") << QList<QByteArray>{kCommandOk, chunkReply(chunk), QByteArray()} << 0 << 3;
        QTest::newRow("second chunk one byte") << QList<QByteArray>{kCommandOk, chunkReply(chunk), hex("01")} << 0 << 3;
    }
    void uploadEnds()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, length);
        QFETCH(int, requests);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.replies = replies;
        QCOMPARE(ConfigUpload(link.session, cfg::kUploadTestConfig).length, length);
        QCOMPARE(link.peer.requests.size(), requests);
        QCOMPARE(link.peer.requests.first(), hex("05 64 03 0B 01 06 00 00 00 18 89 C0"));
    }

    void uploadCapacity_data()
    {
        QTest::addColumn<int>("lastChunk");
        QTest::addColumn<int>("length");
        // 196 chunks of 255 bytes hold 49,980; the text and its zero need 50,000 at most.
        QTest::newRow("49,999 bytes fit") << 19 << 49999;
        QTest::newRow("50,000 bytes do not") << 20 << 0;
        QTest::newRow("controller never ends") << 255 << 0;
    }
    void uploadCapacity()
    {
        QFETCH(int, lastChunk);
        QFETCH(int, length);
        Link link;
        OPEN_OR_SKIP(link);
        const QByteArray chunk = text(255, 'A');
        link.peer.replies << kCommandOk;
        for (int i = 0; i < 196; ++i)
            link.peer.replies << chunkReply(chunk);
        link.peer.replies << chunkReply(text(lastChunk, 'A'));
        link.peer.lastReply = lastChunk == 255 ? chunkReply(chunk) : chunkReply({});

        const ConfigUploadResult result = ConfigUpload(link.session, cfg::kUploadConfig);
        QCOMPARE(result.length, length);
        QCOMPARE(result.tooLarge, length == 0);
        const auto& bytes = link.session.transfer.bytes;
        QCOMPARE(bytes[kTransferBufferSize - 1], std::uint8_t(0));
        if (length == 0) {
            // The chunk that did not fit was not copied, and the upload asked for no more.
            QCOMPARE(bytes[49980], std::uint8_t(0));
            QCOMPARE(link.peer.requests.size(), 1 + 197);
            QCOMPARE(link.trace.last(), QStringLiteral("Upload ->(%1) does not fit 49999 bytes").arg(49980 + lastChunk));
        } else {
            QCOMPARE(TransferText(link.session.transfer).size(), 49999);
        }
    }

    void download_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QByteArray>>("dataFrames");
        const QByteArray bytes = QByteArray("0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWX");
        QTest::newRow("40 bytes") << bytes.left(40)
                                  << QList<QByteArray>{hex("05 64 03 0B 01 10 00 00 00 28") + bytes.left(40) + hex("26 26")};
        QTest::newRow("41 bytes") << bytes
                                  << QList<QByteArray>{hex("05 64 03 0B 01 10 00 00 00 28") + bytes.left(40) + hex("26 26"),
                                                       hex("05 64 03 0B 01 10 00 28 00 01 58 00 9A")};
    }
    void download()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QByteArray>, dataFrames);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.lastReply = kCommandOk;
        QVERIFY(ConfigDownload(link.session, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())));
        QCOMPARE(link.peer.requests, QList<QByteArray>{kStart} + dataFrames + QList<QByteArray>{kStop});

        QStringList expected = transaction(kStart, kCommandOk);
        expected << "Command START Send ok";
        int address = 0;
        for (const QByteArray& frame : dataFrames) {
            const int n = frame.size() - 12;
            expected << QStringLiteral("DOWN_NEXT   adr=%1 n=%2").arg(address).arg(n)
                     << QStringLiteral("Comm ->(%1) ").arg(n + 8) + hexLine(frame.mid(4))
                     << QStringLiteral("Command NEXT Send length = %1").arg(n + 12);
            expected += transaction(frame, kCommandOk);
            expected << "Command NEXT Send ok";
            address += n;
        }
        expected += transaction(kStop, kCommandOk);
        expected << "Command STOP Send ok!!!";
        QCOMPARE(link.trace, expected);
    }

    void downloadFails_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("lastLine");
        const QByteArray ok = kCommandOk;
        QTest::newRow("START silent") << QList<QByteArray>{{}} << 1 << "Command START Send not ok";
        QTest::newRow("first NEXT 00 00") << QList<QByteArray>{ok, hex("00 00")} << 2 << "Command NEXT Send not ok";
        QTest::newRow("second NEXT silent, no STOP") << QList<QByteArray>{ok, ok, {}} << 3 << "Command NEXT Send not ok";
        QTest::newRow("STOP silent") << QList<QByteArray>{ok, ok, ok, {}} << 4 << "Command STOP Send not ok";
    }
    void downloadFails()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, requests);
        QFETCH(QString, lastLine);
        Link link;
        OPEN_OR_SKIP(link);
        link.peer.replies = replies;
        const QByteArray bytes = text(41);
        QVERIFY(!ConfigDownload(link.session, reinterpret_cast<const std::uint8_t*>(bytes.constData()), 41));
        QCOMPARE(link.peer.requests.size(), requests);
        QCOMPARE(link.trace.last(), lastLine);
        if (requests < 4)
            QVERIFY(!link.peer.requests.contains(kStop));
    }

    void downloadNothing()
    {
        Link link;
        OPEN_OR_SKIP(link);
        const std::uint8_t byte = 'x';
        QVERIFY(!ConfigDownload(link.session, &byte, 0));
        // A text that would not fit the Transfer buffer is not sent either.
        const QByteArray big(50000, 'x');
        QVERIFY(!ConfigDownload(link.session, reinterpret_cast<const std::uint8_t*>(big.constData()), 50000));
        link.session.link.pause(20ms);
        QVERIFY(link.peer.requests.isEmpty());
        QVERIFY(link.peer.pending.isEmpty());
        QVERIFY(link.trace.isEmpty());
    }

    void readConfigFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("transferText");
        QTest::newRow("missing: created empty") << QByteArray() << int(ConfigFileOutcome::Empty) << QByteArray("before");
        QTest::newRow("empty") << QByteArray("") << int(ConfigFileOutcome::Empty) << QByteArray("before");
        QTest::newRow("json") << QByteArray("{\"a\": 1}\n") << int(ConfigFileOutcome::Read) << QByteArray("{\"a\": 1}\n");
        QTest::newRow("zero byte inside") << QByteArray("{\"a\"\0: 1}", 9) << int(ConfigFileOutcome::Read) << QByteArray("{\"a\"");
        QTest::newRow("49,999 bytes") << text(49999) << int(ConfigFileOutcome::Read) << text(49999);
        QTest::newRow("50,000 bytes") << text(50000) << int(ConfigFileOutcome::TooLarge) << QByteArray("before");
    }
    void readConfigFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, outcome);
        QFETCH(QByteArray, transferText);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.json"));
        const bool missing = QByteArray(QTest::currentDataTag()).startsWith("missing");
        if (!missing) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        TransferBuffer transfer;
        QVERIFY(PutTransferText(transfer, "before"));
        transfer.length = 6;
        const ConfigFileResult result = ReadConfigFile(path, transfer);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(TransferText(transfer), transferText);
        QCOMPARE(transfer.length, outcome == int(ConfigFileOutcome::Read) ? content.size() : 6);
        // The file is never changed, and a missing one now exists, empty.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void writeConfigFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.json"));
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(text(500));
        }
        TransferBuffer transfer;
        QVERIFY(WriteConfigFile(path, "ab\r\ncd", transfer));
        QCOMPARE(transfer.length, 6);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("ab\r\ncd"));
        QVERIFY(!WriteConfigFile(dir.filePath(QStringLiteral("no/such/dir/c.json")), "x", transfer));
    }

    void textRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("shown");
        const int utf8 = int(TextEncoding::Utf8);
        const int cp1251 = int(TextEncoding::Windows1251);
        QTest::newRow("LF only") << QByteArray("{\n \"a\": 1\n}\n") << QByteArray("{\r\n \"a\": 1\r\n}\r\n") << utf8
                                 << QString("{\n \"a\": 1\n}\n");
        QTest::newRow("CR alone and CR LF") << QByteArray("a\rb\r\nc") << QByteArray("a\r\nb\r\nc") << utf8
                                            << QString("a\rb\r\nc");
        QTest::newRow("UTF-8 Cyrillic") << QByteArray("\"имя\": \"датчик\"\r\n") << QByteArray("\"имя\": \"датчик\"\r\n")
                                        << utf8 << QString::fromUtf8("\"имя\": \"датчик\"\r\n");
        QTest::newRow("UTF-8 with byte order mark") << QByteArray("\xEF\xBB\xBF{}") << QByteArray("\xEF\xBB\xBF{}") << utf8
                                                    << QString(QChar(0xFEFF)) + "{}";
        QTest::newRow("Windows-1251 Cyrillic") << QByteArray("\"\xE8\xEC\xFF\": 1\n") << QByteArray("\"\xE8\xEC\xFF\": 1\r\n")
                                               << cp1251 << QString::fromUtf8("\"имя\": 1\n");
        QTest::newRow("Windows-1251 no-break space and 0x98") << QByteArray("\xA0\x98\xB9") << QByteArray("\xA0\x98\xB9")
                                                              << cp1251 << QString::fromUtf8("\u00A0\u0098№");
    }
    void textRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, saved);
        QFETCH(int, encoding);
        QFETCH(QString, shown);
        const DecodedConfigText decoded = DecodeConfigText(bytes);
        QCOMPARE(int(decoded.encoding), encoding);
        QCOMPARE(decoded.text, shown);
        QCOMPARE(EncodeConfigText(decoded.text, decoded.encoding), saved);
        // The memo separates its lines with U+2029; they are written as CR LF too.
        QString memo = decoded.text;
        memo.replace(QLatin1String("\r\n"), QString(QChar::ParagraphSeparator)).replace(QLatin1Char('\n'), QChar::ParagraphSeparator)
            .replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
        QCOMPARE(EncodeConfigText(memo, decoded.encoding), saved);
    }
};

QTEST_GUILESS_MAIN(TestConfigTransfer)
#include "tst_config_transfer.moc"
