#include "sim/controller.h"

#include "protocol/checksum.h"

#include <QDateTime>

#include <algorithm>
#include <bit>
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
    // Records of about 60 bytes, as the default log's are.
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

} // namespace tessavin::sim
