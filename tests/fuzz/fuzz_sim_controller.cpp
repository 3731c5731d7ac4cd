// The emulated controller fed a run of requests: raw bytes, or register and
// configuration frames built whole (right lengths and checksums) around fuzzed
// contents, so the run reaches every command with any index, count and data.
// Nothing may crash; a reply to a well-formed register request passes the
// program's own reply check, and every configuration reply has its documented
// shape. A fault may be switched on first: then only the absence of crashes counts.
// Requests longer than the Frame buffer are handled too, but once one has been
// (it may have stored a script too long to come back in one reply), the replies
// are no longer held to what the program can receive.
#include "protocol/checksum.h"
#include "sim/controller.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessavin;
using namespace tessavin::sim;

namespace {

QByteArray withChecksum(QByteArray bytes, qsizetype from)
{
    const std::uint16_t crc = FrameChecksum(fuzz::bytesOf(bytes) + from, static_cast<std::size_t>(bytes.size() - from));
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

// 05 64, L, header checksum, then the body (command, function, index, count,
// data) and its checksum.
QByteArray registerFrame(const QByteArray& body)
{
    const int length = static_cast<int>(body.size()) + 2;
    QByteArray head("\x05\x64", 2);
    head.append(static_cast<char>(length & 0xFF));
    head.append(static_cast<char>((length >> 8) & 0xFF));
    return withChecksum(withChecksum(head, 0) + body, 6);
}

// 05 64 03 0B, unit, function, address, count (the data's length for functions
// 16 and 17, the command code otherwise), data, checksum from offset 4.
QByteArray configFrame(std::uint8_t function, std::uint16_t address, std::uint8_t code, const QByteArray& data)
{
    QByteArray frame("\x05\x64\x03\x0B\x01", 5);
    const bool withData = function == cfg::kFunctionWrite || function == cfg::kFunctionRead;
    const int count = withData ? static_cast<int>(data.size()) : code;
    frame.append(static_cast<char>(function));
    frame.append(static_cast<char>(address >> 8));
    frame.append(static_cast<char>(address & 0xFF));
    frame.append(static_cast<char>(count >> 8));
    frame.append(static_cast<char>(count & 0xFF));
    if (withData)
        frame += data;
    return withChecksum(frame, 4);
}

std::uint8_t at(const QByteArray& bytes, qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); }

// A register request the program could send: it fits the Frame buffer, its
// length field agrees with its size, and both checksums hold.
bool wellFormedRegisterRequest(const QByteArray& r)
{
    if (!ClassifyFrame(r).is(LinkKind::Register) || r.size() < 14 || r.size() > qsizetype(kFrameBufferSize))
        return false;
    const int length = at(r, 2) | (at(r, 3) << 8);
    return r.size() == length + 6 && ChecksumMatches(fuzz::bytesOf(r), 4)
        && ChecksumMatches(fuzz::bytesOf(r) + 6, static_cast<std::size_t>(length - 2));
}

bool knownRegisterCommand(std::uint8_t command)
{
    switch (command) {
    case reg::kScriptDown:
    case reg::kScriptUp:
    case reg::kLogBegin:
    case reg::kLogRecord:
    case reg::kLogClear:
    case reg::kLogCount:
    case reg::kLogCapacity:
    case reg::kIdent:
    case reg::kPressure:
    case reg::kLogStart:
    case reg::kLogStop:
    case reg::kArchiveBegin:
    case reg::kArchiveRecord:
    case reg::kRegistration:
        return true;
    default:
        return false;
    }
}

bool wellFormedConfigRequest(const QByteArray& r)
{
    const auto expected = ExpectedRequestLength(r);
    return ClassifyFrame(r).is(LinkKind::Config) && expected && r.size() == *expected && r.size() >= 12
        && ChecksumMatches(fuzz::bytesOf(r) + 4, static_cast<std::size_t>(r.size() - 6));
}

void checkRegisterReply(const QByteArray& request, const QByteArray& reply)
{
    FUZZ_CHECK(reply.isEmpty() != knownRegisterCommand(at(request, 6)));
    if (reply.isEmpty())
        return;
    FUZZ_CHECK(fuzz::ProgramAcceptsRegisterReply(reply));
    const int length = at(reply, 2) | (at(reply, 3) << 8);
    FUZZ_CHECK(reply.size() == length + 6 && at(reply, 0) == 0x05 && at(reply, 1) == 0x64);
    FUZZ_CHECK(at(reply, 6) == at(request, 6) && at(reply, 7) == at(request, 7)); // command and function echoed
}

// Unit (never 0), result code, data count, the data, checksum over all before it.
void checkConfigReply(const QByteArray& reply, const ControllerState& state)
{
    FUZZ_CHECK(reply.size() >= 5 && reply.size() == 3 + at(reply, 2) + 2);
    FUZZ_CHECK(at(reply, 0) != 0);
    FUZZ_CHECK(ChecksumMatches(fuzz::bytesOf(reply), static_cast<std::size_t>(reply.size() - 2)));
    const int result = at(reply, 1);
    FUZZ_CHECK(result == 0 || result == 1 || result == 0xFF || result == (state.statusCode & 0xFF));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    ControllerSettings settings;
    // Few records at start: making each costs a date conversion, and the ring's
    // handling does not depend on how many there are.
    settings.logCapacity = 1 + in.u16() % 2000;
    settings.logRecords = in.byte() % 32;
    settings.logRecordLength = 1 + in.u16() % 990;
    settings.archiveRecords = in.byte() % 16;
    settings.chunkSize = in.byte(); // 0 and beyond 255 are clamped by the controller
    settings.rebootSilence = std::chrono::milliseconds(in.byte() * 10);
    settings.loggingInterval = std::chrono::milliseconds(1 + in.byte());
    Controller controller(settings);
    controller.state().statusCode = in.byte();

    const std::uint8_t faultByte = in.byte();
    if (faultByte & 1) {
        Fault fault;
        fault.kind = static_cast<FaultKind>((faultByte >> 1) % 8);
        fault.times = (faultByte >> 4) % 4 - 1;
        fault.bytes = in.u16() % 2000 - 1;
        fault.pause = std::chrono::milliseconds(in.byte() - 1);
        const std::uint8_t target = in.byte();
        const std::uint8_t code = in.byte();
        if (target % 4 == 1)
            fault.target = FaultTarget::registerCommand(code);
        else if (target % 4 == 2)
            fault.target = FaultTarget::configCommand(code);
        else if (target % 4 == 3)
            fault.target = FaultTarget::configFunction(code);
        controller.addFault(fault);
    }

    auto now = SimClock::time_point{} + std::chrono::hours(1);
    int requests = 0;
    bool oversizedSeen = false;
    while (!in.empty()) {
        const std::uint8_t kind = in.byte();
        now += std::chrono::milliseconds(in.byte() * 20);
        QByteArray request;
        switch (kind % 3) {
        case 0:
            request = in.bytes(in.u16() % 1200);
            break;
        case 1: { // command, function, index, count, then the data (read in that order)
            const QByteArray body = in.bytes(6);
            request = registerFrame(body + in.bytes(in.u16() % 1100));
            break;
        }
        case 2: {
            const std::uint8_t function = in.byte();
            const std::uint16_t address = in.u16();
            const std::uint8_t code = in.byte();
            request = configFrame(function, address, code, in.chunk());
            break;
        }
        }
        controller.tick(now);
        const bool faultFree = controller.faults().empty();
        const bool rebooting = controller.state().silentUntil && now < *controller.state().silentUntil;
        const Reply reply = controller.handle(request, now);
        ++requests;
        oversizedSeen = oversizedSeen || request.size() > qsizetype(kFrameBufferSize);
        FUZZ_CHECK(controller.state().requestsHandled + controller.state().requestsRejected == requests);
        const EventLog& log = controller.state().eventLog;
        FUZZ_CHECK(log.count >= 0 && log.count <= log.capacity && log.begin >= 0 && log.begin < log.capacity);
        if (!faultFree || rebooting)
            continue;
        FUZZ_CHECK(reply.parts.size() <= 1);
        const QByteArray bytes = reply.bytes();
        if (wellFormedConfigRequest(request))
            checkConfigReply(bytes, controller.state());
        else if (wellFormedRegisterRequest(request) && !oversizedSeen)
            checkRegisterReply(request, bytes);
        else if (request.size() <= qsizetype(kFrameBufferSize))
            FUZZ_CHECK(bytes.isEmpty() || wellFormedRegisterRequest(request)); // anything else gets silence
    }
    return 0;
}
