#include "controller.h"

#include "checksum.h"

#include <QDateTime>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace tessavin::sim {

namespace {

bool checksumOver(const QByteArray& bytes, qsizetype from, qsizetype count)
{
    if (from < 0 || count < 0 || from + count + 2 > bytes.size())
        return false;
    return ChecksumMatches(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + from,
                           static_cast<std::size_t>(count));
}

void appendChecksum(QByteArray& bytes, qsizetype from)
{
    const std::uint16_t crc = FrameChecksum(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + from,
                                            static_cast<std::size_t>(bytes.size() - from));
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
}

const char* const kDefaultConfiguration
    = "{\n"
      "  \"device\": { \"number\": 1234, \"name\": \"pump station 4\" },\n"
      "  \"line\": { \"baud\": 38400, \"address\": 1 },\n"
      "  \"log\": { \"capacity\": 2000, \"period_min\": 10 },\n"
      "  \"modem\": { \"apn\": \"internet\", \"report\": \"+70000000000\" },\n"
      "  \"channels\": [\n"
      "    { \"id\": 1, \"kind\": \"pressure\", \"unit\": \"bar\", \"min\": 0.0, \"max\": 16.0 },\n"
      "    { \"id\": 2, \"kind\": \"temperature\", \"unit\": \"C\", \"min\": -40.0, \"max\": 85.0 },\n"
      "    { \"id\": 3, \"kind\": \"flow\", \"unit\": \"m3/h\", \"min\": 0.0, \"max\": 120.0 }\n"
      "  ]\n"
      "}\n";

const char* const kDefaultTestConfiguration
    = "{\n"
      "  \"test\": { \"mode\": \"loop\", \"period_s\": 5 },\n"
      "  \"outputs\": [ { \"id\": 1, \"state\": \"on\" }, { \"id\": 2, \"state\": \"off\" } ]\n"
      "}\n";

// Message heads and tails of the default log; the part between them is padded to
// the wanted length. Markers: '>' what the controller sent to its modem, '<' what
// came back, '#' its own events.
struct Template {
    char marker;
    const char* head;
    const char* tail;
};
const Template kTemplates[] = {
    {'>', "AT+CSQ", "\r"},
    {'<', "\r\n+CSQ: 17,99", "\r\n\r\nOK\r\n"},
    {'#', "power on, reset cause 3", ""},
    {'<', "pressure 1.52 bar, temperature 21.4 C", ""},
    {'>', "AT+CMGS=\"+70000000000\"", "\r"},
    {'<', "report sent", "\rOK"},
    {'<', "door contact open", "\r\n"},
};

QByteArray padded(const Template& t, int seq, int messageLength)
{
    QByteArray head(t.head);
    const QByteArray tail(t.tail);
    const QByteArray tag = " #" + QByteArray::number(seq);
    const char* filler = " ch1=1.50 ch2=21.4 ch3=37.2 in=0101 out=10 u=12.31V";
    QByteArray middle = tag;
    const qsizetype room = messageLength - head.size() - tail.size();
    if (middle.size() < room) {
        const QByteArray fill(filler);
        while (middle.size() < room)
            middle.append(fill.left(room - middle.size()));
    }
    return head + middle + tail;
}

} // namespace

// ---------------------------------------------------------------------------
// Framing

FrameKind ClassifyFrame(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const std::uint8_t first = ByteAt(bytes, 0);
    if (first == 0x55)
        return FrameKind::pollAnswer();
    if (first == 0xAA || first == 0xFF)
        return FrameKind::poll();
    if (first != 0x05 || bytes.size() < 2 || ByteAt(bytes, 1) != 0x64)
        return {};
    if (bytes.size() >= 4 && ByteAt(bytes, 2) == 0x03 && ByteAt(bytes, 3) == 0x0B)
        return {LinkKind::Config};
    return {LinkKind::Register};
}

std::optional<int> ExpectedRequestLength(const QByteArray& bytes)
{
    if (bytes.size() < 4 || ByteAt(bytes, 0) != 0x05 || ByteAt(bytes, 1) != 0x64)
        return std::nullopt;
    if (ByteAt(bytes, 2) == 0x03 && ByteAt(bytes, 3) == 0x0B) {
        // A register request never has a length of 0x0B03 (it would not fit the
        // 1000-byte buffer), so these four bytes mean the configuration link.
        if (bytes.size() < 10)
            return std::nullopt;
        const int function = ByteAt(bytes, 5);
        if (function == cfg::kFunctionCommand)
            return 12;
        if (function == cfg::kFunctionWrite || function == cfg::kFunctionRead)
            return 12 + ((ByteAt(bytes, 8) << 8) | ByteAt(bytes, 9));
        return std::nullopt;
    }
    return (ByteAt(bytes, 2) | (ByteAt(bytes, 3) << 8)) + 6;
}

// ---------------------------------------------------------------------------
// Event log and archive

void EventLog::reset(int newCapacity)
{
    capacity = std::max(0, newCapacity);
    records.assign(static_cast<std::size_t>(capacity), QByteArray());
    count = 0;
    begin = 0;
}

void EventLog::clear() { reset(capacity); }

void EventLog::appendText(const QByteArray& record)
{
    if (capacity <= 0)
        return;
    if (static_cast<int>(records.size()) != capacity)
        records.resize(static_cast<std::size_t>(capacity));
    begin = std::clamp(begin, 0, capacity - 1);
    records[static_cast<std::size_t>(begin)] = record;
    begin = (begin + 1) % capacity;
    count = std::min(count + 1, capacity);
}

QByteArray EventLog::at(int index) const
{
    if (index < 0 || index >= static_cast<int>(records.size()))
        return {};
    return records[static_cast<std::size_t>(index)];
}

QByteArray MakeLogRecord(char marker, int year, int month, int day, int hour, int minute, int second,
                         const QByteArray& message)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%c%04d/%02d/%02d %02d:%02d:%02d ", marker, year % 10000, month % 100,
                  day % 100, hour % 100, minute % 100, second % 100);
    return QByteArray(prefix) + message;
}

QByteArray SampleLogRecord(int index, const QDateTime& time, int messageLength)
{
    const Template& tpl = kTemplates[index % static_cast<int>(std::size(kTemplates))];
    return MakeLogRecord(tpl.marker, time.date().year(), time.date().month(), time.date().day(), time.time().hour(),
                         time.time().minute(), time.time().second(), padded(tpl, index + 1, messageLength));
}

std::vector<QByteArray> DefaultLogRecords(int count, int approxLength)
{
    std::vector<QByteArray> out;
    if (count <= 0)
        return out;
    out.reserve(static_cast<std::size_t>(count));
    const QDateTime start(QDate(2024, 3, 1), QTime(8, 0, 0));
    const int messageLength = std::max(0, approxLength - 21);
    for (int i = 0; i < count; ++i)
        out.push_back(SampleLogRecord(i, start.addSecs(static_cast<qint64>(i) * 37 + (i % 5) * 3), messageLength));
    return out;
}

QByteArray DefaultConfiguration() { return kDefaultConfiguration; }

QByteArray DefaultTestConfiguration() { return kDefaultTestConfiguration; }

void Archive::append(int year, int month, int day, int hour, int minute, int second, float value)
{
    begin = std::clamp(begin, 0, kSlots - 1);
    auto& r = records[static_cast<std::size_t>(begin)];
    r[0] = static_cast<std::uint8_t>(year - 2000);
    r[1] = static_cast<std::uint8_t>(month);
    r[2] = static_cast<std::uint8_t>(day);
    r[3] = static_cast<std::uint8_t>(hour);
    r[4] = static_cast<std::uint8_t>(minute);
    r[5] = static_cast<std::uint8_t>(second);
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        r[static_cast<std::size_t>(6 + i)] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFF);
    begin = (begin + 1) % kSlots;
}

void Archive::fillDefault(int count)
{
    const QDateTime start(QDate(2024, 3, 1), QTime(0, 0, 0));
    for (int i = 0; i < count; ++i) {
        const QDateTime t = start.addSecs(static_cast<qint64>(i) * 3600);
        const float value = static_cast<float>(1.5 + 0.25 * std::sin(i / 6.0) + 0.001 * (i % 7));
        append(t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second(),
               value);
    }
}

// ---------------------------------------------------------------------------
// Reply frames

QByteArray Reply::bytes() const
{
    QByteArray out;
    for (const auto& part : parts)
        out += part.bytes;
    return out;
}

QByteArray WordBytes(int value)
{
    QByteArray out(2, '\0');
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
    return out;
}

QByteArray LongBytes(std::uint32_t value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

QByteArray ConfigReply(std::uint8_t result, const QByteArray& payload)
{
    QByteArray out;
    out.append(static_cast<char>(0x01)); // the unit: never 0, so the reply always reads as valid
    out.append(static_cast<char>(result));
    out.append(static_cast<char>(std::min<qsizetype>(payload.size(), 255)));
    out += payload.left(255);
    appendChecksum(out, 0);
    return out;
}

QByteArray RegisterReply(std::uint8_t command, std::uint8_t function, const QByteArray& payload)
{
    const int length = static_cast<int>(payload.size()) + 4;
    QByteArray out;
    out.append(static_cast<char>(0x05));
    out.append(static_cast<char>(0x64));
    out += WordBytes(length);
    appendChecksum(out, 0);
    out.append(static_cast<char>(command));
    out.append(static_cast<char>(function));
    out += payload;
    appendChecksum(out, 6);
    return out;
}

// ---------------------------------------------------------------------------
// The controller

Controller::Controller(const ControllerSettings& settings)
{
    state_.eventLog.reset(settings.logCapacity);
    for (const auto& record : DefaultLogRecords(settings.logRecords, settings.logRecordLength))
        state_.eventLog.appendText(record);
    nextLogMessage_ = std::max(0, settings.logRecords);
    state_.archive.fillDefault(settings.archiveRecords);
    state_.chunkSize = settings.chunkSize;
    state_.rebootSilence = settings.rebootSilence;
    state_.loggingInterval = settings.loggingInterval;
    state_.configuration = DefaultConfiguration();
    state_.testConfiguration = DefaultTestConfiguration();
    setLineNoise(settings.noise);
}

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

Reply Controller::handle(const QByteArray& request, SimClock::time_point now)
{
    QByteArray note;
    QByteArray reply = answer(request, now, &note);
    if (reply.isEmpty()) {
        ++state_.requestsRejected;
        Reply silent;
        silent.note = note;
        return silent;
    }
    ++state_.requestsHandled;
    return faults_.shape(request, reply, note);
}

void Controller::tick(SimClock::time_point now)
{
    if (!state_.logging || state_.loggingInterval.count() <= 0)
        return;
    if (now - state_.lastLogAppend < state_.loggingInterval)
        return;
    state_.lastLogAppend = now;
    state_.eventLog.appendText(SampleLogRecord(nextLogMessage_, QDateTime::currentDateTime(), 39));
    ++nextLogMessage_;
    ++state_.loggingAppended;
}

QByteArray Controller::answer(const QByteArray& request, SimClock::time_point now, QByteArray* note)
{
    if (state_.silentUntil) {
        if (now < *state_.silentUntil) {
            *note = "silent: rebooting";
            return {};
        }
        state_.silentUntil.reset();
    }
    const FrameKind kind = ClassifyFrame(request);
    if (kind.is(LinkKind::Config))
        return answerConfig(request, now, note);
    if (kind.is(LinkKind::Register))
        return answerRegister(request, now, note);
    *note = "unrecognised bytes";
    return {};
}

namespace {

// Why a configuration request gets no answer at all; nullptr when it is whole.
const char* configFrameFault(const QByteArray& r)
{
    const auto expected = ExpectedRequestLength(r);
    if (r.size() < 12 || !expected)
        return "short or unknown configuration frame";
    if (r.size() != *expected)
        return "configuration frame of wrong length";
    if (!checksumOver(r, 4, r.size() - 6))
        return "bad checksum";
    return nullptr;
}

// The same for a register request.
const char* registerFrameFault(const QByteArray& r)
{
    if (r.size() < 14)
        return "short register frame";
    const int length = ByteAt(r, 2) | (ByteAt(r, 3) << 8);
    if (r.size() != length + 6)
        return "register frame of wrong length";
    if (!checksumOver(r, 0, 4))
        return "bad header checksum";
    if (!checksumOver(r, 6, length - 2))
        return "bad body checksum";
    return nullptr;
}

} // namespace

QByteArray Controller::answerConfig(const QByteArray& r, SimClock::time_point now, QByteArray* note)
{
    auto& s = state_;
    if (const char* fault = configFrameFault(r)) {
        *note = fault;
        return {};
    }
    const std::uint8_t function = ByteAt(r, 5);
    const int address = (ByteAt(r, 6) << 8) | ByteAt(r, 7);
    if (function == cfg::kFunctionCommand)
        return answerConfigCommand(ByteAt(r, 9), now, note);
    const int n = (ByteAt(r, 8) << 8) | ByteAt(r, 9);
    if (function == cfg::kFunctionRead) {
        const QByteArray& source = s.uploadActive ? s.uploadSource : QByteArray();
        const int chunk = std::clamp(s.chunkSize, 1, 255);
        const qsizetype left = std::max<qsizetype>(0, source.size() - address);
        return ConfigReply(0,
                           source.mid(std::min<qsizetype>(address, source.size()), std::min<qsizetype>(left, chunk)));
    }
    if (function == cfg::kFunctionWrite) {
        if (!s.downloadActive)
            *note = "data without START";
        const QByteArray chunk = r.mid(10, n);
        if (s.downloadBuffer.size() < address + chunk.size())
            s.downloadBuffer.resize(address + chunk.size(), '\0');
        std::memcpy(s.downloadBuffer.data() + address, chunk.constData(), static_cast<std::size_t>(chunk.size()));
        return ConfigReply(0);
    }
    *note = "unknown function";
    return ConfigReply(0xFF);
}

QByteArray Controller::answerConfigCommand(std::uint8_t code, SimClock::time_point now, QByteArray* note)
{
    auto& s = state_;
    switch (code) {
    case cfg::kStatusQuery:
        return ConfigReply(static_cast<std::uint8_t>(s.statusCode));
    case cfg::kSetTestMode:
        s.testMode = true;
        ++s.setTestCount;
        return ConfigReply(0);
    case cfg::kReboot:
        ++s.rebootCount;
        s.silentUntil = now + s.rebootSilence;
        s.testMode = false;
        s.uploadActive = false;
        s.downloadActive = false;
        return ConfigReply(0);
    case cfg::kUploadConfig:
        s.uploadSource = s.configuration;
        s.uploadActive = true;
        return ConfigReply(0);
    case cfg::kUploadTestConfig:
        s.uploadSource = s.testConfiguration;
        s.uploadActive = true;
        return ConfigReply(0);
    case cfg::kDownloadStart:
        s.downloadBuffer.clear();
        s.downloadActive = true;
        return ConfigReply(0);
    case cfg::kDownloadStop:
        if (!s.downloadActive) {
            *note = "STOP without START";
            return ConfigReply(1);
        }
        s.configuration = s.storeCut >= 0 ? s.downloadBuffer.left(s.storeCut) : s.downloadBuffer;
        s.downloadActive = false;
        ++s.downloadsStored;
        return ConfigReply(0);
    default:
        *note = "unknown command code";
        return ConfigReply(0xFF);
    }
}

QByteArray Controller::answerRegister(const QByteArray& r, SimClock::time_point now, QByteArray* note)
{
    if (const char* fault = registerFrameFault(r)) {
        *note = fault;
        return {};
    }
    auto payload = storePayload(r, now);
    if (!payload)
        payload = devicePayload(r);
    if (!payload) {
        *note = "unknown register command";
        return {};
    }
    return RegisterReply(ByteAt(r, 6), ByteAt(r, 7), *payload);
}

std::optional<QByteArray> Controller::storePayload(const QByteArray& r, SimClock::time_point now)
{
    auto& s = state_;
    const int index = ByteAt(r, 8) | (ByteAt(r, 9) << 8);
    switch (ByteAt(r, 6)) {
    case reg::kLogBegin:
        ++s.logBeginRequests;
        return WordBytes(s.eventLog.begin);
    case reg::kLogRecord:
        return s.eventLog.at(index);
    case reg::kLogClear:
        s.eventLog.clear();
        ++s.logClears;
        return WordBytes(0);
    case reg::kLogCount:
        return WordBytes(s.eventLog.count);
    case reg::kLogCapacity:
        return WordBytes(s.eventLog.capacity);
    case reg::kLogStart:
        s.logging = true;
        s.lastLogAppend = now;
        return WordBytes(1);
    case reg::kLogStop:
        s.logging = false;
        return WordBytes(0);
    case reg::kArchiveBegin:
        return WordBytes(s.archive.begin);
    case reg::kArchiveRecord: {
        if (index >= Archive::kSlots)
            return QByteArray();
        const auto& rec = s.archive.records[static_cast<std::size_t>(index)];
        return QByteArray(reinterpret_cast<const char*>(rec.data()), Archive::kRecordSize);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> Controller::devicePayload(const QByteArray& r)
{
    auto& s = state_;
    switch (ByteAt(r, 6)) {
    case reg::kIdent:
        return LongBytes(static_cast<std::uint32_t>(s.deviceNumber));
    case reg::kPressure:
        return LongBytes(std::bit_cast<std::uint32_t>(s.pressure));
    case reg::kRegistration:
        s.registered = true;
        ++s.registrationCount;
        return WordBytes(1);
    case reg::kScriptUp:
        return s.script;
    case reg::kScriptDown: {
        // The count says how many script bytes follow; the frame's length is the
        // authority when they disagree.
        const int length = ByteAt(r, 2) | (ByteAt(r, 3) << 8);
        const int count = ByteAt(r, 10) | (ByteAt(r, 11) << 8);
        const int n = std::min(count, length - 8);
        s.script = r.mid(12, std::max(0, n));
        ++s.scriptStores;
        return WordBytes(static_cast<int>(s.script.size()));
    }
    default:
        return std::nullopt;
    }
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

QByteArray HeardAtRate(const QByteArray& sent, int sentBaud, int readBaud)
{
    if (sentBaud <= 0 || readBaud <= 0 || sentBaud == readBaud)
        return sent;
    // The line as it carries `sent`: start bit, data bits low first, stop bit.
    std::vector<bool> line;
    line.reserve(static_cast<std::size_t>(sent.size()) * 10);
    for (const char c : sent) {
        line.push_back(false);
        for (int bit = 0; bit < 8; ++bit)
            line.push_back(((static_cast<std::uint8_t>(c) >> bit) & 1) != 0);
        line.push_back(true);
    }
    // Positions count bits of the sender; one bit of the receiver spans `ratio` of them.
    const double ratio = static_cast<double>(sentBaud) / readBaud;
    const auto level = [&](double at) {
        const auto i = static_cast<std::size_t>(at);
        return i >= line.size() || line[i];
    };
    QByteArray heard;
    double at = 0;
    for (;;) {
        // The next start: now when the line is low, else the next low bit.
        if (level(at)) {
            auto i = static_cast<std::size_t>(at) + 1;
            while (i < line.size() && line[i])
                ++i;
            if (i >= line.size())
                break;
            at = static_cast<double>(i);
        }
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (level(at + (1.5 + bit) * ratio))
                byte = static_cast<std::uint8_t>(byte | (1u << bit));
        heard.append(static_cast<char>(byte));
        at += 9.5 * ratio; // the middle of the stop bit
    }
    return heard;
}

} // namespace tessavin::sim
