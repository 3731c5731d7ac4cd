#pragma once
// The emulated logging controller: its state and its answers, as a pure state
// machine without I/O. Bytes of one request go in, the reply comes out (with the
// faults that are switched on applied to it). ControllerThread (controller_thread.h)
// runs it on a pseudo-terminal; tests may also drive it directly:
//
//     tessavin::sim::Controller c;                       // default log, archive, configuration
//     c.state().eventLog.appendText(">2024/01/02 03:04:05 AT+X\r");
//     const auto reply = c.handle(QByteArray::fromHex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47"));
//     // reply.bytes() is the 12-byte word reply carrying the record count
//
// The controller speaks three kinds of frame on the one line:
//  - configuration link: requests 05 64 03 0B, unit, function (6 command, 16 data,
//    17 block read), big-endian address, count or command code, data, checksum;
//    replies are: unit (non-zero), result code, data count, data, checksum;
//  - register and log link: requests 05 64, 16-bit length L (LE), header checksum,
//    command, function, index, count, data, body checksum; replies 05 64, L,
//    header checksum, the request's command and function, payload, body checksum
//    over the L - 2 bytes from offset 6;
//  - polls: the controller sends 0xAA polls and checks the 0x55 answers (controller_polls.h).
#include "config_link.h"
#include "controller_polls.h"
#include "frame_log.h"
#include "register_link.h"

#include <QByteArray>
#include <QDateTime>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace tessavin::sim {

using SimClock = std::chrono::steady_clock;

// The command codes are protocol/'s: cfg:: (config_link.h) and reg:: (register_link.h).

// Which link a frame belongs to, judged from its first bytes: one of the frame
// log's link kinds, and on the poll link whether the frame polls (0xAA, or fill
// in front of a poll) or answers one (0x55).
struct FrameKind {
    std::optional<LinkKind> link; // nullopt: bytes of no known frame
    bool answer = false; // a poll's answer
    bool operator==(const FrameKind&) const = default;

    bool is(LinkKind kind) const { return link == kind; }
    static FrameKind poll() { return {LinkKind::Poll, false}; }
    static FrameKind pollAnswer() { return {LinkKind::Poll, true}; }
};

// The length of the frame at the start of `bytes` once enough of it is there to
// tell: 12 (+ n) for the configuration link, L + 6 for the register link. nullopt
// while the length cannot be known yet, or for bytes of no known frame.
std::optional<int> ExpectedRequestLength(const QByteArray& bytes);
FrameKind ClassifyFrame(const QByteArray& bytes);

// The event log: a ring of text records with capacity, count and begin (the slot
// after the newest record).
struct EventLog {
    int capacity = 2000;
    int count = 0;
    int begin = 0;
    std::vector<QByteArray> records; // capacity entries; an unwritten slot is empty

    void reset(int newCapacity);
    void clear();
    void appendText(const QByteArray& record);
    // The record in a slot; empty for a slot never written or out of range.
    QByteArray at(int index) const;
};

// One record of the event log in its stored layout: marker, "YYYY/MM/DD hh:mm:ss "
// and the message, which may hold CR or CR LF.
QByteArray MakeLogRecord(char marker, int year, int month, int day, int hour, int minute, int second,
                         const QByteArray& message);

// A day of sensible traffic: `count` records about `approxLength` bytes long,
// every few of them with CR or CR LF inside, in time order. Deterministic.
std::vector<QByteArray> DefaultLogRecords(int count, int approxLength);
// Record `index` of that traffic (counting from 0), stamped `time`, its message
// `messageLength` bytes long (longer when its fixed words need it).
QByteArray SampleLogRecord(int index, const QDateTime& time, int messageLength);

// The archive: a ring of 1001 ten-byte records and its begin (the slot after the
// newest). Record: year - 2000, month, day, hour, minute, second, float LE.
struct Archive {
    static constexpr int kSlots = 1001;
    static constexpr int kRecordSize = 10;
    std::vector<std::array<std::uint8_t, kRecordSize>> records = std::vector<std::array<std::uint8_t, kRecordSize>>(
        kSlots);
    int begin = 0;

    void append(int year, int month, int day, int hour, int minute, int second, float value);
    // Fills `count` hourly records with a slowly changing value. Deterministic.
    void fillDefault(int count);
};

// The texts the controller starts with: its configuration, a JSON text of device,
// line, log, modem and channel settings, and its test configuration.
QByteArray DefaultConfiguration();
QByteArray DefaultTestConfiguration();

// What can go wrong with a reply.
enum class FaultKind {
    Silence, // no reply at all
    BadHeaderChecksum, // register link: header checksum off by one bit; configuration: its checksum's high byte
    BadBodyChecksum, // register link: body checksum off by one bit; configuration: its checksum's low byte
    Truncated, // only the first `bytes` bytes (default: half the reply, at least 1)
    Split, // the first `bytes` bytes (default: half), then `pause` of silence, then the rest
    TrailingGarbage, // the reply followed by `bytes` bytes of garbage (default 3)
    Oversized, // a reply of `bytes` bytes (default 1200); register link: L covers it all and
               // both checksums are right; configuration: the reply padded with filler
    SlowTurnaround, // the reply after `pause` (default 500 ms)
};

// Which requests a fault applies to.
struct FaultTarget {
    enum class Scope { AnyRequest, RegisterCommand, ConfigCommand, ConfigFunction } scope = Scope::AnyRequest;
    int code = 0;

    static FaultTarget any() { return {}; }
    bool matches(const QByteArray& request) const;
    static FaultTarget registerCommand(std::uint8_t command) { return {Scope::RegisterCommand, command}; }
    // A function-6 frame with this command code.
    static FaultTarget configCommand(std::uint8_t code) { return {Scope::ConfigCommand, code}; }
    // Configuration data frames of this function (16 or 17).
    static FaultTarget configFunction(std::uint8_t function) { return {Scope::ConfigFunction, function}; }
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    FaultTarget target;
    int times = -1; // replies it still applies to; -1: until removed
    int bytes = -1; // see FaultKind; -1: the default
    std::chrono::milliseconds pause{-1}; // see FaultKind; negative: the default
};

// The reply as it goes onto the line: one or more parts, each after a pause.
struct ReplyPart {
    std::chrono::milliseconds pauseBefore{0};
    QByteArray bytes;
};
struct Reply {
    std::vector<ReplyPart> parts; // empty: the controller stays silent
    QByteArray note; // why it is silent, or which faults shaped it

    bool silent() const { return parts.empty(); }
    QByteArray bytes() const; // all parts joined
};

// One frame on the line, as the controller's side logs it.
enum class Direction { Received, Sent };

struct LoggedFrame {
    Direction direction = Direction::Received;
    FrameKind kind;
    SimClock::time_point firstByte{};
    SimClock::time_point lastByte{};
    QByteArray bytes; // a reply split by a fault is logged once, all parts joined
    QByteArray note; // e.g. "bad checksum", "silent: rebooting", "fault: split"
};

// Everything the controller knows. Tests read and change it freely (through
// ControllerThread::withController when a thread runs it).
struct ControllerState {
    // Configuration link.
    int statusCode = 0; // answered to the status query in byte 1
    bool testMode = false;
    int setTestCount = 0;
    int rebootCount = 0;
    std::chrono::milliseconds rebootSilence{3000};
    std::optional<SimClock::time_point> silentUntil; // set by a reboot
    QByteArray configuration; // sent by upload 61, replaced by a download
    QByteArray testConfiguration; // sent by upload 24
    int chunkSize = 100; // bytes per block-read reply (1..255)
    QByteArray uploadSource; // the text the current upload reads from
    bool uploadActive = false;
    QByteArray downloadBuffer; // filled by function-16 frames after START
    bool downloadActive = false;
    int downloadsStored = 0; // STOPs that stored a text
    int storeCut = -1; // >= 0: a STOP stores only the first storeCut bytes

    // Register and log link.
    EventLog eventLog;
    bool logging = false;
    std::chrono::milliseconds loggingInterval{2000};
    SimClock::time_point lastLogAppend{};
    int loggingAppended = 0; // records appended while logging was on
    Archive archive;
    bool registered = false;
    int registrationCount = 0;
    std::int32_t deviceNumber = 1234;
    float pressure = 1.5f;
    QByteArray script;
    int scriptStores = 0;
    int logBeginRequests = 0; // 0x19 requests (log begin and "clear script" alike)
    int logClears = 0;

    // Requests seen, rejected (bad checksum, unknown) and answered.
    int requestsHandled = 0;
    int requestsRejected = 0;
};

// Noise on the line, reproducible from its seed. It hits the controller's
// replies only, never the requests it reads, so a request sent again meets
// fresh noise. Each reply byte has one random bit flipped with probability
// `flip`; a whole reply is left unsent with probability `drop` (0 to 0.1 each,
// as tessavin-sim takes them).
struct LineNoise {
    double flip = 0.0;
    double drop = 0.0;
    std::uint32_t seed = 1;

    bool quiet() const { return flip <= 0.0 && drop <= 0.0; }
};

// The faults switched on and the noise on the line: what happens to a reply
// between the controller and the line.
class ReplyFaults {
public:
    // Added rules apply to every matching reply until their `times` run out.
    void add(const Fault& fault);
    void clear() { faults_.clear(); }
    const std::vector<Fault>& list() const { return faults_; }
    // Noise from now on, its generator seeded afresh.
    void setNoise(const LineNoise& noise);

    // The reply as it goes onto the line: the faults that target the request
    // applied (each uses up one of its times), then the noise.
    Reply shape(const QByteArray& request, QByteArray reply, QByteArray note);

private:
    // The faults that apply to this request; each uses up one of its times.
    std::vector<Fault> take(const QByteArray& request);
    void applyNoise(Reply& reply);
    bool chance(double probability);

    std::vector<Fault> faults_;
    LineNoise noise_;
    std::mt19937 noiseSource_;
};

struct ControllerSettings {
    int logCapacity = 2000;
    int logRecords = 150; // records in the log at start
    int logRecordLength = 60; // their approximate length
    int archiveRecords = 300;
    int chunkSize = 100;
    std::chrono::milliseconds rebootSilence{3000};
    std::chrono::milliseconds loggingInterval{2000};
    LineNoise noise;
};

class Controller {
public:
    explicit Controller(const ControllerSettings& settings = {});

    ControllerState& state() { return state_; }
    const ControllerState& state() const { return state_; }

    // Handles one complete request (as framed by ExpectedRequestLength or by a
    // pause on the line) and returns the reply with the faults applied.
    Reply handle(const QByteArray& request, SimClock::time_point now = SimClock::now());

    // Lets time pass: while logging is on, appends a record every loggingInterval.
    void tick(SimClock::time_point now = SimClock::now());

    // Faults: added rules apply to every matching reply until their `times` run out.
    void addFault(const Fault& fault) { faults_.add(fault); }
    void clearFaults() { faults_.clear(); }
    const std::vector<Fault>& faults() const { return faults_.list(); }

    // Noise on the replies from now on, its generator seeded afresh.
    void setLineNoise(const LineNoise& noise) { faults_.setNoise(noise); }

    // The reply without faults, for a request (empty when the controller would not answer).
    QByteArray answer(const QByteArray& request, SimClock::time_point now, QByteArray* note);

private:
    QByteArray answerConfig(const QByteArray& request, SimClock::time_point now, QByteArray* note);
    QByteArray answerConfigCommand(std::uint8_t code, SimClock::time_point now, QByteArray* note);
    QByteArray answerRegister(const QByteArray& request, SimClock::time_point now, QByteArray* note);
    // The payload of the reply to a whole register request about the event log
    // or the archive; nullopt for another command.
    std::optional<QByteArray> storePayload(const QByteArray& request, SimClock::time_point now);
    // The same about the device, its registration or its script.
    std::optional<QByteArray> devicePayload(const QByteArray& request);

    ControllerState state_;
    ReplyFaults faults_;
    int nextLogMessage_ = 0;
};

// What the controller does with a request from a port set to another rate than
// the line's (on a pseudo-terminal, read from the settings its other side made).
enum class RateMismatch {
    Answer, // answer as if the rates matched
    Garbage, // take nothing in, and give the requester the bytes a receiver at
             // its rate makes of the reply (HeardAtRate): garbage
    Silent, // take nothing in, answer nothing
};

// The bytes a receiver at `readBaud` makes of `sent` at `sentBaud` (8 data bits,
// no parity, one stop bit, the line idle high around them): it starts a byte at
// each falling edge and samples the bits in the middle of its own bit times.
// The same rate, or a rate that is not positive, gives the bytes back unchanged.
QByteArray HeardAtRate(const QByteArray& sent, int sentBaud, int readBaud);

// Frame builders of the controller's side (used by the controller and by tests).
QByteArray ConfigReply(std::uint8_t result, const QByteArray& data = {});
QByteArray RegisterReply(std::uint8_t command, std::uint8_t function, const QByteArray& payload);
// The fields inside them, low byte first: a 16-bit word (of the value's low 16
// bits) and a 32-bit long.
QByteArray WordBytes(int value);
QByteArray LongBytes(std::uint32_t value);

} // namespace tessavin::sim
