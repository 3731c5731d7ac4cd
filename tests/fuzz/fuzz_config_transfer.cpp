// The configuration link's transfers against a far end that answers from the
// input, with fast replies on or off (the input's first byte; they are for the
// register link only and change nothing here): an upload (configuration or test configuration) from fuzzed chunk
// replies, or a download of a fuzzed text; and the two reply checks on any bytes.
// Checked:
//  - the reply checks agree with the reference verdicts;
//  - an upload sends the upload command, then chunk requests at the address of
//    the bytes received so far; it yields exactly the concatenation of the
//    announced chunks when every reply is valid and holds its chunk and the
//    total fits 49,999 bytes, and otherwise reports no length at all (with the
//    failed exchange's error and chunk, or as too large); once a reply of the
//    upload carried a valid checksum behind its data, a chunk without one fails
//    it (bad checksum), and so does a valid one after chunks taken without;
//  - a download of L bytes sends START, ceil(L / 40) NEXT frames with the right
//    addresses and bytes, and STOP, and ends at the first failed exchange with
//    no STOP after it (a reply without its checksum, after one that carried it,
//    fails); nothing at all for L = 0 or L over 49,999;
//  - every Diagnostic trace line, in its exact form;
//  - no received bytes are ever taken for trailing bytes.
#include "tests/fuzz/fuzz_peer.h"

#include "features/config/config_transfer.h"

#include <optional>
#include <vector>

using namespace tessavin;
using namespace tessavin::fuzz;

namespace {

// A reply of the controller: unit (01 unless the input says), result code, the
// announced count, the data (from the input, or a counting run for long texts
// from short inputs) and two checksum bytes.
QByteArray configReplyFromInput(const QByteArray&, Input& in)
{
    const std::uint8_t how = in.byte();
    const auto unit = static_cast<char>(how & 1 ? in.byte() : 0x01);
    const auto result = static_cast<char>(how & 2 ? in.byte() : 0x00);
    const std::uint8_t n = in.byte();
    QByteArray chunk;
    if (how & 4) {
        const std::uint8_t first = in.byte();
        for (int i = 0; i < n; ++i)
            chunk.append(static_cast<char>(first + i));
    } else {
        chunk = in.bytes(n);
    }
    const auto announced = static_cast<char>(how & 8 ? n : static_cast<std::uint8_t>(chunk.size()));
    return WithCrc(QByteArray() + unit + result + announced + chunk, 0);
}

// What one transaction traces, and its verdict: what should have been received
// as the reply to `frame`, with the reply check of the transaction.
struct Transaction {
    LinkError verdict = LinkError::None;
    QByteArray received;
};

Transaction transact(const PeerExchange* e, const QByteArray& frame, bool chunk, QStringList& trace)
{
    if (e)
        FUZZ_CHECK(e->request == frame);
    Transaction t;
    t.received = e ? ExpectedReception(*e, kConfigFrameSize) : QByteArray();
    t.verdict = t.received.isEmpty() ? ArrivalError(e) : ReferenceConfigVerdict(t.received, chunk);
    trace << QStringLiteral("bool Send =%1").arg(frame.size()) << HexPairs(frame, " ")
          << QStringLiteral("bool Send, ReadBuf=%1 %2 %3")
                 .arg(t.received.size())
                 .arg(t.received.size() > 0 ? At(t.received, 0) : 0)
                 .arg(t.received.size() > 1 ? At(t.received, 1) : 0);
    return t;
}

void checkReplyChecks(Input& in)
{
    const QByteArray bytes = in.chunk();
    if (bytes.isEmpty())
        return;
    FUZZ_CHECK(ConfigReplyCheck(bytesOf(bytes), static_cast<std::size_t>(bytes.size()))
               == ReferenceConfigVerdict(bytes, false));
    FUZZ_CHECK(ConfigChunkCheck(bytesOf(bytes), static_cast<std::size_t>(bytes.size()))
               == ReferenceConfigVerdict(bytes, true));
}

// With fast replies on, a configuration reply still ends at the idle gap: it
// has no trailing bytes.
void checkNoTrailingBytes(const Peer& peer)
{
    for (const FrameRecord& r : peer.records())
        FUZZ_CHECK(!r.trailing && r.link == LinkKind::Config);
}

void upload(Input& in, const PeerLine& line, std::uint8_t code)
{
    Peer peer(in, configReplyFromInput, line, LinkKind::Config);
    Session& s = peer.session();
    const auto& exchanges = peer.exchanges();
    const auto exchange = [&](int send) {
        return send < static_cast<int>(exchanges.size()) ? &exchanges[static_cast<std::size_t>(send)] : nullptr;
    };
    s.transfer.clear(); // as the window does before an upload
    const ConfigUploadResult result = ConfigUpload(s, code);

    QStringList trace;
    const Transaction command = transact(exchange(0), ConfigCommandBytes(code), false, trace);
    int sends = 1;
    QByteArray text;
    LinkError error = command.verdict;
    bool shown = ReferenceConfigChecksum(command.received) == 'V';
    bool unchecked = false;
    bool tooLarge = false;
    bool done = false;
    std::optional<std::size_t> failedChunk;
    while (error == LinkError::None && !done) {
        const QByteArray frame = ConfigFrameBytes(17, static_cast<std::uint16_t>(text.size()), 1, QByteArray(1, '\0'));
        trace << QStringLiteral("Comm ->(9) ") + HexPairs(frame.mid(4), "");
        const Transaction t = transact(exchange(sends++), frame, true, trace);
        error = t.verdict;
        // Sent once (no retries): a chunk without a valid checksum is taken
        // unless one was seen, and one seen after such a chunk fails the upload.
        const bool uncheckedBefore = unchecked;
        if (error == LinkError::None && ReferenceConfigChecksum(t.received) == 'V')
            shown = true;
        else if (error == LinkError::None && shown)
            error = LinkError::BadChecksum;
        else if (error == LinkError::None)
            unchecked = true;
        if (error == LinkError::None && uncheckedBefore && shown) {
            error = LinkError::BadChecksum;
            failedChunk = 0;
            break;
        }
        if (error != LinkError::None) {
            failedChunk = static_cast<std::size_t>(text.size());
            break;
        }
        const int n = t.received.size() >= 3 ? At(t.received, 2) : 0;
        if (n == 0) {
            done = true;
        } else if (text.size() + n > 49999) {
            trace << QStringLiteral("Upload ->(%1) does not fit 49999 bytes").arg(text.size() + n);
            tooLarge = true;
            break;
        } else {
            text += t.received.mid(3, n);
            trace << QStringLiteral("Upload ->(%1) ").arg(text.size()) << QStringLiteral("UP_NEXT ->(17) ");
        }
    }
    FUZZ_CHECK(peer.sends() == sends);
    FUZZ_CHECK(peer.trace() == trace);
    FUZZ_CHECK(result.error == error);
    FUZZ_CHECK(result.failedChunk == failedChunk);
    FUZZ_CHECK(result.tooLarge == tooLarge);
    if (done) {
        // Exactly the chunks, and nothing behind them in the cleared buffer.
        FUZZ_CHECK(result.length == text.size());
        const auto* bytes = reinterpret_cast<const char*>(s.transfer.bytes.data());
        FUZZ_CHECK(QByteArray::fromRawData(bytes, text.size()) == text);
        FUZZ_CHECK(std::all_of(s.transfer.bytes.begin() + text.size(), s.transfer.bytes.end(),
                               [](std::uint8_t b) { return b == 0; }));
    } else {
        FUZZ_CHECK(result.length == 0);
        FUZZ_CHECK(error != LinkError::None || tooLarge);
    }
    checkNoTrailingBytes(peer);
}

void download(Input& in, const PeerLine& line)
{
    // The text: up to 255 bytes from the input, or a counting run of any length
    // up to two bytes past what fits.
    QByteArray text;
    const std::uint8_t how = in.byte();
    if (how & 1) {
        const int length = in.u16() % 50002;
        const std::uint8_t first = in.byte();
        text.resize(length);
        for (int i = 0; i < length; ++i)
            text[i] = static_cast<char>(first + i);
    } else {
        text = in.chunk();
    }

    Peer peer(in, configReplyFromInput, line, LinkKind::Config);
    Session& s = peer.session();
    const auto& exchanges = peer.exchanges();
    const auto exchange = [&](int send) {
        return send < static_cast<int>(exchanges.size()) ? &exchanges[static_cast<std::size_t>(send)] : nullptr;
    };
    const auto result = ConfigDownload(s, bytesOf(text), static_cast<std::size_t>(text.size()));

    if (text.isEmpty() || text.size() > 49999) {
        FUZZ_CHECK(!result.value && result.error == LinkError::None);
        FUZZ_CHECK(peer.sends() == 0 && peer.trace().isEmpty());
        return;
    }
    QStringList trace;
    int sends = 0;
    // Each step's reply must hold what it announces, and its checksum once one was seen.
    bool shown = false;
    const auto step = [&](const QByteArray& frame) {
        const Transaction t = transact(exchange(sends++), frame, true, trace);
        if (t.verdict == LinkError::None && ReferenceConfigChecksum(t.received) == 'V')
            shown = true;
        else if (t.verdict == LinkError::None && shown)
            return LinkError::BadChecksum;
        return t.verdict;
    };
    LinkError error = step(ConfigCommandBytes(0x15));
    trace << (error == LinkError::None ? QStringLiteral("Command START Send ok")
                                       : QStringLiteral("Command START Send not ok"));
    for (int address = 0; error == LinkError::None && address < text.size(); address += 40) {
        const QByteArray chunk = text.mid(address, 40);
        const QByteArray frame = ConfigFrameBytes(16, static_cast<std::uint16_t>(address),
                                                  static_cast<std::uint8_t>(chunk.size()), chunk);
        trace << QStringLiteral("DOWN_NEXT   adr=%1 n=%2").arg(address).arg(chunk.size())
              << QStringLiteral("Comm ->(%1) ").arg(chunk.size() + 8) + HexPairs(frame.mid(4), " ")
              << QStringLiteral("Command NEXT Send length = %1").arg(frame.size());
        error = step(frame);
        trace << (error == LinkError::None ? QStringLiteral("Command NEXT Send ok")
                                           : QStringLiteral("Command NEXT Send not ok"));
    }
    if (error == LinkError::None) {
        error = step(ConfigCommandBytes(0x17));
        trace << (error == LinkError::None ? QStringLiteral("Command STOP Send ok!!!")
                                           : QStringLiteral("Command STOP Send not ok"));
    }
    FUZZ_CHECK(peer.sends() == sends);
    FUZZ_CHECK(peer.trace() == trace);
    FUZZ_CHECK(result.value == (error == LinkError::None));
    FUZZ_CHECK(result.error == error);
    checkNoTrailingBytes(peer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const PeerLine line = ReadPeerLine(in);
    const std::uint8_t mode = in.byte();
    checkReplyChecks(in);
    switch (mode % 3) {
    case 0:
        upload(in, line, cfg::kUploadConfig);
        break;
    case 1:
        upload(in, line, cfg::kUploadTestConfig);
        break;
    default:
        download(in, line);
        break;
    }
    return 0;
}
