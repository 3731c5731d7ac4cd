// One poll answered over a Frame buffer of any 1000 bytes, with any day and
// offset texts and any local time. Polls as the emulated controller sends them
// (any start byte, address, function, strand, values and fill it accepts) can be
// laid over the buffer's start; their answers must pass the controller's check.
#include "protocol/checksum.h"
#include "util/conversions.h"
#include "sim/controller_polls.h"
#include "tests/fuzz/fuzz_support.h"
#include "features/poll_responder.h"
#include "sim/sim_options.h"

#include <QStringList>

#include <bit>
#include <cstring>
#include <set>

using namespace tessavin;

namespace {

// The buffer after the fill bytes are dropped, worked out directly: m moves, m
// the number of leading fill bytes (at most kFillShift); each move shifts the
// bytes up to kFillShift one place, so the byte at kFillShift repeats behind them.
std::size_t fillMoves(const FrameBuffer& before)
{
    std::size_t m = 0;
    while (m < poll::kFillShift && before[m] == poll::kFill)
        ++m;
    return m;
}

FrameBuffer afterDrop(const FrameBuffer& before)
{
    const std::size_t m = fillMoves(before);
    FrameBuffer after = before;
    for (std::size_t j = 0; j <= poll::kFillShift; ++j)
        after[j] = j + m <= poll::kFillShift ? before[j + m] : before[poll::kFillShift];
    return after;
}

// The offsets an answer of this length sets; the rest of the buffer keeps its bytes.
std::set<std::size_t> setByAnswer(std::size_t length)
{
    std::set<std::size_t> set{0, 2, 3, length - 2, length - 1};
    if (length == poll::kDateTimeAnswerSize)
        set.insert({4, 56, 57, 58, 59, 60, 61, 62, 63, 69});
    if (length == poll::kCoefficientsAnswerSize) {
        set.insert(4);
        for (std::size_t i = 21; i < 33; ++i)
            set.insert(i);
    }
    return set;
}

QString fieldText(fuzz::Input& in, bool numeric, int range)
{
    if (!numeric)
        return QString::fromUtf8(in.chunk());
    const int blanks = in.byte() % 3;
    const std::int32_t raw = in.i32();
    const int value = range > 0 ? raw % range : raw;
    const QString text = QString(blanks, QLatin1Char(' ')) + QString::number(value);
    FUZZ_CHECK(ParseInteger(text) == value); // a typed integer reads as itself
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.byte();
    const bool layPoll = mode & 1;
    const bool numeric = mode & 2;

    sim::PollSpec pollSpec;
    const int fill = in.u16() % 1000;
    const int address = in.byte();
    const int function = in.byte();
    const int strand = in.byte();
    const int start = mode & 4 ? in.byte() : 0xAA;
    for (float& v : pollSpec.values)
        v = std::bit_cast<float>(in.u32());
    const std::uint32_t clock = in.u32();
    PollInputs inputs;
    inputs.localTime = mode & 8 ? QTime() : QTime::fromMSecsSinceStartOfDay(static_cast<int>(clock % 86400000));
    inputs.decimalPoint = mode & 16 ? QStringLiteral(",") : QStringLiteral(".");
    inputs.dayText = fieldText(in, numeric, 0);
    inputs.address1OffsetText = fieldText(in, numeric, 4000);
    inputs.otherOffsetText = fieldText(in, numeric, 4000);

    FrameBuffer frame{};
    const QByteArray fuzzed = in.bytes(frame.size());
    std::memcpy(frame.data(), fuzzed.constData(), static_cast<std::size_t>(fuzzed.size()));

    // A poll is laid over the buffer only when the emulator would send it.
    std::optional<sim::PollSpec> laid;
    if (layPoll) {
        laid = sim::ParsePoll(QStringLiteral("%1,addr=%2,fill=%3,strand=%4,start=%5")
                                  .arg(function)
                                  .arg(address)
                                  .arg(fill)
                                  .arg(strand)
                                  .arg(start));
        if (laid) {
            laid->values = pollSpec.values;
            const QByteArray poll = sim::BuildPoll(*laid);
            if (static_cast<std::size_t>(poll.size()) > frame.size())
                laid.reset();
            else
                std::memcpy(frame.data(), poll.constData(), static_cast<std::size_t>(poll.size()));
        }
    }

    const FrameBuffer frameIn = frame;
    const FrameBuffer before = afterDrop(frame);
    QStringList events;
    const PollHooks hooks{[&events](const QString& line) { events << line; },
                          [&events] { events << QStringLiteral("<pause>"); }};
    const PollOutcome outcome = AnswerPoll(frame, inputs, hooks);

    // The reference verdict on the fields.
    const std::uint8_t polledAddress = before[1];
    const auto day = ParseInteger(inputs.dayText);
    const QString& offsetText = polledAddress == 1 ? inputs.address1OffsetText : inputs.otherOffsetText;
    const auto offset = ParseInteger(offsetText);
    QString error;
    if (!day)
        error = NotAnIntegerMessage(inputs.dayText);
    else if (!offset)
        error = NotAnIntegerMessage(offsetText);
    else if (*offset <= -poll::kOffsetLimit || *offset >= poll::kOffsetLimit)
        error = TimeEncodeError();
    FUZZ_CHECK(outcome.error == error);
    if (!error.isEmpty()) {
        FUZZ_CHECK(outcome.answerLength == 0 && events.isEmpty() && frame == before);
        return 0;
    }

    // The answer: a known function behind the start byte gets its answer, which
    // holds its own length and checksum; no other byte of the buffer changes. A
    // head that the drop has filled with a repeated byte gets none.
    std::size_t expectedLength = 0;
    if (before[0] == poll::kPollStart && fillMoves(frameIn) + 4 <= poll::kFillShift + 1) {
        if (before[3] == poll::kDateTime)
            expectedLength = poll::kDateTimeAnswerSize;
        else if (before[3] == poll::kCoefficients)
            expectedLength = poll::kCoefficientsAnswerSize;
        else if (before[3] == poll::kReport)
            expectedLength = poll::kReportAnswerSize;
    }
    FUZZ_CHECK(outcome.answerLength == expectedLength);
    if (expectedLength == 0) {
        FUZZ_CHECK(frame == before);
    } else {
        FUZZ_CHECK(frame[0] == poll::kAnswerStart && frame[1] == polledAddress && frame[2] == expectedLength);
        FUZZ_CHECK(ChecksumMatches(frame.data(), expectedLength - 2));
        const auto set = setByAnswer(expectedLength);
        for (std::size_t i = 0; i < frame.size(); ++i)
            FUZZ_CHECK(set.count(i) || frame[i] == before[i]);
    }

    // The trace: the pause first for address 0, the device clock's line, and for
    // a report its three values and the computer's time.
    const int base = inputs.localTime.isValid() ? inputs.localTime.msecsSinceStartOfDay() / 1000 : 0;
    const int deviceSeconds = ((base + *offset) % 86400 + 86400) % 86400;
    QStringList expected;
    if (polledAddress == 0)
        expected << QStringLiteral("<pause>");
    expected << QStringLiteral("%1>   min: %2sec:%3")
                    .arg(polledAddress)
                    .arg(deviceSeconds / 60 % 60)
                    .arg(deviceSeconds % 60);
    FUZZ_CHECK(events.mid(0, expected.size()) == expected);
    FUZZ_CHECK(events.size() == expected.size() + (expectedLength == poll::kReportAnswerSize ? 4 : 0));

    if (!laid)
        return 0;
    // The emulated controller's check of the answer it gets for its own poll.
    const QByteArray answer(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(outcome.answerLength));
    const sim::PollResult result = sim::CheckPollAnswer(*laid, answer, base);
    FUZZ_CHECK(result.ok());
    if (result.answerExpected && laid->function == poll::kDateTime) {
        FUZZ_CHECK(result.day == (*day & 0xFF));
        FUZZ_CHECK(result.clockOffsetSeconds == *offset);
    }
    // A report poll that lies whole within the bytes the fill drop moves shows its values.
    if (outcome.answerLength == poll::kReportAnswerSize && laid->fillBytes + 36 <= int(poll::kFillShift) + 1)
        for (int i = 0; i < 3; ++i)
            FUZZ_CHECK(
                events.at(events.size() - 4 + i)
                    .endsWith(QStringLiteral("f: ")
                              + FormatReportedValue(laid->values[static_cast<std::size_t>(i)], inputs.decimalPoint)));
    return 0;
}
