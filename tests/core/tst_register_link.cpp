// The register and log link: every request kind byte for byte, the reply check
// and its verdicts, and the six exchange operations against an in-memory far end
// that answers with hand-written bytes.
#include "protocol/checksum.h"
#include "protocol/register_link.h"
#include "features/session.h"
#include "tests/support/test_support.h"

#include <QTest>

Q_DECLARE_METATYPE(tessavin::LinkError)

#include <algorithm>
#include <bit>
#include <cstring>

using namespace tessavin;
using tessavin::test::hex;

namespace {

QByteArray frameBytes(const FrameBuffer& frame, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n));
}

// A register-link reply to the count request: the given start bytes, length
// field and payload, both checksums right.
QByteArray reply(const QByteArray& payload, std::uint8_t start0 = 0x05, std::uint8_t start1 = 0x64)
{
    const std::size_t length = static_cast<std::size_t>(payload.size()) + 4;
    QByteArray bytes(static_cast<qsizetype>(length + 6), '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
    b[0] = start0;
    b[1] = start1;
    b[2] = static_cast<std::uint8_t>(length & 0xFF);
    b[3] = static_cast<std::uint8_t>(length >> 8);
    AppendChecksum(b, 4);
    b[6] = 0x1C;
    b[7] = 0x06;
    std::memcpy(b + 8, payload.constData(), static_cast<std::size_t>(payload.size()));
    AppendChecksum(b + 6, length - 2);
    return bytes;
}

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

} // namespace

class RegisterLinkTest : public QObject {
    Q_OBJECT

private slots:
    void requestBytes_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("expected");

        const auto plain = [](const char* name, int command, const char* bytes) {
            QTest::newRow(name) << command << 0 << 0 << hex(bytes);
        };
        plain("19 log begin / clr script", 0x19, "05 64 08 00 46 F7 19 06 00 00 00 00 8A 12");
        plain("1B clear log", 0x1B, "05 64 08 00 46 F7 1B 06 00 00 00 00 8B F0");
        plain("1C log count", 0x1C, "05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
        plain("1D log capacity", 0x1D, "05 64 08 00 46 F7 1D 06 00 00 00 00 8B 96");
        plain("5B archive begin", 0x5B, "05 64 08 00 46 F7 5B 06 00 00 00 00 85 30");
        plain("5D registration", 0x5D, "05 64 08 00 46 F7 5D 06 00 00 00 00 85 56");
        plain("2C device number", 0x2C, "05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7");
        plain("2D pressure", 0x2D, "05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66");
        plain("33 start log", 0x33, "05 64 08 00 46 F7 33 06 00 00 00 00 8D D8");
        plain("34 stop log", 0x34, "05 64 08 00 46 F7 34 06 00 00 00 00 8C 6F");
        plain("0E up script", 0x0E, "05 64 08 00 46 F7 0E 06 00 00 00 00 89 35");
        QTest::newRow("1A log record 291") << 0x1A << 291 << 1 << hex("05 64 08 00 46 F7 1A 06 23 01 01 00 D1 F5");
        QTest::newRow("1A log record 1999") << 0x1A << 1999 << 1 << hex("05 64 08 00 46 F7 1A 06 CF 07 01 00 05 64");
        QTest::newRow("5C archive record 291") << 0x5C << 291 << 1 << hex("05 64 08 00 46 F7 5C 06 23 01 01 00 DF 53");
        QTest::newRow("5C archive record 1000")
            << 0x5C << 1000 << 1 << hex("05 64 08 00 46 F7 5C 06 E8 03 01 00 40 B7");
    }

    void requestBytes()
    {
        QFETCH(int, command);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QByteArray, expected);

        FrameBuffer frame;
        frame.fill(0xEE); // whatever the last reply left
        const std::size_t n = BuildRegRequest(frame, static_cast<std::uint8_t>(command),
                                              static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(count));
        QCOMPARE(n, std::size_t{14});
        QCOMPARE(frameBytes(frame, n).toHex(' '), expected.toHex(' '));
        QCOMPARE(frame[14], std::uint8_t{0xEE}); // nothing written behind the request
    }

    void dataRequestFramesLengthAndCountWhole_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("head"); // bytes 0-11
        QTest::addColumn<QByteArray>("tail"); // the body checksum

        QTest::newRow("abc") << QByteArray("abc") << hex("05 64 0B 00 46 07 0C 0C 00 00 03 00") << hex("23 32");
        QByteArray ramp247(247, '\0');
        for (int i = 0; i < 247; ++i)
            ramp247[i] = static_cast<char>(i);
        QTest::newRow("247 bytes: length 255") << ramp247 << hex("05 64 FF 00 00 C7 0C 0C 00 00 F7 00") << hex("B8 24");
        QByteArray ramp248 = ramp247 + QByteArray(1, char(247));
        QTest::newRow("248 bytes: length 256 in both bytes")
            << ramp248 << hex("05 64 00 01 80 F7 0C 0C 00 00 F8 00") << hex("71 C4");
    }

    void dataRequestFramesLengthAndCountWhole()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, tail);

        FrameBuffer frame{};
        const std::size_t n = BuildRegDataRequest(frame, reg::kScriptDown,
                                                  reinterpret_cast<const std::uint8_t*>(data.constData()),
                                                  static_cast<std::size_t>(data.size()));
        QCOMPARE(n, static_cast<std::size_t>(data.size()) + 14);
        const QByteArray sent = frameBytes(frame, n);
        QCOMPARE(sent.left(12).toHex(' '), head.toHex(' '));
        QCOMPARE(sent.mid(12, data.size()), data);
        QCOMPARE(sent.right(2).toHex(' '), tail.toHex(' '));
    }

    void dataRequestLargerThanTheBufferIsRefused()
    {
        std::vector<std::uint8_t> data(kRegMaxData + 1, 0x41);
        FrameBuffer frame;
        frame.fill(0x5A);
        QCOMPARE(BuildRegDataRequest(frame, reg::kScriptDown, data.data(), data.size()), std::size_t{0});
        QVERIFY(std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0x5A; }));

        // The largest that fits ends exactly at the buffer's end.
        QCOMPARE(BuildRegDataRequest(frame, reg::kScriptDown, data.data(), kRegMaxData), kFrameBufferSize);
        QVERIFY(ChecksumMatches(frame.data() + 6, kFrameBufferSize - 8));
        QCOMPARE(RegReplyLength(frame), std::uint16_t(8 + kRegMaxData));
    }

    void replyCheck_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("received");
        QTest::addColumn<LinkError>("verdict");

        const QByteArray word = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        const LinkError ok = LinkError::None;
        QTest::newRow("05 64 06 00 42 97 1C 06 23 01 3F 45") << word << 12 << ok;
        QTest::newRow("nothing received") << word << 0 << LinkError::NoReply;
        // Fewer bytes than the reply states: what the buffer holds behind them is
        // not the reply (here it still holds the word reply's own bytes).
        QTest::newRow("3 of 12 bytes") << word << 3 << LinkError::Truncated;
        QTest::newRow("11 of 12 bytes") << word << 11 << LinkError::Truncated;
        QTest::newRow("more than stated: trailing bytes not examined") << word + hex("EE EE") << 14 << ok;
        QTest::newRow("start bytes AA 55") << reply(hex("23 01"), 0xAA, 0x55) << 12 << ok;
        QTest::newRow("start bytes 00 00") << reply(hex("23 01"), 0x00, 0x00) << 12 << ok;
        QTest::newRow("header checksum low byte flipped") << flipped(word, 4) << 12 << LinkError::BadHeaderChecksum;
        QTest::newRow("header checksum high byte flipped") << flipped(word, 5) << 12 << LinkError::BadHeaderChecksum;
        QTest::newRow("length byte flipped") << flipped(word, 2) << 12 << LinkError::BadHeaderChecksum;
        QTest::newRow("payload byte flipped") << flipped(word, 8) << 12 << LinkError::BadBodyChecksum;
        QTest::newRow("byte 6 flipped (covered by the body checksum)")
            << flipped(word, 6) << 12 << LinkError::BadBodyChecksum;
        QTest::newRow("body checksum flipped") << flipped(word, 11) << 12 << LinkError::BadBodyChecksum;
        QTest::newRow("L = 4, empty payload") << reply({}) << 10 << ok;
        QTest::newRow("L = 994, fills the buffer") << reply(QByteArray(990, 'x')) << 1000 << ok;

        // Lengths with a right header checksum that no reply can have.
        for (int length : {0, 1, 2, 3, 995, 996, 0xFFFF}) {
            QByteArray bytes(1000, '\0');
            auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
            b[0] = 0x05;
            b[1] = 0x64;
            b[2] = static_cast<std::uint8_t>(length & 0xFF);
            b[3] = static_cast<std::uint8_t>(length >> 8);
            AppendChecksum(b, 4);
            QTest::newRow(qPrintable(QStringLiteral("L = %1").arg(length)))
                << bytes << 1000 << LinkError::LengthOutOfRange;
        }
    }

    void replyCheck()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, received);
        QFETCH(LinkError, verdict);

        FrameBuffer frame{};
        std::memcpy(frame.data(), bytes.constData(), std::min<std::size_t>(bytes.size(), frame.size()));
        QCOMPARE(RegReplyCheck(frame, static_cast<std::size_t>(received)), verdict);
    }

    // One peer and one open session for all the exchange tests; every request is
    // answered with `answer`.
    void exchanges_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("anyReply");
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("longValue");
        QTest::addColumn<float>("floatValue");
        QTest::addColumn<int>("block");

        const QByteArray word = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        // The four bytes at offsets 8-11 of the word reply: 23 01, then its body checksum.
        QTest::newRow("05 64 06 00 42 97 1C 06 23 01 3F 45") << word << true << 291 << 0 << 0.0f << 2;
        QTest::newRow("silence") << QByteArray() << false << 0 << 0 << 0.0f << 0;
        QTest::newRow("word reply, payload byte flipped") << flipped(word, 9) << true << 0 << 0 << 0.0f << 0;
        QTest::newRow("word reply, header checksum wrong") << flipped(word, 4) << true << 0 << 0 << 0.0f << 0;
        QTest::newRow("word reply from start bytes AA 55")
            << reply(hex("23 01"), 0xAA, 0x55) << true << 291 << 0 << 0.0f << 2;
        // A payload shorter than the value read is no value: the bytes behind it
        // are the body checksum and what the request left there.
        QTest::newRow("empty payload, L = 4") << reply({}) << true << 0 << 0 << 0.0f << 0;
        QTest::newRow("two-byte payload read as long and float")
            << reply(hex("23 01")) << true << 291 << 0 << 0.0f << 2;
        QTest::newRow("05 64 08 00 46 F7 2D 06 00 00 C0 3F 9E 76 (1.5)")
            << hex("05 64 08 00 46 F7 2D 06 00 00 C0 3F 9E 76") << true << 0 << 0x3FC00000 << 1.5f << 4;
        QTest::newRow("05 64 08 00 46 F7 2C 06 D2 04 00 00 F7 0E (1234)")
            << hex("05 64 08 00 46 F7 2C 06 D2 04 00 00 F7 0E") << true << 1234 << 1234 << std::bit_cast<float>(1234u)
            << 4;
        QTest::newRow("negative long") << reply(hex("FE FF FF FF")) << true << 0xFFFE << -2
                                       << std::bit_cast<float>(0xFFFFFFFEu) << 4;
    }

    void exchanges()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, anyReply);
        QFETCH(int, word);
        QFETCH(int, longValue);
        QFETCH(float, floatValue);
        QFETCH(int, block);

        test::MemoryLink m;
        m.port->script({}, answer);
        Session& s = m.session;

        const QByteArray request = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(RegExchange(s.link, s.frame, 14) == LinkError::None, anyReply);
        if (answer.isEmpty())
            QCOMPARE(frameBytes(s.frame, 14), request); // the request is still there

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(RegExchangeRaw(s.link, s.frame, 14).value, static_cast<std::size_t>(answer.size()));
        QCOMPARE(frameBytes(s.frame, static_cast<std::size_t>(answer.size())), answer);

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(int(RegReadWord(s.link, s.frame, 14).value), word);

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(RegReadLong(s.link, s.frame, 14).value, std::int32_t(longValue));

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(std::bit_cast<std::uint32_t>(RegReadFloat(s.link, s.frame, 14).value),
                 std::bit_cast<std::uint32_t>(floatValue));

        BuildRegRequest(s.frame, reg::kLogCount);
        QCOMPARE(RegReadBlock(s.link, s.frame, 14).value, static_cast<std::size_t>(block));

        // Every operation sent exactly the 14 bytes of the request, once.
        const QList<QByteArray> requests = m.port->written();
        QCOMPARE(requests.size(), 6);
        for (const QByteArray& sent : requests)
            QCOMPARE(sent.toHex(' '), request.toHex(' '));
    }

    // A single byte 05 after the count request: the buffer behind it still holds
    // the request, whose checksums are right, so it must not pass for a reply of
    // L = 8 carrying the request's own index field.
    void oneByteReplyIsNotTheRequest()
    {
        test::MemoryLink m;
        m.port->script({hex("05")});
        const std::size_t length = BuildRegRequest(m.session.frame, reg::kLogCount);
        const auto count = RegReadWord(m.session.link, m.session.frame, length);
        QCOMPARE(count.error, LinkError::Truncated);
        QCOMPARE(count.value, std::uint16_t(0));
    }

    // A two-wire line echoes the request: the reply behind the echo is read.
    // An echo alone passes for a reply of value 0, as a zero reply would.
    void echoOfTheRequest()
    {
        const QByteArray request = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
        test::MemoryLink m;
        m.port->script({request + hex("05 64 06 00 42 97 1C 06 23 01 3F 45"), request});
        FrameBuffer& frame = m.session.frame;
        QCOMPARE(RegReadWord(m.session.link, frame, BuildRegRequest(frame, reg::kLogCount)).value, std::uint16_t(291));
        QCOMPARE(m.records[1].bytes.size(), 26); // logged as it came
        const auto alone = RegReadWord(m.session.link, frame, BuildRegRequest(frame, reg::kLogCount));
        QCOMPARE(alone.error, LinkError::None);
        QCOMPARE(alone.value, std::uint16_t(0));
    }

    // The echo takes no room from the reply behind it: a reply that fills the
    // buffer is read whole, and behind the echo of a request that fills the
    // buffer itself the reply is still found.
    void echoTakesNoRoomFromTheReply()
    {
        test::MemoryLink m;
        FrameBuffer& frame = m.session.frame;
        const QByteArray largest = reply(QByteArray(990, 'z'));
        std::size_t length = BuildRegRequest(frame, reg::kLogRecord, 1, 1);
        m.port->script({frameBytes(frame, length) + largest});
        const auto block = RegReadBlock(m.session.link, frame, length);
        QCOMPARE(block.error, LinkError::None);
        QCOMPARE(block.value, std::size_t{990});
        QCOMPARE(frameBytes(frame, 990), QByteArray(990, 'z'));

        const QByteArray script(static_cast<qsizetype>(kRegMaxData), 's');
        length = BuildRegDataRequest(frame, reg::kScriptDown, reinterpret_cast<const std::uint8_t*>(script.constData()),
                                     kRegMaxData);
        QCOMPARE(length, kFrameBufferSize);
        const QByteArray word = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        m.port->script({frameBytes(frame, length) + word});
        const auto raw = RegExchangeRaw(m.session.link, frame, length);
        QCOMPARE(raw.value, std::size_t(12));
        QCOMPARE(frameBytes(frame, 12), word);
    }

    void blockMoveKeepsTheRestOfTheReply()
    {
        const QByteArray record("<2024/01/02 03:04:05 power on");
        const QByteArray answer = reply(record);
        test::MemoryLink m;
        m.port->script({}, answer);
        Session& s = m.session;
        s.frame.fill(0x77);

        const std::size_t length = BuildRegRequest(s.frame, reg::kLogRecord, 7, 1);
        QCOMPARE(RegReadBlock(s.link, s.frame, length).value, static_cast<std::size_t>(record.size()));
        QCOMPARE(frameBytes(s.frame, static_cast<std::size_t>(record.size())), record);
        // Behind the payload: the reply as received from the same offset on, then
        // what the buffer held before.
        QCOMPARE(frameBytes(s.frame, static_cast<std::size_t>(answer.size())).mid(record.size()),
                 answer.mid(record.size()));
        QCOMPARE(s.frame[static_cast<std::size_t>(answer.size())], std::uint8_t{0x77});
    }

    void oversizedReplyStaysInsideTheBuffer()
    {
        // 1200 bytes whose length field covers them all and whose checksums are right:
        // only the first 1000 are kept, and the reading operations refuse the length.
        const QByteArray big = reply(QByteArray(1190, 'y'));
        const QByteArray largest = reply(QByteArray(990, 'z'));
        test::MemoryLink m;
        m.port->script({big, big, largest});
        Session& s = m.session;
        BuildRegRequest(s.frame, reg::kLogRecord, 1, 1);
        QCOMPARE(RegExchangeRaw(s.link, s.frame, 14).value, kFrameBufferSize);
        QCOMPARE(frameBytes(s.frame, kFrameBufferSize), big.left(1000));
        BuildRegRequest(s.frame, reg::kLogRecord, 1, 1);
        const auto refused = RegReadBlock(s.link, s.frame, 14);
        QCOMPARE(refused.value, std::size_t{0});
        QCOMPARE(refused.error, LinkError::LengthOutOfRange);

        // The largest reply that fits is read whole.
        BuildRegRequest(s.frame, reg::kLogRecord, 1, 1);
        QCOMPARE(RegReadBlock(s.link, s.frame, 14).value, std::size_t{990});
        QCOMPARE(frameBytes(s.frame, 990), QByteArray(990, 'z'));
    }

    // Each error a register exchange can meet, made by the far end and seen by
    // the caller, in the result and in the frame log.
    void errorsReachTheCaller_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("vanishAfter"); // ms; -1: stays
        QTest::addColumn<bool>("open");
        QTest::addColumn<LinkError>("error");
        QTest::addColumn<QString>("text");
        const QByteArray word = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        QTest::newRow("port closed") << word << -1 << false << LinkError::PortClosed << "port not open";
        QTest::newRow("silence") << QByteArray() << -1 << true << LinkError::NoReply << "no reply";
        QTest::newRow("device gone") << QByteArray() << 500 << true << LinkError::PortLost << "port lost";
        QTest::newRow("header checksum") << flipped(word, 4) << -1 << true << LinkError::BadHeaderChecksum
                                         << "bad header checksum";
        QByteArray shortLength = hex("05 64 02 00 00 00 1C 06");
        AppendChecksum(reinterpret_cast<std::uint8_t*>(shortLength.data()), 4);
        QTest::newRow("L = 2") << shortLength << -1 << true << LinkError::LengthOutOfRange << "length out of range";
        QTest::newRow("body checksum") << flipped(word, 9) << -1 << true << LinkError::BadBodyChecksum
                                       << "bad body checksum";
        QTest::newRow("empty payload") << reply({}) << -1 << true << LinkError::TooShort
                                       << "reply too short for what was asked";
    }
    void errorsReachTheCaller()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, vanishAfter);
        QFETCH(bool, open);
        QFETCH(LinkError, error);
        QFETCH(QString, text);
        test::MemoryLink m;
        m.port->script({}, answer);
        if (vanishAfter >= 0)
            m.port->vanish(std::chrono::milliseconds(vanishAfter));
        if (!open)
            m.session.link.close();
        const std::size_t length = BuildRegRequest(m.session.frame, reg::kLogCount);
        const auto result = RegReadWord(m.session.link, m.session.frame, length);
        QCOMPARE(result.error, error);
        QCOMPARE(result.value, std::uint16_t(0));
        QCOMPARE(LinkErrorText(result.error), text);
        QVERIFY(!m.records.empty());
        QCOMPARE(m.records.back().verdict, error == LinkError::TooShort ? LinkError::None : error);
    }
};

QTEST_GUILESS_MAIN(RegisterLinkTest)
#include "tst_register_link.moc"
