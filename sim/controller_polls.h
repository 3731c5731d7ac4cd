#pragma once
// The controller as the polling side of the line: it sends 0xAA polls and checks
// the 0x55 answers that come back.
//
// Poll layout (controller to computer; offsets after any 0xFF fill bytes):
//   0 start byte 0xAA, 1 device address, 2 poll length, 3 function code
//   (1 date and time, 2 coefficients, 10 report), then for function 10:
//   4 strand number, 22/26/30 three floats, most significant byte first;
//   a Frame checksum closes every poll. Function 10 polls are 36 bytes, the
//   others 8 bytes.
// Answer layout (computer to controller): 0x55, the address, the answer's length
// (165, 130 or 6), answer code 0x81/0x82/0x83, ..., Frame checksum over all bytes
// before it. The date answer carries day (57), hour (59), minute (60), second (61).
#include <QByteArray>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace tessavin::sim {

// The byte at i of a frame, as a number.
inline std::uint8_t ByteAt(const QByteArray& bytes, qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); }

// The most fill bytes in front of a poll that the responder can answer: it drops
// fill by moving the first 501 bytes of its buffer (kFillShift + 1 in
// poll_responder.h), so the poll's head (start byte, address, length and function
// code) must lie within them. Polls behind more fill expect no answer.
inline constexpr int kMaxFillBytes = 501 - 4;

struct PollSpec {
    std::uint8_t address = 1;
    std::uint8_t function = 1; // 1, 2, 10; any other code is sent and expects no answer
    std::uint8_t startByte = 0xAA; // anything else expects no answer; never 0xFF, which the
                                   // responder drops as fill before reading the poll
    int fillBytes = 0; // leading 0xFF bytes; beyond kMaxFillBytes no answer is due
    std::uint8_t strand = 1; // function 10
    std::array<float, 3> values{12.5f, 0.8f, -3.25f}; // function 10, at 22, 26, 30
};

// The poll's bytes, fill bytes included.
QByteArray BuildPoll(const PollSpec& pollSpec);

// The answer length the poll asks for: 165, 130 or 6; 0 when no answer is due
// (another start byte or function code, or more than kMaxFillBytes fill bytes).
int ExpectedAnswerLength(const PollSpec& pollSpec);

// What came back for one poll, and what was checked.
struct PollResult {
    PollSpec pollSpec;
    QByteArray poll; // as sent
    QByteArray answer; // as received (empty: none)
    std::chrono::steady_clock::time_point sentAt{};
    std::chrono::milliseconds answerDelay{0}; // from the end of the poll to the answer's last byte

    bool answerExpected = false;
    bool interrupted = false; // a request came instead of an answer
    bool startOk = false; // byte 0 is 0x55
    bool addressOk = false; // byte 1 is the poll's address
    bool lengthOk = false; // byte 2 and the number of bytes both match the function
    bool codeOk = false; // 0x81, 0x82 or 0x83 as the function asks
    bool checksumOk = false; // Frame checksum over all bytes before it
    bool payloadOk = true; // function 2: the three fixed values 0.8, 2.0, 1.0 at 21..32

    // Function 1 answers: the device clock as answered.
    int day = -1, hour = -1, minute = -1, second = -1;
    // Function 1: the answered time of day less the local time of day when the
    // poll was sent, in seconds, folded into [-43200, 43200).
    std::optional<int> clockOffsetSeconds;

    // True when an answer was due and every check passed, or none was due and none came.
    bool ok() const;
};

// Checks an answer against its poll; `localTimeOfDaySeconds` is the computer's
// local time of day when the poll was sent (for clockOffsetSeconds).
PollResult CheckPollAnswer(const PollSpec& pollSpec, const QByteArray& answer,
                           std::optional<int> localTimeOfDaySeconds = std::nullopt);

} // namespace tessavin::sim
