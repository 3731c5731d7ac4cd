#pragma once
// The emulated logging controller: its state and its answers, as a pure state
// machine without I/O. Bytes of one request go in, the reply comes out (with the
// faults that are switched on applied to it). The controller checks a request,
// tells its link (controller_frames.h) and dispatches it to the answer for its
// command, which reads and changes the state: the stores (controller_stores.h)
// and the settings of each link. The reply it builds (controller_replies.h)
// then passes the faults and the noise (controller_faults.h). ControllerThread
// (controller_thread.h) runs it on a pseudo-terminal, MemoryLine (memory_line.h)
// behind an in-memory port; tests may also drive it directly:
//
//     tessavin::sim::Controller c;                       // default log, archive, configuration
//     c.state().eventLog.appendText(">2024/01/02 03:04:05 AT+X\r");
//     const auto reply = c.handle(QByteArray::fromHex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47"));
//     // reply.bytes() is the 12-byte word reply carrying the record count
#include "protocol/config_link.h"
#include "sim/controller_faults.h"
#include "sim/controller_frames.h"
#include "sim/controller_polls.h"
#include "sim/controller_replies.h"
#include "sim/controller_stores.h"
#include "protocol/register_link.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessavin::sim {

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

} // namespace tessavin::sim
