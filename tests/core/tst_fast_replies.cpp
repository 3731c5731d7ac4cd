// Fast replies on the register and log link, at the system's timings on a
// virtual clock: where a reply ends (its stated length, or the idle gap when the
// header is wrong, the bytes stop short or only the echo came), the guard gap
// before the next request, and the trailing bytes in the frame log.
#include "protocol/checksum.h"
#include "protocol/register_link.h"
#include "tests/support/test_support.h"

#include <QTest>

using namespace tessavin;
using tessavin::test::hex;
using namespace std::chrono_literals;

namespace {

struct Piece {
    int after = 0; // ms after the previous piece (the first: after the request)
    QByteArray bytes;
};
using Pieces = QList<Piece>;

const QByteArray kRequest = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
const QByteArray kWord = hex("05 64 06 00 42 97 1C 06 23 01 3F 45"); // 291

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

QByteArray lengthTwo()
{
    QByteArray bytes = hex("05 64 02 00 00 00 1C 06");
    AppendChecksum(reinterpret_cast<std::uint8_t*>(bytes.data()), 4);
    return bytes;
}

// A reply to the record request with the given payload, checksums filled in.
QByteArray record(const QByteArray& payload)
{
    const auto length = static_cast<std::uint16_t>(payload.size() + 4);
    QByteArray bytes = hex("05 64 00 00 00 00 1A 06") + payload + hex("00 00");
    bytes[2] = static_cast<char>(length & 0xFF);
    bytes[3] = static_cast<char>(length >> 8);
    auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
    AppendChecksum(b, 4);
    AppendChecksum(b + 6, static_cast<std::size_t>(length) - 2);
    return bytes;
}
// The largest reply (L = 994, 1000 bytes), and one with no payload (10 bytes).
QByteArray largestRecord() { return record(QByteArray(990, 'z')); }
QByteArray emptyRecord() { return record({}); }

// The frame records up to and with the next request: "tx", "rx 12 ok", "trailing EE".
QStringList summary(const std::vector<FrameRecord>& records)
{
    QStringList out;
    for (const FrameRecord& r : records) {
        if (r.sent)
            out << QStringLiteral("tx");
        else if (r.trailing)
            out << QStringLiteral("trailing ") + FrameHex(r.bytes);
        else
            out << QStringLiteral("rx %1 %2")
                       .arg(r.bytes.size())
                       .arg(LinkErrorText(r.verdict.value_or(LinkError::None)));
        if (out.size() > 1 && r.sent)
            break;
    }
    return out;
}

// A link whose far end answers the first request with the pieces and every later
// one with the word reply at once.
struct FastLine {
    test::MemoryLink m;
    explicit FastLine(const Pieces& first, bool fast = true)
    {
        m.session.chooseFastReplies(fast, false);
        m.port->setResponder([first, n = 0](const QByteArray&) mutable {
            std::vector<MemoryPort::Part> parts;
            if (n++ > 0)
                return std::vector<MemoryPort::Part>{{0ms, kWord}};
            for (const Piece& p : first)
                parts.push_back({std::chrono::milliseconds(p.after), p.bytes});
            return parts;
        });
    }
    LinkResult<std::uint16_t> readCount()
    {
        FrameBuffer& frame = m.session.frame;
        return RegReadWord(m.session.link, frame, BuildRegRequest(frame, reg::kLogCount), m.session.replies);
    }
    std::chrono::milliseconds now() const { return m.clock->now(); }
    std::chrono::milliseconds secondRequestAt() const { return m.port->writtenAt().at(1).at; }
};

} // namespace

Q_DECLARE_METATYPE(Pieces)
Q_DECLARE_METATYPE(tessavin::LinkError)

class TestFastReplies : public QObject {
    Q_OBJECT
private slots:
    // The request goes at 0 ms; the first byte is taken as soon as it comes. A
    // reply that states its end ends there, and the next request follows 2 ms
    // (the guard gap at 38400 baud) later; otherwise the reply ends 60 ms after
    // its last byte and the next request goes at once.
    void replyEnds_data()
    {
        QTest::addColumn<Pieces>("pieces");
        QTest::addColumn<int>("value");
        QTest::addColumn<LinkError>("error");
        QTest::addColumn<int>("end"); // ms: when the exchange returned
        QTest::addColumn<int>("next"); // ms: when the next request went
        QTest::addColumn<QStringList>("log");
        const LinkError ok = LinkError::None;
        const QStringList plain{"tx", "rx 12 ok", "tx"};

        QTest::newRow("whole reply at once") << Pieces{{0, kWord}} << 291 << ok << 0 << 2 << plain;
        QTest::newRow("in three pieces, the last at 55 ms")
            << Pieces{{20, kWord.left(3)}, {20, kWord.mid(3, 4)}, {15, kWord.mid(7)}} << 291 << ok << 55 << 57 << plain;
        QTest::newRow("split by 50 ms, under the idle gap")
            << Pieces{{0, kWord.left(6)}, {50, kWord.mid(6)}} << 291 << ok << 50 << 52 << plain;
        QTest::newRow("split by 100 ms mid-frame: idle gap, truncated")
            << Pieces{{0, kWord.left(6)}, {100, kWord.mid(6)}} << 0 << LinkError::Truncated << 60 << 60
            << QStringList{"tx", "rx 6 reply shorter than its stated length", "tx"};
        QTest::newRow("header checksum wrong: idle gap")
            << Pieces{{0, flipped(kWord, 4)}} << 0 << LinkError::BadHeaderChecksum << 60 << 60
            << QStringList{"tx", "rx 12 bad header checksum", "tx"};
        QTest::newRow("L = 2: idle gap") << Pieces{{0, lengthTwo()}} << 0 << LinkError::LengthOutOfRange << 60 << 60
                                         << QStringList{"tx", "rx 8 length out of range", "tx"};
        QTest::newRow("body checksum wrong: ends at its length")
            << Pieces{{0, flipped(kWord, 9)}} << 0 << LinkError::BadBodyChecksum << 0 << 2
            << QStringList{"tx", "rx 12 bad body checksum", "tx"};
        QTest::newRow("trailing bytes with the reply") << Pieces{{0, kWord + hex("A5 5A FF")}} << 291 << ok << 0 << 2
                                                       << QStringList{"tx", "rx 12 ok", "trailing A5 5A FF", "tx"};
        QTest::newRow("trailing bytes in the guard gap")
            << Pieces{{20, kWord + hex("A5")}, {1, hex("EE")}} << 291 << ok << 20 << 22
            << QStringList{"tx", "rx 12 ok", "trailing A5", "trailing EE", "tx"};
        QTest::newRow("echo and reply together")
            << Pieces{{0, kRequest + kWord}} << 291 << ok << 0 << 2 << QStringList{"tx", "rx 26 ok", "tx"};
        QTest::newRow("echo, the reply 30 ms later") << Pieces{{0, kRequest}, {30, kWord + hex("A5")}} << 291 << ok
                                                     << 30 << 32 << QStringList{"tx", "rx 26 ok", "trailing A5", "tx"};
        QTest::newRow("echo alone: idle gap, a reply of 0")
            << Pieces{{0, kRequest}} << 0 << ok << 60 << 60 << QStringList{"tx", "rx 14 ok", "tx"};
    }
    void replyEnds()
    {
        QFETCH(Pieces, pieces);
        QFETCH(int, value);
        QFETCH(LinkError, error);
        QFETCH(int, end);
        QFETCH(int, next);
        QFETCH(QStringList, log);

        FastLine line(pieces);
        const auto result = line.readCount();
        QCOMPARE(result.error, error);
        QCOMPARE(int(result.value), value);
        QCOMPARE(line.now(), std::chrono::milliseconds(end));
        QCOMPARE(int(line.readCount().value), 291);
        QCOMPARE(line.secondRequestAt(), std::chrono::milliseconds(next));
        QCOMPARE(summary(line.m.records), log);
    }

    // 3.5 characters of 10 bits at the baud rate the port was opened with,
    // rounded up to whole milliseconds, never under 2 ms; counted from the
    // reply's end, so a request that comes later goes at once.
    void guardGap_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("later"); // ms the caller takes before the next request
        QTest::addColumn<int>("next");
        QTest::newRow("115200") << 115200 << 0 << 2;
        QTest::newRow("38400") << 38400 << 0 << 2;
        QTest::newRow("9600: 3.6 ms") << 9600 << 0 << 4;
        QTest::newRow("1200: 29.2 ms") << 1200 << 0 << 30;
        QTest::newRow("1200, next request 50 ms later") << 1200 << 50 << 50;
    }
    void guardGap()
    {
        QFETCH(int, baud);
        QFETCH(int, later);
        QFETCH(int, next);
        FastLine line({{0, kWord}});
        line.m.session.link.openPort(QStringLiteral("memory"), baud);
        QCOMPARE(int(line.readCount().value), 291);
        line.m.clock->advance(std::chrono::milliseconds(later));
        line.readCount();
        QCOMPARE(line.secondRequestAt(), std::chrono::milliseconds(next));
    }

    // Off, the exchange passes no end rule: the first byte is looked for from
    // 10 ms on and the reply ends at the idle gap.
    void idleGapWhereFastRepliesDoNotApply()
    {
        FastLine off({{0, kWord + hex("A5")}}, false);
        QCOMPARE(off.readCount().value, std::uint16_t(291));
        QCOMPARE(off.now(), 70ms);
        QCOMPARE(off.m.records.at(1).bytes.size(), 13);
    }

    // The reply is taken into a buffer with room for it and an echo; bytes that
    // come with it after its stated end and run past that room are still its
    // trailing bytes, and are logged with the others, every one.
    void trailingBytesPastTheBuffer_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("more");
        QTest::addColumn<int>("value");
        QTest::newRow("the largest reply behind an echo, 4 bytes")
            << true << largestRecord() << QByteArray("more") << 990;
        QTest::newRow("an empty payload, then 1013 bytes") << false << emptyRecord() << QByteArray(1013, '\0') << 0;
    }
    void trailingBytesPastTheBuffer()
    {
        QFETCH(bool, echo);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, more);
        QFETCH(int, value);
        test::MemoryLink m;
        FrameBuffer& frame = m.session.frame;
        const std::size_t length = BuildRegRequest(frame, reg::kLogRecord, 1, 1);
        const QByteArray request(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(length));
        const QByteArray leading = echo ? request : QByteArray();
        m.port->script({leading + reply + more});
        const auto raw = RegExchangeRaw(m.session.link, frame, length, RegReplies::Fast);
        QCOMPARE(raw.value, std::size_t(reply.size()));
        QCOMPARE(int(RegReplyLength(frame)) - 4, value);
        QCOMPARE(m.records.size(), std::size_t(3));
        QCOMPARE(m.records[1].bytes, leading + reply);
        QVERIFY(m.records[2].trailing);
        QCOMPARE(m.records[2].bytes.size(), more.size());
        QCOMPARE(m.records[2].bytes, more);
    }

    // Bytes that come after the reply and before the port closes are logged too.
    void trailingBytesBeforeClose()
    {
        FastLine line({{0, kWord}, {15, hex("EE")}});
        QCOMPARE(line.readCount().value, std::uint16_t(291));
        line.m.clock->advance(20ms);
        line.m.session.link.close();
        QCOMPARE(summary(line.m.records), (QStringList{"tx", "rx 12 ok", "trailing EE"}));
    }
};

QTEST_GUILESS_MAIN(TestFastReplies)
#include "tst_fast_replies.moc"
