#pragma once
// What the targets that drive whole exchanges share: a session on an in-memory
// far end and a virtual clock, with the system's timings, whose replies come
// from the fuzz input; and references worked out here, without the code under
// test, for what the program should then hold (the frame checksum, the register
// reply verdict, the echo rule, the frames of both links).
//
// For every frame written the input says what comes back: silence, the device
// going away, a well-formed reply (made by the target), that reply damaged, cut
// short, behind an echo of the request or followed by more bytes, or any bytes
// at all, or a reply after which the device goes away. A reply comes in up to four parts: the first up to 13 s after the
// frame (within the first-byte rounds), the others less than the idle gap apart,
// so every reply is one reply to the program. What was written and what was sent
// back is kept for the target's checks.
#include "fuzz_support.h"

#include "config_link.h"
#include "memory_port.h"
#include "register_link.h"
#include "session.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
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

// One frame written to the far end and what it sent back.
struct PeerExchange {
    QByteArray request;
    QByteArray reply;     // every byte sent back, in order; empty: nothing came
    bool vanished = false; // the device went away (instead of answering, or right after)
    bool echoed = false;   // the reply began with a copy of the request
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

class Peer {
public:
    // Makes the well-formed reply to a request from the input.
    using GoodReply = std::function<QByteArray(const QByteArray& request, Input& in)>;

    Peer(Input& in, GoodReply good)
        : in_(in), good_(std::move(good)), clock_(std::make_shared<VirtualClock>()),
          port_(std::make_shared<MemoryPort>(clock_)),
          session_(std::make_unique<Session>(LinkTiming{}, port_, clock_))
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
        session_->link.OpenPort(QStringLiteral("memory"), 38400);
    }

    Session& session() { return *session_; }
    VirtualClock& clock() { return *clock_; }
    const std::vector<PeerExchange>& exchanges() const { return exchanges_; }
    const QStringList& trace() const { return trace_; }
    const std::vector<FrameRecord>& records() const { return records_; }
    // Frames the program tried to send (also to a closed port).
    int sends() const { return sends_; }

private:
    std::vector<MemoryPort::Part> respond(const QByteArray& frame)
    {
        PeerExchange e;
        e.request = frame;
        e.reply = reply(frame, e);
        std::vector<MemoryPort::Part> parts;
        if (!e.reply.isEmpty())
            parts = split(e.reply);
        if (vanishAfterReply_) {
            // After the last part, within the idle gap that ends the reply.
            std::chrono::milliseconds last{0};
            for (const MemoryPort::Part& part : parts)
                last += part.after;
            port_->vanish(last + std::chrono::milliseconds(1 + in_.byte() % 59));
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
        case 4: // behind an echo
            return frame + good_(frame, in_);
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
    // others less than the idle gap after the one before.
    std::vector<MemoryPort::Part> split(const QByteArray& bytes)
    {
        using ms = std::chrono::milliseconds;
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
        for (const qsizetype cut : cuts) {
            const ms after = out.empty() ? first : ms(in_.byte() % 60);
            // An empty part would only add its gap to the next one's.
            if (cut > from)
                out.push_back({after, bytes.mid(from, cut - from)});
            from = cut;
        }
        return out;
    }

    Input& in_;
    GoodReply good_;
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
