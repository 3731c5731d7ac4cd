// The configuration link without the window: data frames and their trace lines,
// the transaction's verdicts, and how uploads and downloads end, against an
// in-memory far end that answers with hand-written bytes. The command frames
// and the whole traffic of good transfers are checked in the window tests.
#include "protocol/checksum.h"
#include "features/config/config_commands.h"
#include "protocol/config_link.h"
#include "features/config/config_transfer.h"
#include "features/session.h"
#include "tests/support/test_support.h"

#include <QTest>

using namespace tessavin;
using tessavin::test::hex;
using tessavin::test::letters;
using namespace std::chrono_literals;

namespace {

QByteArray bytesOf(const ConfigFrame& frame, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n));
}

// A reply of a controller that sends no checksum: unit 01, result 00, the
// chunk's length and bytes, and two bytes that are not its checksum.
QByteArray chunkReply(const QByteArray& chunk) { return hex("01 00") + char(chunk.size()) + chunk + hex("5A A5"); }

// The same with its checksum, as the controller sends it; `spoilt`: a bit of the
// data flipped on the way.
QByteArray checked(const QByteArray& reply, bool spoilt = false)
{
    QByteArray out = reply + QByteArray(2, '\0');
    AppendChecksum(reinterpret_cast<std::uint8_t*>(out.data()), static_cast<std::size_t>(reply.size()));
    if (spoilt)
        out[reply.size() - 1] = char(out[reply.size() - 1] ^ 0x01);
    return out;
}
QByteArray checkedChunk(const QByteArray& chunk, bool spoilt = false)
{
    return checked(hex("01 00") + char(chunk.size()) + chunk, spoilt);
}

// A session on an in-memory far end with the system's timings, its trace collected.
struct Link : test::MemoryLink {
    explicit Link(const QList<QByteArray>& replies, const QByteArray& otherwise = {})
    {
        port->script(replies, otherwise);
    }
    QList<QByteArray> requests() const { return port->written(); }
};

const QByteArray kCommandOk = hex("01 00 00 4F 11");

} // namespace

class TestConfigLink : public QObject {
    Q_OBJECT
private slots:
    void dataFrame_data()
    {
        QTest::addColumn<bool>("readFrame");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("traceLine");
        QTest::newRow("write AA BB at 0102")
            << false << hex("AA BB") << 0x0102 << hex("05 64 03 0B 01 10 01 02 00 02 AA BB 77 04")
            << "Comm ->(10) 01 10 01 02 00 02 AA BB 77 04 ";
        QTest::newRow("read AA BB at 0102")
            << true << hex("AA BB") << 0x0102 << hex("05 64 03 0B 01 11 01 02 00 02 AA BB 67 C4")
            << "Comm ->(10) 011101020002AABB67C4";
        QTest::newRow("chunk request at 0") << true << hex("00") << 0 << hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")
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
        QTest::newRow("01 02 03 with checksum")
            << hex("01 02 03 41 42 43 11 22") << true << "bool Send, ReadBuf=8 1 2" << 3;
        QTest::newRow("silence") << QByteArray() << false << "bool Send, ReadBuf=0 0 0" << 0;
    }
    void transaction()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        QFETCH(QString, readLine);
        QFETCH(int, byte2);
        Link link({reply});
        ConfigFrame frame{};
        const std::size_t length = BuildConfigFrame(cfg::kStatusQuery, frame, nullptr, 0, 0, link.session.trace());
        const LinkError error = ConfigTransact(link.session.link, link.session.trace(), frame, length);
        QCOMPARE(error == LinkError::None, valid);
        QCOMPARE(error, reply.isEmpty() ? LinkError::NoReply : valid ? LinkError::None : LinkError::InvalidReply);
        QCOMPARE(link.requests(), QList<QByteArray>{hex("05 64 03 0B 01 06 00 00 00 37 C8 1C")});
        QCOMPARE(link.trace, (QStringList{"bool Send =12", "05 64 03 0B 01 06 00 00 00 37 C8 1C ", readLine}));
        // Bytes 0 to 3 were zeroed before the reply came: a short reply leaves zeros.
        QCOMPARE(int(frame[2]), byte2);
        if (reply.isEmpty())
            QCOMPARE(link.session.link.lastFirstByteRounds(), 201);
    }

    void transactionLongReply()
    {
        Link link({hex("01 00 FF") + QByteArray(1200 - 3, '\x33')});
        ConfigFrame frame{};
        const std::uint8_t data[40] = {};
        const std::size_t length = BuildConfigFrame(0, frame, data, 40, 0x0028, link.session.trace());
        QCOMPARE(ConfigTransact(link.session.link, link.session.trace(), frame, length), LinkError::None);
        // The reply is kept within the 1008-byte buffer; the rest is dropped.
        QCOMPARE(link.trace.last(), QStringLiteral("bool Send, ReadBuf=1008 1 0"));
        QCOMPARE(link.trace.at(1), QStringLiteral("bool Send =52"));
        QCOMPARE(link.trace.at(2).size(), 52 * 3);
        QCOMPARE(link.requests().size(), 1);
        QCOMPARE(link.requests().first().size(), 52);
        QCOMPARE(frame[1007], std::uint8_t(0x33));
    }

    // The status query's answers: a reply of zeros is a failed query however its
    // status byte reads; a status the controller does not define, or a checksum
    // that fails, is damage, asked about again; a reply whose checksum fails on
    // every try is taken as it came (the controller has not shown one).
    void statusQuery_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("status");
        QTest::addColumn<LinkError>("error");
        QTest::addColumn<int>("requests");
        const QByteArray ok = checked(hex("01 00 00"));
        QTest::newRow("00 00 00 00 00") << QList<QByteArray>{hex("00 00 00 00 00")} << 0 << -1
                                        << LinkError::InvalidReply << 1;
        QTest::newRow("01 40 00, checksum holds: status 64")
            << QList<QByteArray>{checked(hex("01 40 00"))} << 0 << -1 << LinkError::ImpossibleValue << 1;
        QTest::newRow("01 07, no checksum, twice")
            << QList<QByteArray>{hex("01 07"), hex("01 07")} << 1 << -1 << LinkError::ImpossibleValue << 2;
        QTest::newRow("01 02 spoilt from 01 00, then 01 00")
            << QList<QByteArray>{checked(hex("01 00 00")).replace(1, 1, "\x02"), ok} << 2 << 0 << LinkError::None << 2;
        QTest::newRow("01 02 with a failing checksum, no retries")
            << QList<QByteArray>{hex("01 02 00 4F 11")} << 0 << 2 << LinkError::None << 1;
    }
    void statusQuery()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, retries);
        QFETCH(int, status);
        QFETCH(LinkError, error);
        QFETCH(int, requests);
        Link link(replies);
        link.session.retries = retries;
        const auto result = StatusQuery(link.session);
        QCOMPARE(result.value, status);
        QCOMPARE(result.error, error);
        QCOMPARE(link.requests().size(), requests);
        if (status == -1)
            QCOMPARE(StatusQueryText(result.value), QStringLiteral("NOT OK = -1"));
    }

    // Behind an echo of the command frame, the status reply is read; what the
    // short reply does not cover reads as zeros.
    void statusBehindAnEcho()
    {
        Link link({hex("05 64 03 0B 01 06 00 00 00 37 C8 1C 01 02")});
        QCOMPARE(StatusQuery(link.session).value, 2);
        Link upload(
            {hex("05 64 03 0B 01 06 00 00 00 3D 48 1B 01 00"), hex("05 64 03 0B 01 11 00 00 00 01 00 09 11 01 00")});
        QCOMPARE(ConfigUpload(upload.session, cfg::kUploadConfig).error, LinkError::None);
        QCOMPARE(upload.requests().size(), 2); // the two-byte chunk reply ended it
    }

    // How an upload ends, from a controller that sends no checksum (read as it
    // always was) and from one that does: once a reply of the transfer has shown
    // the checksum, a chunk without a valid one is damaged, asked for again with
    // retries, and then fails the upload at its offset; chunks taken before the
    // checksum showed are read again from 0.
    void uploadEnds_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("failedAt"); // -1: no chunk failed
        const QByteArray chunk = letters(30);
        const QByteArray shown = checked(hex("01 00 00")); // the command's reply, with its checksum
        const QByteArray good = checkedChunk(chunk);
        const QByteArray spoilt = checkedChunk(chunk, true);
        const QByteArray end = checkedChunk({});
        QTest::newRow("two-byte reply 01 00 ends it")
            << QList<QByteArray>{kCommandOk, chunkReply(chunk), hex("01 00")} << 0 << 30 << 3 << -1;
        QTest::newRow("command answered 00 00 05") << QList<QByteArray>{hex("00 00 05")} << 0 << 0 << 1 << -1;
        QTest::newRow("second chunk silent")
            << QList<QByteArray>{kCommandOk, chunkReply(chunk), QByteArray()} << 0 << 0 << 3 << 30;
        QTest::newRow("second chunk one byte")
            << QList<QByteArray>{kCommandOk, chunkReply(chunk), hex("01")} << 0 << 0 << 3 << 30;
        // A chunk reply that announces more bytes than it carries is a failed
        // upload: nothing of what the buffer held behind it is taken.
        QTest::newRow("00 01 5A: 90 announced, none sent")
            << QList<QByteArray>{kCommandOk, hex("00 01 5A")} << 0 << 0 << 2 << 0;
        QTest::newRow("30 announced, 29 sent")
            << QList<QByteArray>{kCommandOk, chunkReply(chunk).left(3 + 29)} << 0 << 0 << 2 << 0;
        QTest::newRow("30 announced and sent, no checksum")
            << QList<QByteArray>{kCommandOk, chunkReply(chunk).left(3 + 30), hex("01 00")} << 0 << 30 << 3 << -1;
        QTest::newRow("checksums: all hold") << QList<QByteArray>{shown, good, end} << 0 << 30 << 3 << -1;
        QTest::newRow("checksums: chunk spoilt, no retries")
            << QList<QByteArray>{shown, good, spoilt} << 0 << 0 << 3 << 30;
        QTest::newRow("checksums: chunk spoilt once, asked again")
            << QList<QByteArray>{shown, spoilt, good, end} << 1 << 30 << 4 << -1;
        QTest::newRow("checksums: chunk spoilt on every try")
            << QList<QByteArray>{shown, good, spoilt, spoilt, spoilt} << 2 << 0 << 5 << 30;
        QTest::newRow("checksums: chunk without one") << QList<QByteArray>{shown, good.left(33)} << 0 << 0 << 2 << 0;
        // The command's reply carried no valid checksum; the first chunk's failed
        // on both tries and was taken; the second showed one: read again from 0.
        QTest::newRow("checksum shown late, no retries")
            << QList<QByteArray>{kCommandOk, spoilt, good} << 0 << 0 << 3 << 0;
        QTest::newRow("checksum shown late: read again from 0")
            << QList<QByteArray>{kCommandOk, spoilt, spoilt, good, good, good, end} << 1 << 60 << 7 << -1;
    }
    void uploadEnds()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, retries);
        QFETCH(int, length);
        QFETCH(int, requests);
        QFETCH(int, failedAt);
        Link link(replies);
        link.session.retries = retries;
        const ConfigUploadResult result = ConfigUpload(link.session, cfg::kUploadTestConfig);
        QCOMPARE(result.length, length);
        QCOMPARE(result.error == LinkError::None, length != 0);
        QCOMPARE(result.failedChunk.has_value(), failedAt >= 0);
        if (failedAt >= 0)
            QCOMPARE(int(*result.failedChunk), failedAt);
        QCOMPARE(link.requests().size(), requests);
        QCOMPARE(link.requests().first(), hex("05 64 03 0B 01 06 00 00 00 18 89 C0"));
        // What an upload gives is only chunks that held.
        if (length != 0)
            QCOMPARE(TransferText(link.session.transfer), letters(30).repeated(length / 30));
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
        const QByteArray chunk = letters(255);
        QList<QByteArray> replies{kCommandOk};
        for (int i = 0; i < 196; ++i)
            replies << chunkReply(chunk);
        replies << chunkReply(letters(lastChunk));
        Link link(replies, lastChunk == 255 ? chunkReply(chunk) : chunkReply({}));

        const ConfigUploadResult result = ConfigUpload(link.session, cfg::kUploadConfig);
        QCOMPARE(result.length, length);
        QCOMPARE(result.tooLarge, length == 0);
        const auto& bytes = link.session.transfer.bytes;
        QCOMPARE(bytes[kTransferBufferSize - 1], std::uint8_t(0));
        if (length == 0) {
            // The chunk that did not fit was not copied, and the upload asked for no more.
            QCOMPARE(bytes[49980], std::uint8_t(0));
            QCOMPARE(link.requests().size(), 1 + 197);
            QCOMPARE(link.trace.last(),
                     QStringLiteral("Upload ->(%1) does not fit 49999 bytes").arg(49980 + lastChunk));
        } else {
            QCOMPARE(TransferText(link.session.transfer).size(), 49999);
        }
    }

    void downloadFails_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("lastLine");
        const QByteArray ok = kCommandOk;
        QTest::newRow("START silent") << QList<QByteArray>{{}} << 1 << "Command START Send not ok";
        QTest::newRow("first NEXT 00 00") << QList<QByteArray>{ok, hex("00 00")} << 2 << "Command NEXT Send not ok";
        QTest::newRow("STOP silent") << QList<QByteArray>{ok, ok, ok, {}} << 4 << "Command STOP Send not ok";
        // START's reply showed the checksum: a NEXT whose reply fails it is unconfirmed.
        const QByteArray shown = checked(hex("01 00 00"));
        QTest::newRow("NEXT's checksum fails after START's held")
            << QList<QByteArray>{shown, checked(hex("01 00 00"), true)} << 2 << "Command NEXT Send not ok";
    }
    void downloadFails()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, requests);
        QFETCH(QString, lastLine);
        Link link(replies);
        const QByteArray bytes = letters(41);
        const auto result = ConfigDownload(link.session, reinterpret_cast<const std::uint8_t*>(bytes.constData()), 41);
        QVERIFY(!result.value);
        QVERIFY(result.error != LinkError::None);
        QCOMPARE(link.requests().size(), requests);
        QCOMPARE(link.trace.last(), lastLine);
        if (requests < 4) // no STOP after a failed START or NEXT
            QVERIFY(!link.requests().contains(hex("05 64 03 0B 01 06 00 00 00 17 C9 C4")));
    }
};

QTEST_GUILESS_MAIN(TestConfigLink)
#include "tst_config_link.moc"
