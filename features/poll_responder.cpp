#include "features/poll_responder.h"

#include "protocol/checksum.h"
#include "util/conversions.h"

#include <cstdio>
#include <cstring>

namespace tessavin {

namespace {

// Fixed bytes of the date-and-time answer: month, two-digit year and three
// constants the controller expects at these places.
constexpr std::size_t kMonthAt = 56;
constexpr std::size_t kDayAt = 57;
constexpr std::size_t kYearAt = 58;
constexpr std::size_t kHourAt = 59;
constexpr std::size_t kMinuteAt = 60;
constexpr std::size_t kSecondAt = 61;

// The three coefficients 0.8, 2.0 and 1.0, single precision, least significant byte first.
constexpr std::uint8_t kCoefficientBytes[12] = {0xCD, 0xCC, 0x4C, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0x3F};
constexpr std::size_t kCoefficientsAt = 21;

constexpr std::size_t kStrandAt = 4;
constexpr std::size_t kValueOffsets[3] = {22, 26, 30};

float BigEndianFloat(const FrameBuffer& frame, std::size_t at)
{
    const std::uint32_t bits = (std::uint32_t{frame[at]} << 24) | (std::uint32_t{frame[at + 1]} << 16)
        | (std::uint32_t{frame[at + 2]} << 8) | std::uint32_t{frame[at + 3]};
    float value = 0;
    static_assert(sizeof value == sizeof bits);
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void SetHead(FrameBuffer& frame, std::size_t length, std::uint8_t code)
{
    frame[0] = poll::kAnswerStart;
    // frame[1], the address, stays as the poll had it.
    frame[2] = static_cast<std::uint8_t>(length);
    frame[3] = code;
}

QString MinuteSecond(QTime time) { return QStringLiteral("min: %1sec:%2").arg(time.minute()).arg(time.second()); }

void Trace(const PollHooks& hooks, const QString& line)
{
    if (hooks.trace)
        hooks.trace(line);
}

// The answers, each built over the poll; each returns its length.
std::size_t BuildDateTimeAnswer(FrameBuffer& frame, int day, QTime clock)
{
    SetHead(frame, poll::kDateTimeAnswerSize, 0x81);
    frame[4] = 0x01;
    frame[kMonthAt] = 8;
    frame[kDayAt] = static_cast<std::uint8_t>(day & 0xFF);
    frame[kYearAt] = 17;
    frame[kHourAt] = static_cast<std::uint8_t>(clock.hour());
    frame[kMinuteAt] = static_cast<std::uint8_t>(clock.minute());
    frame[kSecondAt] = static_cast<std::uint8_t>(clock.second());
    frame[62] = 9;
    frame[63] = 0x26;
    frame[69] = 0x0B;
    AppendChecksum(frame.data(), poll::kDateTimeAnswerSize - 2);
    return poll::kDateTimeAnswerSize;
}

std::size_t BuildCoefficientsAnswer(FrameBuffer& frame)
{
    SetHead(frame, poll::kCoefficientsAnswerSize, 0x82);
    frame[4] = 0x01;
    std::memcpy(frame.data() + kCoefficientsAt, kCoefficientBytes, sizeof kCoefficientBytes);
    AppendChecksum(frame.data(), poll::kCoefficientsAnswerSize - 2);
    return poll::kCoefficientsAnswerSize;
}

// Traces the three reported values and the computer's time as well.
std::size_t BuildReportAnswer(FrameBuffer& frame, const QString& addressText, const PollInputs& inputs,
                              const PollHooks& hooks)
{
    const QString strand = QString::number(frame[kStrandAt]);
    const QString prefixes[3] = {addressText + QStringLiteral(",нитка ") + strand + QStringLiteral("  22>   f: "),
                                 addressText + QStringLiteral("  26>   f: "),
                                 addressText + QStringLiteral("  30>   f: ")};
    for (int i = 0; i < 3; ++i)
        Trace(hooks, prefixes[i] + FormatReportedValue(BigEndianFloat(frame, kValueOffsets[i]), inputs.decimalPoint));
    SetHead(frame, poll::kReportAnswerSize, 0x83);
    AppendChecksum(frame.data(), poll::kReportAnswerSize - 2);
    const QTime now = inputs.localTime.isValid() ? inputs.localTime : QTime(0, 0);
    Trace(hooks, QStringLiteral("--->   ") + MinuteSecond(now));
    return poll::kReportAnswerSize;
}

} // namespace

std::size_t DropFillBytes(FrameBuffer& frame)
{
    static_assert(poll::kFillShift + 1 <= kFrameBufferSize);
    std::size_t moves = 0;
    while (frame[0] == poll::kFill && moves < poll::kFillShift) {
        std::memmove(frame.data(), frame.data() + 1, poll::kFillShift);
        ++moves;
    }
    return moves;
}

std::optional<QTime> DeviceClock(QTime localTime, int offsetSeconds)
{
    const std::int64_t magnitude = offsetSeconds < 0 ? -std::int64_t{offsetSeconds} : std::int64_t{offsetSeconds};
    if (magnitude >= poll::kOffsetLimit)
        return std::nullopt;
    const QTime base = localTime.isValid() ? localTime : QTime(0, 0);
    // Whole minutes and the remaining seconds form the span; only the time of day
    // is used, so the result wraps round midnight.
    const int span = static_cast<int>(magnitude / 60 * 60 + magnitude % 60);
    return base.addSecs(offsetSeconds > 0 ? span : -span);
}

QString FormatReportedValue(float value, const QString& decimalPoint)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.15g", static_cast<double>(value));
    QString shown = QString::fromLatin1(text);
    shown.replace(QLatin1Char('.'), decimalPoint);
    return shown;
}

PollOutcome AnswerPoll(FrameBuffer& frame, const PollInputs& inputs, const PollHooks& hooks)
{
    PollOutcome outcome;
    const bool headPlaced = DropFillBytes(frame) <= poll::kMostFillMoves;
    const std::uint8_t address = frame[1];

    const auto dayValue = ParseInteger(inputs.dayText);
    if (!dayValue) {
        outcome.error = NotAnIntegerMessage(inputs.dayText);
        return outcome;
    }
    const QString& offsetText = address == 1 ? inputs.address1OffsetText : inputs.otherOffsetText;
    const auto offset = ParseInteger(offsetText);
    if (!offset) {
        outcome.error = NotAnIntegerMessage(offsetText);
        return outcome;
    }
    const auto clock = DeviceClock(inputs.localTime, *offset);
    if (!clock) {
        outcome.error = TimeEncodeError();
        return outcome;
    }

    if (address == 0 && hooks.addressZeroPause)
        hooks.addressZeroPause();

    const QString addressText = QString::number(address);
    Trace(hooks, addressText + QStringLiteral(">   ") + MinuteSecond(*clock));

    if (!headPlaced || frame[0] != poll::kPollStart)
        return outcome;

    switch (frame[3]) {
    case poll::kDateTime:
        outcome.answerLength = BuildDateTimeAnswer(frame, *dayValue, *clock);
        break;
    case poll::kCoefficients:
        outcome.answerLength = BuildCoefficientsAnswer(frame);
        break;
    case poll::kReport:
        outcome.answerLength = BuildReportAnswer(frame, addressText, inputs, hooks);
        break;
    default:
        break;
    }
    return outcome;
}

PollResponderEnd RunPollResponder(Session& session, const PollResponderHooks& hooks)
{
    PollResponderEnd end;
    SerialLink& link = session.link;
    PollHooks pollHooks = hooks.poll;
    if (!pollHooks.addressZeroPause)
        pollHooks.addressZeroPause = [&link] { link.pause(link.timing().address0Pause); };
    const auto stopped = [&hooks] { return hooks.stopRequested && hooks.stopRequested(); };

    for (;;) {
        bool claimed = false;
        const std::size_t received = link.receiveAny(LinkKind::Poll, session.frame.data(), session.frame.size(),
                                                     stopped, [&] { claimed = !hooks.claim || hooks.claim(); });
        if (received == 0)
            break; // stopped
        ++end.polls;
        if (claimed) {
            const PollOutcome outcome = AnswerPoll(session.frame, hooks.inputs ? hooks.inputs() : PollInputs{},
                                                   pollHooks);
            if (outcome.error.isEmpty() && outcome.answerLength != 0) {
                link.sendBytes(LinkKind::Poll, session.frame.data(), outcome.answerLength);
                ++end.answered;
            }
            if (hooks.release)
                hooks.release();
            if (!outcome.error.isEmpty()) {
                end.error = outcome.error;
                break;
            }
        }
        if (stopped())
            break;
        link.pause(std::chrono::milliseconds(0)); // lets window events run once
    }
    return end;
}

} // namespace tessavin
