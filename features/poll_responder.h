#pragma once
// The polled side of the line: the controller asks with frames beginning 0xAA and
// the program answers with frames beginning 0x55, built in place over the poll in
// the Frame buffer. Pure: the caller supplies the field texts and the local time,
// and shows the trace lines and makes the address-0 pause through the hooks.
//
// Poll (after any leading 0xFF fill bytes): 0 start byte 0xAA, 1 device address,
// 3 function code (1 date and time, 2 coefficients, 10 report); for function 10,
// 4 strand number and three big-endian single-precision values at 22, 26 and 30.
// The poll's length and checksum are not looked at.
#include "protocol/register_link.h"
#include "features/session.h"

#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace tessavin {

namespace poll {
constexpr std::uint8_t kPollStart = 0xAA;
constexpr std::uint8_t kAnswerStart = 0x55;
constexpr std::uint8_t kFill = 0xFF;

constexpr std::uint8_t kDateTime = 1;
constexpr std::uint8_t kCoefficients = 2;
constexpr std::uint8_t kReport = 10;

constexpr std::size_t kDateTimeAnswerSize = 165;
constexpr std::size_t kCoefficientsAnswerSize = 130;
constexpr std::size_t kReportAnswerSize = 6;

// Leading fill bytes are dropped one move at a time, each move shifting this many
// bytes one place towards the start, at most this many moves.
constexpr std::size_t kFillShift = 500;
// The poll's head: start byte, address, length and function code. Its bytes must
// all lie within the kFillShift + 1 bytes the drop moves; behind more fill (the
// drop has then repeated a byte into the head) the poll is not answered.
constexpr std::size_t kHeadSize = 4;
constexpr std::size_t kMostFillMoves = kFillShift + 1 - kHeadSize;

// Offsets of magnitude this large or larger have a minute count of 60 or more.
constexpr int kOffsetLimit = 3600;
} // namespace poll

// What answering one poll reads. The three texts are the `day`, `add1` (address 1)
// and `add2` (every other address) fields, read anew for every poll.
struct PollInputs {
    QString dayText;
    QString address1OffsetText;
    QString otherOffsetText;
    // The computer's local time when the poll came; the Device clock is this time
    // shifted by the address's Clock offset in seconds.
    QTime localTime;
    // The system's decimal separator, used in the reported values.
    QString decimalPoint = QStringLiteral(".");
};

struct PollHooks {
    // Receives every trace line in order; the window appends it to its Trace memo.
    std::function<void(const QString&)> trace;
    // Called before anything is shown for a poll from address 0; the window lets
    // the line rest for the address-0 pause there.
    std::function<void()> addressZeroPause;
};

struct PollOutcome {
    // Bytes to send from the Frame buffer's start; 0 when nothing is to be sent.
    std::size_t answerLength = 0;
    // Not empty for a field that cannot be used (the conversion message). Nothing
    // was traced or built then, and the responder ends.
    QString error;
};

// Drops leading 0xFF fill bytes from the Frame buffer; returns how many moves it made.
std::size_t DropFillBytes(FrameBuffer& frame);

// The Device clock: local time plus the offset when it is positive, minus its
// magnitude otherwise. Fails (nullopt) for a magnitude of kOffsetLimit or more.
std::optional<QTime> DeviceClock(QTime localTime, int offsetSeconds);

// A received value in general notation with up to 15 significant digits, widened
// exactly from single precision (0.8 shows as 0.800000011920929).
QString FormatReportedValue(float value, const QString& decimalPoint);

// Answers the poll at the start of the Frame buffer: drops fill bytes, reads the
// fields, writes the trace lines and builds the answer over the poll. Bytes of the
// buffer that the answer does not set keep what they held.
PollOutcome AnswerPoll(FrameBuffer& frame, const PollInputs& inputs, const PollHooks& hooks);

struct PollResponderHooks {
    // The field texts and the local time for one poll, read anew for each.
    std::function<PollInputs()> inputs;
    // Asked before and during every wait; true ends the loop.
    std::function<bool()> stopRequested;
    // A poll's first byte has come: true when the responder may use the Frame
    // buffer and the port for it (the window takes its exchange lock here). False:
    // a command owns them; the poll is read and left unanswered.
    std::function<bool()> claim;
    // A claimed poll has been answered (or not): the window gives the lock back.
    std::function<void()> release;
    // Trace lines and the address-0 pause; without a pause hook the link rests
    // for its address-0 pause.
    PollHooks poll;
};

struct PollResponderEnd {
    int polls = 0; // polls received
    int answered = 0; // answers sent
    // Not empty when a field could not be used (the conversion message); empty
    // when the loop was stopped.
    QString error;
};

// The responder loop: waits without limit for a poll, answers it from the Frame
// buffer, lets window events run, and again, until stopped or a field fails.
PollResponderEnd RunPollResponder(Session& session, const PollResponderHooks& hooks);

} // namespace tessavin
