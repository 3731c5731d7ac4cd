#pragma once
// What the targets that drive whole exchanges share: a session on an in-memory
// far end and a virtual clock, with the system's timings, whose replies come
// from the fuzz input; and references worked out here, without the code under
// test, for what the program should then hold (the frame checksum, the register
// reply verdict, the echo rule, where a fast reply ends and what it leaves
// behind, the frames of both links).
//
// The first byte of every exchange target's input is the line (PeerLine): fast
// replies on or off, and the baud rate the port is opened at, which sets the
// guard gap.
//
// For every frame written the input says what comes back: silence, the device
// going away, a well-formed reply (made by the target), that reply damaged, cut
// short, behind an echo of the request or followed by more bytes, or any bytes
// at all, or a reply after which the device goes away. A reply comes in up to
// four parts: the first up to 13 s after the frame (within the first-byte
// rounds), the others less than the idle gap apart, so every reply is one reply
// to the program. With fast replies, the parts after the one that completes a
// register reply's stated length come within the guard gap after it, so they
// are in before the next request goes. What was written, when, and what was
// sent back and when is kept for the target's checks.
#include "tests/fuzz/fuzz_support.h"

#include "protocol/config_link.h"
#include "testing/memory_port.h"
#include "protocol/register_link.h"
#include "features/session.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin::fuzz {

// The frame checksum, bit by bit: reflected polynomial 0xA001, initial 0xFFFF.
inline std::uint16_t ReferenceCrc(const QByteArray& bytes, qsizetype from, qsizetype n)
{
    std::uint16_t crc = 0xFFFF;
    for (qsizetype i = from; i < from + n; ++i) {
        crc ^= static_cast<std::uint8_t>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

inline std::uint8_t At(const QByteArray& bytes, qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); }

// The checksum of bytes[from..] appended, low byte first.
inline QByteArray WithCrc(QByteArray bytes, qsizetype from)
{
    const std::uint16_t crc = ReferenceCrc(bytes, from, bytes.size() - from);
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

inline bool CrcAt(const QByteArray& bytes, qsizetype from, qsizetype n)
{
    const std::uint16_t crc = ReferenceCrc(bytes, from, n);
    return At(bytes, from + n) == (crc & 0xFF) && At(bytes, from + n + 1) == (crc >> 8);
}

// A register-link frame: two start bytes, L = body + 2, the header checksum, the
// body and its checksum.
inline QByteArray RegisterFrame(const QByteArray& body, std::uint8_t start0 = 0x05, std::uint8_t start1 = 0x64)
{
    const auto length = static_cast<std::uint16_t>(body.size() + 2);
    QByteArray head;
    head.append(static_cast<char>(start0));
    head.append(static_cast<char>(start1));
    head.append(static_cast<char>(length & 0xFF));
    head.append(static_cast<char>(length >> 8));
    return WithCrc(WithCrc(head, 0) + body, 6);
}

inline QByteArray Le16(std::uint16_t v)
{
    QByteArray out;
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
    return out;
}

// The plain 14-byte register request: command, function 6, index, count.
inline QByteArray RegisterRequest(std::uint8_t command, std::uint16_t index, std::uint16_t count)
{
    QByteArray body;
    body.append(static_cast<char>(command));
    body.append(static_cast<char>(6));
    return RegisterFrame(body + Le16(index) + Le16(count));
}

// A configuration-link frame: 05 64 and their checksum, unit 01, function,
// big-endian address, 00, count or code, data, checksum from offset 4.
inline QByteArray ConfigFrameBytes(std::uint8_t function, std::uint16_t address, std::uint8_t countOrCode,
                                   const QByteArray& data = {})
{
    QByteArray frame = WithCrc(QByteArray("\x05\x64", 2), 0);
    frame.append(static_cast<char>(0x01));
    frame.append(static_cast<char>(function));
    frame.append(static_cast<char>(address >> 8));
    frame.append(static_cast<char>(address & 0xFF));
    frame.append(static_cast<char>(0));
    frame.append(static_cast<char>(countOrCode));
    return WithCrc(frame + data, 4);
}

inline QByteArray ConfigCommandBytes(std::uint8_t code) { return ConfigFrameBytes(6, 0, code); }

// Upper-case hex pairs, each followed by the separator.
inline QString HexPairs(const QByteArray& bytes, const char* separator)
{
    const QByteArray gap(separator);
    QByteArray out;
    out.reserve(bytes.size() * (2 + gap.size()));
    for (const char c : bytes)
        out += QByteArray(1, c).toHex().toUpper() + gap;
    return QString::fromLatin1(out);
}

// The verdict on the bytes received as a register reply, in the documented order.
inline LinkError ReferenceRegisterVerdict(const QByteArray& r)
{
    if (r.isEmpty())
        return LinkError::NoReply;
    if (r.size() < 6)
        return LinkError::Truncated;
    if (!CrcAt(r, 0, 4))
        return LinkError::BadHeaderChecksum;
    const int length = At(r, 2) | (At(r, 3) << 8);
    if (length < 4 || length > static_cast<int>(kFrameBufferSize) - 6)
        return LinkError::LengthOutOfRange;
    if (r.size() < length + 6)
        return LinkError::Truncated;
    if (!CrcAt(r, 6, length - 2))
        return LinkError::BadBodyChecksum;
    return LinkError::None;
}

// The payload of a register reply that passed: bytes 8 to L + 3.
inline QByteArray RegisterPayload(const QByteArray& r) { return r.mid(8, (At(r, 2) | (At(r, 3) << 8)) - 4); }

// The verdict on a configuration reply: two bytes, not both zero; a chunk reply
// must also hold the data bytes its byte 2 announces.
inline LinkError ReferenceConfigVerdict(const QByteArray& r, bool chunk)
{
    if (r.isEmpty())
        return LinkError::NoReply;
    if (r.size() < 2 || (r[0] == 0 && r[1] == 0))
        return LinkError::InvalidReply;
    if (chunk && r.size() >= 3 && r.size() < 3 + At(r, 2))
        return LinkError::Truncated;
    return LinkError::None;
}

// The checksum behind a configuration reply's data, worked out on its own: the
// data is byte 2's count of bytes from offset 3 (none in a reply of two bytes);
// 'A' when the reply ends with it (or before), 'V' when the next two bytes are
// the checksum of all before them, 'F' otherwise.
inline char ReferenceConfigChecksum(const QByteArray& r)
{
    const qsizetype data = r.size() >= 3 ? 3 + At(r, 2) : r.size();
    if (r.size() <= data)
        return 'A';
    return r.size() >= data + 2 && CrcAt(r, 0, data) ? 'V' : 'F';
}

using ms = std::chrono::milliseconds;

// The line a target's session runs on, read from the first byte of its input:
// fast replies (bit 0) and the baud rate the port is opened at (bits 1-3).
struct PeerLine {
    bool fast = false;
    int baud = 38400;
};

inline PeerLine ReadPeerLine(Input& in)
{
    static constexpr int kBauds[] = {38400, 9600, 1200, 115200, 19200, 4800, 2400, 57600};
    const std::uint8_t b = in.byte();
    return {(b & 1) != 0, kBauds[(b >> 1) & 7]};
}

// The guard gap at a baud rate: 3.5 characters of 10 bits, rounded up to whole
// milliseconds, and never under 2 ms.
inline ms ReferenceGuardGap(int baud) { return ms(std::max(2, (35 * 1000 + baud - 1) / baud)); }

// Where a register reply ends with fast replies, counted in the bytes that came
// (with a leading echo): behind a copy of the request that more bytes follow,
// the reply is what follows; it ends at L + 6 when its header checksum is right,
// 4 <= L <= 994, and that many bytes came. Otherwise (a wrong header, L out of
// range, fewer than six bytes, bytes that stop short, or nothing but a copy or
// a part of the request) it states no end and ends at the idle gap.
inline std::optional<qsizetype> ReferenceStatedEnd(const QByteArray& request, const QByteArray& reply)
{
    if (request.startsWith(reply))
        return std::nullopt;
    const qsizetype from = reply.startsWith(request) ? request.size() : 0;
    const QByteArray r = reply.mid(from);
    if (r.size() < 6 || !CrcAt(r, 0, 4))
        return std::nullopt;
    const int length = At(r, 2) | (At(r, 3) << 8);
    if (length < 4 || length > static_cast<int>(kFrameBufferSize) - 6 || r.size() < length + 6)
        return std::nullopt;
    return from + length + 6;
}

// One frame written to the far end and what it sent back.
struct PeerExchange {
    QByteArray request;
    QByteArray reply; // every byte sent back, in order; empty: nothing came
    bool vanished = false; // the device went away (instead of answering, or right after)
    bool echoed = false; // the reply began with a copy of the request
    ms writtenAt{0}; // on the virtual clock
    // Each part of the reply: when it arrived (on the virtual clock), and how
    // many bytes of the reply had come with it.
    struct Arrival {
        ms at{0};
        qsizetype upTo = 0;
    };
    std::vector<Arrival> arrivals;
};

// What the program should hold after an exchange: behind a leading copy of the
// request followed by more bytes, the reply is what follows the copy; of that,
// at most `capacity` bytes.
inline QByteArray ExpectedReception(const PeerExchange& e, std::size_t capacity)
{
    QByteArray r = e.reply;
    if (!e.request.isEmpty() && r.size() > e.request.size() && r.startsWith(e.request))
        r.remove(0, e.request.size());
    return r.left(static_cast<qsizetype>(capacity));
}

// Why nothing came.
inline LinkError ArrivalError(const PeerExchange* e)
{
    if (!e)
        return LinkError::PortClosed; // nothing was written: the port was closed
    return e->vanished ? LinkError::PortLost : LinkError::NoReply;
}

// What a register exchange should leave, with fast replies on or off.
struct RegisterReception {
    QByteArray received; // the reply, as stored from the buffer's start
    LinkError verdict = LinkError::None; // its verdict, or why nothing came
    QByteArray logged; // the reply as the frame log records it (with its echo)
    // Fast replies: a reply that ended at its stated length ended at this moment;
    // the bytes after that end are logged as trailing bytes, those read with the
    // reply right after it, the others before the next request (or the close).
    std::optional<ms> endedAt;
    QByteArray trailingNow;
    QByteArray trailingLater;
    // Behind the reply the buffer reads zeros up to here (where an echo was
    // taken away, and trailing bytes read with the reply); beyond, it is unchanged.
    qsizetype zeroTo = 0;
};

inline RegisterReception ExpectedRegisterReception(const PeerExchange* e, bool fast)
{
    RegisterReception out;
    if (!e) {
        out.verdict = ArrivalError(e);
        return out;
    }
    const QByteArray& r = e->reply;
    const std::optional<qsizetype> end = fast ? ReferenceStatedEnd(e->request, r) : std::nullopt;
    const qsizetype count = end ? *end : r.size();
    const qsizetype echo = e->request.size();
    const qsizetype skip = echo > 0 && count > echo && r.startsWith(e->request) ? echo : 0;
    out.received = r.mid(skip, count - skip).left(static_cast<qsizetype>(kFrameBufferSize));
    out.verdict = out.received.isEmpty() ? ArrivalError(e) : ReferenceRegisterVerdict(out.received);
    out.logged = r.left(skip + out.received.size());
    qsizetype taken = r.size(); // the bytes read by the time the reply ended
    if (end) {
        // It ends when the part that completes it has come: a fast reply is
        // taken as its bytes come, from the first on.
        FUZZ_CHECK(!e->arrivals.empty());
        ms at = e->arrivals.front().at;
        for (const PeerExchange::Arrival& a : e->arrivals)
            if (a.upTo >= *end) {
                at = a.at;
                break;
            }
        out.endedAt = at;
        for (const PeerExchange::Arrival& a : e->arrivals)
            if (a.at <= at)
                taken = a.upTo;
        out.trailingNow = r.mid(*end, taken - *end);
        out.trailingLater = r.mid(taken);
    }
    out.zeroTo = std::min<qsizetype>(taken, kFrameBufferSize);

    // Fast replies promise the same verdict and the same payload as without them.
    if (fast) {
        const RegisterReception slow = ExpectedRegisterReception(e, false);
        FUZZ_CHECK(slow.verdict == out.verdict);
        if (out.verdict == LinkError::None)
            FUZZ_CHECK(RegisterPayload(slow.received) == RegisterPayload(out.received));
    }
    return out;
}

class Peer {
public:
    // Makes the well-formed reply to a request from the input.
    using GoodReply = std::function<QByteArray(const QByteArray& request, Input& in)>;

    // The replies of a register-link target (`link` Register) or of the
    // configuration link, on the line given.
    Peer(Input& in, GoodReply good, PeerLine line = {}, LinkKind link = LinkKind::Register)
        : in_(in)
        , good_(std::move(good))
        , line_(line)
        , link_(link)
        , clock_(std::make_shared<VirtualClock>())
        , port_(std::make_shared<MemoryPort>(clock_))
        , session_(std::make_unique<Session>(LinkTiming{}, port_, clock_))
    {
        port_->setResponder([this](const QByteArray& frame) { return respond(frame); });
        session_->link.frameLog().attachNotes([this](LinkKind, const QString& line) { trace_ << line; });
        session_->link.frameLog().attach([this](const FrameRecord& record) { records_.push_back(record); });
        // The frames' local time is not looked at; reading the computer's costs a system call a frame.
        session_->link.frameLog().setWallClock([] { return QDateTime(); });
        session_->link.setActivity([this](const char* mark) {
            if (mark[1] == '.')
                ++sends_;
        });
        session_->replies = line_.fast ? RegReplies::Fast : RegReplies::Standard;
        session_->link.openPort(QStringLiteral("memory"), line_.baud);
    }

    Session& session() { return *session_; }
    VirtualClock& clock() { return *clock_; }
    MemoryPort& port() { return *port_; }
    const PeerLine& line() const { return line_; }
    const std::vector<PeerExchange>& exchanges() const { return exchanges_; }
    const QStringList& trace() const { return trace_; }
    const std::vector<FrameRecord>& records() const { return records_; }
    // Frames the program tried to send (also to a closed port).
    int sends() const { return sends_; }

    // The reception to expect from the n-th frame the program tried to send.
    // Once the device is gone nothing more is written: the port is closed then,
    // unless it went away right after a reply that ended at its stated length
    // (fast replies), which nothing waited after; the next frame finds it gone.
    RegisterReception reception(int send) const
    {
        const auto n = static_cast<std::size_t>(send);
        if (n < exchanges_.size())
            return ExpectedRegisterReception(&exchanges_[n], line_.fast);
        RegisterReception none = ExpectedRegisterReception(nullptr, line_.fast);
        if (n == exchanges_.size() && n > 0 && exchanges_.back().vanished
            && ExpectedRegisterReception(&exchanges_.back(), line_.fast).endedAt)
            none.verdict = LinkError::PortLost;
        return none;
    }

    // Ends a register-link run: lets the bytes behind the last reply come, closes
    // the link (which logs them), and checks the whole frame log against what
    // went over the line: every frame written, as written, at its time; then its
    // reply with what the program counts of it (with its echo) and its verdict;
    // then, with fast replies, the bytes after a stated end as trailing bytes,
    // first those read with the reply, then the rest; after that, at most a
    // frame that found the device gone and replies that never came. A reply that
    // ended at its stated length did so when its last byte came, and the next
    // frame went the guard gap later (nothing else moves the clock between the
    // exchanges of these targets).
    void closeAndCheckRegisterLog()
    {
        const ms guard = ReferenceGuardGap(line_.baud);
        clock_->advance(guard);
        session_->link.close();
        std::size_t r = 0;
        const auto next = [&]() -> const FrameRecord& {
            FUZZ_CHECK(r < records_.size());
            return records_[r++];
        };
        for (std::size_t k = 0; k < exchanges_.size(); ++k) {
            const PeerExchange& e = exchanges_[k];
            const RegisterReception got = reception(static_cast<int>(k));
            const FrameRecord& tx = next();
            FUZZ_CHECK(tx.sent && !tx.trailing && tx.link == LinkKind::Register);
            FUZZ_CHECK(tx.bytes == e.request && tx.ms == e.writtenAt);
            FUZZ_CHECK(port_->writtenAt()[k].at == e.writtenAt);
            const FrameRecord& rx = next();
            FUZZ_CHECK(!rx.sent && !rx.trailing && rx.link == LinkKind::Register);
            FUZZ_CHECK(rx.bytes == got.logged && rx.verdict && *rx.verdict == got.verdict);
            if (!got.endedAt)
                continue;
            FUZZ_CHECK(rx.ms == *got.endedAt);
            if (!got.trailingNow.isEmpty()) {
                const FrameRecord& t = next();
                FUZZ_CHECK(!t.sent && t.trailing && !t.verdict && t.bytes == got.trailingNow && t.ms == *got.endedAt);
            }
            if (!got.trailingLater.isEmpty()) {
                const FrameRecord& t = next();
                FUZZ_CHECK(!t.sent && t.trailing && !t.verdict && t.bytes == got.trailingLater);
                FUZZ_CHECK(t.ms > *got.endedAt && t.ms <= *got.endedAt + guard);
            }
            if (k + 1 < exchanges_.size())
                FUZZ_CHECK(port_->writtenAt()[k + 1].at == *got.endedAt + guard);
        }
        FUZZ_CHECK(port_->writtenAt().size() == exchanges_.size());
        for (; r < records_.size(); ++r) {
            const FrameRecord& f = records_[r];
            FUZZ_CHECK(!f.trailing);
            if (!f.sent)
                FUZZ_CHECK(f.bytes.isEmpty() && f.verdict
                           && (*f.verdict == LinkError::PortLost || *f.verdict == LinkError::PortClosed));
        }
    }

private:
    std::vector<MemoryPort::Part> respond(const QByteArray& frame)
    {
        PeerExchange e;
        e.request = frame;
        e.writtenAt = clock_->now();
        e.reply = reply(frame, e);
        std::vector<MemoryPort::Part> parts;
        const bool statesEnd = line_.fast && link_ == LinkKind::Register;
        const std::optional<qsizetype> end = statesEnd ? ReferenceStatedEnd(frame, e.reply) : std::nullopt;
        if (!e.reply.isEmpty())
            parts = split(e.reply, end);
        ms last{0};
        qsizetype upTo = 0;
        for (const MemoryPort::Part& part : parts) {
            last += part.after;
            upTo += part.bytes.size();
            e.arrivals.push_back({e.writtenAt + last, upTo});
        }
        if (vanishAfterReply_) {
            // After the last part, within the idle gap that ends the reply; or,
            // when it ends at its stated length, within the guard gap after it,
            // so the next request finds the device gone.
            const int within = end ? static_cast<int>(ReferenceGuardGap(line_.baud).count()) : 59;
            port_->vanish(last + ms(1 + in_.byte() % within));
            vanishAfterReply_ = false;
            e.vanished = true;
        }
        e.echoed = e.reply.size() > frame.size() && e.reply.startsWith(frame);
        exchanges_.push_back(e);
        return parts;
    }

    QByteArray reply(const QByteArray& frame, PeerExchange& e)
    {
        const std::uint8_t kind = in_.byte();
        switch (kind % 12) {
        case 0:
            return {};
        case 1: { // a byte changed
            QByteArray r = good_(frame, in_);
            if (!r.isEmpty()) {
                const qsizetype at = in_.u16() % r.size();
                r[at] = static_cast<char>(r[at] ^ (in_.byte() | 1));
            }
            return r;
        }
        case 2: { // cut short
            const QByteArray r = good_(frame, in_);
            return r.left(r.isEmpty() ? 0 : 1 + in_.u16() % r.size());
        }
        case 3: // any bytes
            return in_.bytes(in_.u16() % 1100);
        case 4: { // behind an echo (from 128 on, and followed by more bytes)
            const QByteArray r = frame + good_(frame, in_);
            return kind < 128 ? r : r + in_.chunk();
        }
        case 5: // any bytes behind an echo
            return frame + in_.chunk();
        case 6: { // followed by more bytes (the reply read from the input first)
            const QByteArray r = good_(frame, in_);
            return r + in_.chunk();
        }
        case 7: { // padded to a length that may run past the buffer
            const QByteArray r = good_(frame, in_);
            const qsizetype to = in_.u16() % 1300;
            return r + QByteArray(std::max<qsizetype>(0, to - r.size()), static_cast<char>(in_.byte()));
        }
        case 8: // the device goes away within the first-byte wait
            port_->vanish(std::chrono::milliseconds(in_.u16() % 13000));
            e.vanished = true;
            return {};
        case 9: // an echo alone
            return frame;
        case 11: // a reply, then the device goes away
            vanishAfterReply_ = true;
            return good_(frame, in_);
        default:
            return good_(frame, in_);
        }
    }

    // Up to four parts: the first within the first-byte rounds, each of the
    // others less than the idle gap after the one before. With a stated end
    // (fast replies), the parts after the one that completes it come within the
    // guard gap after that one.
    std::vector<MemoryPort::Part> split(const QByteArray& bytes, std::optional<qsizetype> end)
    {
        const std::uint8_t how = in_.byte();
        ms first{0};
        switch (how & 3) {
        case 1:
            first = ms(in_.byte());
            break;
        case 2:
            first = ms(in_.u16() % 13000);
            break;
        case 3:
            first = ms(12900 + in_.byte() % 150); // the last rounds
            break;
        default:
            break;
        }
        const int parts = 1 + ((how >> 2) & 3);
        std::vector<qsizetype> cuts;
        for (int i = 1; i < parts; ++i)
            cuts.push_back(in_.u16() % bytes.size());
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(bytes.size());
        std::vector<MemoryPort::Part> out;
        qsizetype from = 0;
        ms guardLeft = ReferenceGuardGap(line_.baud);
        for (const qsizetype cut : cuts) {
            ms after = out.empty() ? first : ms(in_.byte() % 60);
            // An empty part would only add its gap to the next one's.
            if (cut > from) {
                if (end && from >= *end) {
                    after = ms(after.count() % (guardLeft.count() + 1));
                    guardLeft -= after;
                }
                out.push_back({after, bytes.mid(from, cut - from)});
            }
            from = cut;
        }
        return out;
    }

    Input& in_;
    GoodReply good_;
    PeerLine line_;
    LinkKind link_;
    std::shared_ptr<VirtualClock> clock_;
    std::shared_ptr<MemoryPort> port_;
    std::unique_ptr<Session> session_;
    std::vector<PeerExchange> exchanges_;
    QStringList trace_;
    std::vector<FrameRecord> records_;
    int sends_ = 0;
    bool vanishAfterReply_ = false;
};

// A register reply from the input: the request's command and function 6, then a
// payload of one-byte length (255: a two-byte length up to 1100, its bytes a
// repeated one), so replies up to the buffer's end and past it are cheap to make.
inline QByteArray RegisterReplyFromInput(const QByteArray& request, Input& in)
{
    QByteArray payload;
    const std::uint8_t n = in.byte();
    if (n == 255) {
        const qsizetype length = in.u16() % 1100; // read before the byte it repeats
        payload = QByteArray(length, static_cast<char>(in.byte()));
    } else {
        payload = in.bytes(n);
    }
    QByteArray body;
    body.append(request.size() > 6 ? request[6] : '\0');
    body.append(static_cast<char>(6));
    return RegisterFrame(body + payload);
}

} // namespace tessavin::fuzz
