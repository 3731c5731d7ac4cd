// The register link's exchanges against a far end that answers from the input,
// a few in a row on one session, with fast replies on or off (the input's first
// byte): plain and data requests, then RegExchange, RegExchangeRaw or a word,
// long, float or block read. Checked after each:
//  - the frame written is the request, byte for byte, once;
//  - the error agrees with the reference verdict on what should have been
//    received (the reply cut at 1000 bytes, and behind an echo of the request
//    the bytes that follow it, so an echo changes no verdict; with fast replies
//    the reply up to the end its header states, which changes no verdict
//    either), and the frame log records the reply with that verdict;
//  - a value comes back only from a valid reply whose payload holds it, and it
//    is the payload's; otherwise 0 and TooShort or the verdict; RegExchangeRaw
//    counts the bytes of the reply (with fast replies, up to its stated end);
//  - the Frame buffer holds exactly the bytes received (and zeros where an echo
//    was taken away, or trailing bytes were read with a fast reply); a block
//    read then moves exactly the L - 4 payload bytes to its start; nothing
//    beside the buffer in the session changes.
// At the end, the whole frame log: each reply as the program counts it, the
// bytes after a fast reply's stated end as trailing records behind it, the
// moment a fast reply ended and the guard gap before the next request.
#include "tests/fuzz/fuzz_peer.h"

#include <bit>
#include <vector>

using namespace tessavin;
using namespace tessavin::fuzz;

namespace {

enum class Op { Exchange, Raw, Word, Long, Float, Block };

QByteArray bytesOf(const FrameBuffer& frame, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n));
}

std::uint32_t le(const QByteArray& r, qsizetype at, int n)
{
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | At(r, at + i);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const PeerLine line = ReadPeerLine(in);
    Peer peer(in, RegisterReplyFromInput, line);
    Session& s = peer.session();
    // What lies behind the Frame buffer in the session is watched: a write past
    // its end inside the session would land there first.
    s.transfer.bytes.fill(0xA5);
    s.frame.fill(in.byte()); // whatever an older exchange left

    for (int round = 0; round < 8 && !in.empty(); ++round) {
        const std::uint8_t how = in.byte();
        const auto op = static_cast<Op>((how & 0x7F) % 6);
        const std::uint8_t command = in.byte();
        std::size_t length = 0;
        if (how & 0x80) {
            // A data request up to the buffer's end: its echo may fill the buffer.
            const std::size_t n = in.u16() % (kRegMaxData + 1);
            const std::uint8_t first = in.byte();
            std::vector<std::uint8_t> bytes(n);
            for (std::size_t i = 0; i < n; ++i)
                bytes[i] = static_cast<std::uint8_t>(first + i);
            length = BuildRegDataRequest(s.frame, command, bytes.data(), n);
            FUZZ_CHECK(length == kRegRequestSize + n);
        } else {
            const std::uint16_t index = in.u16();
            const std::uint16_t count = in.u16();
            length = BuildRegRequest(s.frame, command, index, count);
            FUZZ_CHECK(length == kRegRequestSize);
            FUZZ_CHECK(bytesOf(s.frame, length) == RegisterRequest(command, index, count));
        }
        const FrameBuffer before = s.frame;
        const QByteArray request = bytesOf(before, length);
        const std::size_t written = peer.exchanges().size();

        LinkError error = LinkError::None;
        std::uint32_t value = 0;
        switch (op) {
        case Op::Exchange:
            error = RegExchange(s.link, s.frame, length, s.replies);
            break;
        case Op::Raw: {
            const auto r = RegExchangeRaw(s.link, s.frame, length, s.replies);
            error = r.error;
            value = static_cast<std::uint32_t>(r.value);
            break;
        }
        case Op::Word: {
            const auto r = RegReadWord(s.link, s.frame, length, s.replies);
            error = r.error;
            value = r.value;
            break;
        }
        case Op::Long: {
            const auto r = RegReadLong(s.link, s.frame, length, s.replies);
            error = r.error;
            value = static_cast<std::uint32_t>(r.value);
            break;
        }
        case Op::Float: {
            const auto r = RegReadFloat(s.link, s.frame, length, s.replies);
            error = r.error;
            value = std::bit_cast<std::uint32_t>(r.value);
            break;
        }
        case Op::Block: {
            const auto r = RegReadBlock(s.link, s.frame, length, s.replies);
            error = r.error;
            value = static_cast<std::uint32_t>(r.value);
            break;
        }
        }

        // One frame written, the request; none once the port is gone.
        FUZZ_CHECK(peer.exchanges().size() <= written + 1);
        const PeerExchange* e = peer.exchanges().size() > written ? &peer.exchanges().back() : nullptr;
        if (e)
            FUZZ_CHECK(e->request == request);
        FUZZ_CHECK(peer.sends() == round + 1);
        const RegisterReception expect = peer.reception(round);
        const QByteArray& received = expect.received;
        const LinkError verdict = expect.verdict;

        // The reply is logged as the program counts it, with the verdict (the
        // whole log, trailing bytes and all, is checked at the end).
        const auto logged = std::find_if(peer.records().rbegin(), peer.records().rend(),
                                         [](const FrameRecord& r) { return !r.trailing; });
        FUZZ_CHECK(logged != peer.records().rend());
        FUZZ_CHECK(!logged->sent && logged->link == LinkKind::Register);
        FUZZ_CHECK(logged->verdict && *logged->verdict == verdict);
        FUZZ_CHECK(logged->bytes == expect.logged);

        // The buffer as received: the reply, zeros where an echo was taken away
        // or trailing bytes were read, then what was there before.
        FrameBuffer expected = before;
        std::copy(received.begin(), received.end(), expected.begin());
        for (qsizetype i = received.size(); i < expect.zeroTo; ++i)
            expected[static_cast<std::size_t>(i)] = 0;

        const bool valid = verdict == LinkError::None;
        const qsizetype payload = valid ? (At(received, 2) | (At(received, 3) << 8)) - 4 : -1;
        const auto reading = [&](qsizetype need) {
            if (!valid)
                return verdict;
            return payload < need ? LinkError::TooShort : LinkError::None;
        };
        switch (op) {
        case Op::Exchange:
            FUZZ_CHECK(error == (received.isEmpty() ? verdict : LinkError::None));
            break;
        case Op::Raw:
            FUZZ_CHECK(error == (received.isEmpty() ? verdict : LinkError::None));
            FUZZ_CHECK(value == static_cast<std::uint32_t>(received.size()));
            break;
        case Op::Word:
            FUZZ_CHECK(error == reading(2));
            FUZZ_CHECK(value == (error == LinkError::None ? le(received, 8, 2) : 0u));
            break;
        case Op::Long:
        case Op::Float:
            FUZZ_CHECK(error == reading(4));
            FUZZ_CHECK(value == (error == LinkError::None ? le(received, 8, 4) : 0u));
            break;
        case Op::Block:
            FUZZ_CHECK(error == reading(1));
            FUZZ_CHECK(value == (error == LinkError::None ? static_cast<std::uint32_t>(payload) : 0u));
            if (error == LinkError::None) {
                const FrameBuffer asReceived = expected;
                std::copy_n(asReceived.begin() + 8, payload, expected.begin());
            }
            break;
        }
        FUZZ_CHECK(s.frame == expected);
        FUZZ_CHECK(std::all_of(s.transfer.bytes.begin(), s.transfer.bytes.begin() + 2 * kFrameBufferSize,
                               [](std::uint8_t b) { return b == 0xA5; }));
    }
    peer.closeAndCheckRegisterLog();
    return 0;
}
