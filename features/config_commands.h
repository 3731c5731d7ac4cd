#pragma once
// The device control commands of the configuration link: each is one Command
// frame without data, built in a Config frame buffer of its own. Only the status
// query, which changes nothing, is sent again when it fails (retry.h).
#include "config_link.h"

#include <QString>

namespace tessavin {

struct Session;

// Status codes of the status query.
namespace config_status {
constexpr int kFailed = -1; // the transaction failed
constexpr int kOk = 0;
constexpr int kBadJson = 1;
constexpr int kNoMemory = 2;
constexpr int kNoFile = 3;
} // namespace config_status

// Builds the Command frame for the code and runs the transaction; the reply is
// left in `frame`. Sent once: most commands change the controller.
LinkError RunConfigCommand(Session& session, ConfigFrame& frame, std::uint8_t code);

// Command 0x37: byte 1 of the reply (0..255); -1 with the error when the
// transaction fails.
LinkResult<int> StatusQuery(Session& session);
// Command 0x36: None when the transaction succeeds.
LinkError SetTestMode(Session& session);
// Command 0x63: None when the transaction succeeds. Closing the port afterwards
// is the caller's.
LinkError RebootController(Session& session);

// What a status query result means: "NOT OK = -1" (the transaction failed),
// "OK", "NOT OK = " followed by "bad json", "no memory", "no file" or nothing.
QString StatusQueryText(int status);

} // namespace tessavin
