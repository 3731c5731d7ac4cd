#include "sim/controller_faults.h"

#include "protocol/config_link.h"
#include "sim/controller_frames.h"

#include <algorithm>

namespace tessavin::sim {

void ReplyFaults::setNoise(const LineNoise& noise)
{
    noise_ = noise;
    noiseSource_.seed(noise.seed);
}

// Drawn from the 32-bit generator alone, so a seed gives the same noise with any
// standard library.
bool ReplyFaults::chance(double probability)
{
    return probability > 0.0 && static_cast<double>(noiseSource_()) < probability * 4294967296.0;
}

void ReplyFaults::applyNoise(Reply& reply)
{
    if (noise_.quiet() || reply.silent())
        return;
    if (chance(noise_.drop)) {
        reply.parts.clear();
        reply.note += reply.note.isEmpty() ? "noise: dropped" : "; noise: dropped";
        return;
    }
    int flipped = 0;
    for (ReplyPart& part : reply.parts)
        for (qsizetype i = 0; i < part.bytes.size(); ++i)
            if (chance(noise_.flip)) {
                part.bytes[i] = static_cast<char>(part.bytes[i] ^ (1 << (noiseSource_() % 8)));
                ++flipped;
            }
    if (flipped > 0)
        reply.note += (reply.note.isEmpty() ? "" : "; ") + QByteArray("noise: ") + QByteArray::number(flipped)
            + (flipped == 1 ? " bit flipped" : " bits flipped");
}

bool FaultTarget::matches(const QByteArray& r) const
{
    switch (scope) {
    case FaultTarget::Scope::AnyRequest:
        return true;
    case FaultTarget::Scope::RegisterCommand:
        return ClassifyFrame(r).is(LinkKind::Register) && r.size() > 6 && ByteAt(r, 6) == code;
    case FaultTarget::Scope::ConfigCommand:
        return ClassifyFrame(r).is(LinkKind::Config) && r.size() > 9 && ByteAt(r, 5) == cfg::kFunctionCommand
            && ByteAt(r, 9) == code;
    case FaultTarget::Scope::ConfigFunction:
        return ClassifyFrame(r).is(LinkKind::Config) && r.size() > 5 && ByteAt(r, 5) == code;
    }
    return false;
}

void ReplyFaults::add(const Fault& fault)
{
    if (fault.times != 0)
        faults_.push_back(fault);
}

std::vector<Fault> ReplyFaults::take(const QByteArray& request)
{
    std::vector<Fault> active;
    for (auto it = faults_.begin(); it != faults_.end();) {
        if (!it->target.matches(request)) {
            ++it;
            continue;
        }
        active.push_back(*it);
        if (it->times > 0 && --it->times == 0)
            it = faults_.erase(it);
        else
            ++it;
    }
    return active;
}

namespace {

// The faults of one reply, and the note that names them.
struct ActiveFaults {
    std::vector<Fault> faults;
    QByteArray note;

    const Fault* has(FaultKind kind) const
    {
        for (const auto& f : faults)
            if (f.kind == kind)
                return &f;
        return nullptr;
    }
    void addNote(const char* text)
    {
        if (!note.isEmpty())
            note += "; ";
        note += text;
    }
};

// The faults that change the reply's bytes: made longer, a checksum spoiled, cut
// short, garbage behind it.
void spoilBytes(ActiveFaults& active, bool registerLink, QByteArray& bytes)
{
    if (const Fault* f = active.has(FaultKind::Oversized)) {
        const int size = f->bytes > 0 ? f->bytes : 1200;
        if (registerLink && bytes.size() >= 10) {
            QByteArray payload = bytes.mid(8, bytes.size() - 10);
            for (int i = 0; payload.size() < size - 10; ++i)
                payload.append(static_cast<char>('A' + i % 26));
            bytes = RegisterReply(ByteAt(bytes, 6), ByteAt(bytes, 7), payload);
        } else {
            while (bytes.size() < size)
                bytes.append(static_cast<char>(0xEE));
        }
        active.addNote("fault: oversized");
    }
    if (active.has(FaultKind::BadHeaderChecksum)) {
        if (registerLink && bytes.size() > 4)
            bytes[4] = static_cast<char>(ByteAt(bytes, 4) ^ 0x01);
        else
            bytes[bytes.size() - 1] = static_cast<char>(ByteAt(bytes, bytes.size() - 1) ^ 0x01);
        active.addNote("fault: bad header checksum");
    }
    if (active.has(FaultKind::BadBodyChecksum)) {
        bytes[bytes.size() - 2] = static_cast<char>(ByteAt(bytes, bytes.size() - 2) ^ 0x01);
        active.addNote("fault: bad body checksum");
    }
    if (const Fault* f = active.has(FaultKind::Truncated)) {
        const qsizetype keep = f->bytes > 0 ? f->bytes : std::max<qsizetype>(1, bytes.size() / 2);
        bytes = bytes.left(std::min(keep, bytes.size()));
        active.addNote("fault: truncated");
    }
    if (const Fault* f = active.has(FaultKind::TrailingGarbage)) {
        const int n = f->bytes > 0 ? f->bytes : 3;
        static const char garbage[] = {'\xA5', '\x5A', '\xFF', '\x00', '\x13'};
        for (int i = 0; i < n; ++i)
            bytes.append(garbage[i % 5]);
        active.addNote("fault: trailing garbage");
    }
}

// The faults that change when the bytes come: a slow turnaround, a split.
std::vector<ReplyPart> timeParts(ActiveFaults& active, const QByteArray& bytes)
{
    std::chrono::milliseconds firstPause{0};
    if (const Fault* f = active.has(FaultKind::SlowTurnaround)) {
        firstPause = f->pause.count() >= 0 ? f->pause : std::chrono::milliseconds(500);
        active.addNote("fault: slow turnaround");
    }
    if (const Fault* f = active.has(FaultKind::Split); f && bytes.size() >= 2) {
        const qsizetype at1 = f->bytes > 0 ? std::min<qsizetype>(f->bytes, bytes.size() - 1) : bytes.size() / 2;
        const auto gap = f->pause.count() >= 0 ? f->pause : std::chrono::milliseconds(150);
        active.addNote("fault: split");
        return {{firstPause, bytes.left(at1)}, {gap, bytes.mid(at1)}};
    }
    return {{firstPause, bytes}};
}

} // namespace

Reply ReplyFaults::shape(const QByteArray& request, QByteArray bytes, QByteArray note)
{
    ActiveFaults active{take(request), std::move(note)};
    Reply out;
    if (active.has(FaultKind::Silence)) {
        active.addNote("fault: silence");
        out.note = active.note;
        return out;
    }
    spoilBytes(active, ClassifyFrame(request).is(LinkKind::Register), bytes);
    out.parts = timeParts(active, bytes);
    out.note = active.note;
    applyNoise(out);
    return out;
}

} // namespace tessavin::sim
