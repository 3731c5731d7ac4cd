#include "sim/controller_polls.h"

#include "protocol/checksum.h"

#include <cstring>

namespace tessavin::sim {

namespace {

constexpr int kReportPollLength = 36;
constexpr int kShortPollLength = 8;

// The three coefficients of the function 2 answer, least significant byte first.
const std::uint8_t kCoefficients[12] = {0xCD, 0xCC, 0x4C, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0x3F};

} // namespace

QByteArray BuildPoll(const PollSpec& pollSpec)
{
    const int length = pollSpec.function == 10 ? kReportPollLength : kShortPollLength;
    QByteArray poll(length, '\0');
    poll[0] = static_cast<char>(pollSpec.startByte);
    poll[1] = static_cast<char>(pollSpec.address);
    poll[2] = static_cast<char>(length);
    poll[3] = static_cast<char>(pollSpec.function);
    if (pollSpec.function == 10) {
        poll[4] = static_cast<char>(pollSpec.strand);
        for (int v = 0; v < 3; ++v) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &pollSpec.values[static_cast<std::size_t>(v)], sizeof bits);
            for (int i = 0; i < 4; ++i)
                poll[22 + 4 * v + i] = static_cast<char>((bits >> (24 - 8 * i)) & 0xFF);
        }
    }
    AppendChecksum(reinterpret_cast<std::uint8_t*>(poll.data()), static_cast<std::size_t>(length - 2));
    return QByteArray(pollSpec.fillBytes > 0 ? pollSpec.fillBytes : 0, '\xFF') + poll;
}

int ExpectedAnswerLength(const PollSpec& pollSpec)
{
    if (pollSpec.startByte != 0xAA || pollSpec.fillBytes > kMaxFillBytes)
        return 0;
    switch (pollSpec.function) {
    case 1:
        return 165;
    case 2:
        return 130;
    case 10:
        return 6;
    default:
        return 0;
    }
}

bool PollResult::ok() const
{
    if (!answerExpected)
        return answer.isEmpty();
    return startOk && addressOk && lengthOk && codeOk && checksumOk && payloadOk;
}

PollResult CheckPollAnswer(const PollSpec& pollSpec, const QByteArray& answer, std::optional<int> localTimeOfDaySeconds)
{
    PollResult r;
    r.pollSpec = pollSpec;
    r.answer = answer;
    const int expected = ExpectedAnswerLength(pollSpec);
    r.answerExpected = expected > 0;
    if (answer.size() >= 1)
        r.startOk = ByteAt(answer, 0) == 0x55;
    if (answer.size() >= 2)
        r.addressOk = ByteAt(answer, 1) == pollSpec.address;
    if (answer.size() >= 3)
        r.lengthOk = expected > 0 && answer.size() == expected && ByteAt(answer, 2) == expected;
    if (answer.size() >= 4)
        r.codeOk = ByteAt(answer, 3) == (pollSpec.function == 10 ? 0x83 : 0x80 + pollSpec.function);
    if (answer.size() >= 3)
        r.checksumOk = ChecksumMatches(reinterpret_cast<const std::uint8_t*>(answer.constData()),
                                       static_cast<std::size_t>(answer.size() - 2));
    if (!r.answerExpected)
        return r;

    if (pollSpec.function == 1) {
        r.payloadOk = answer.size() >= 70 && ByteAt(answer, 4) == 0x01 && ByteAt(answer, 56) == 8
            && ByteAt(answer, 58) == 17 && ByteAt(answer, 62) == 9 && ByteAt(answer, 63) == 0x26
            && ByteAt(answer, 69) == 0x0B;
        if (answer.size() >= 62) {
            r.day = ByteAt(answer, 57);
            r.hour = ByteAt(answer, 59);
            r.minute = ByteAt(answer, 60);
            r.second = ByteAt(answer, 61);
            if (localTimeOfDaySeconds) {
                int diff = (r.hour * 3600 + r.minute * 60 + r.second) - *localTimeOfDaySeconds;
                diff = ((diff % 86400) + 86400 + 43200) % 86400 - 43200;
                r.clockOffsetSeconds = diff;
            }
        }
    } else if (pollSpec.function == 2) {
        r.payloadOk = answer.size() >= 33 && ByteAt(answer, 4) == 0x01
            && std::memcmp(answer.constData() + 21, kCoefficients, sizeof kCoefficients) == 0;
    }
    return r;
}

} // namespace tessavin::sim
