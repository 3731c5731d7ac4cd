#pragma once
// Text forms of faults and polls, as the tessavin-sim command line takes them.
//
//   fault:  KIND[:TARGET][,times=N][,bytes=N][,pause=MS]
//           KIND   silence | bad-header | bad-body | truncated | split | garbage |
//                  oversized | slow
//           TARGET reg=CMD (a register-link command, e.g. reg=0x1A) |
//                  cfg=CODE (a configuration command code, e.g. cfg=0x3D) |
//                  fn=N (configuration data frames of function 16 or 17);
//                  without it, every request
//   poll:   FUNCTION[,addr=N][,fill=N][,strand=N][,start=N]
//           e.g. "1,addr=1" (date and time), "2,addr=2", "10,addr=5,strand=3";
//           fill at most kMaxFillBytes; start any byte but 0xFF (a fill byte)
// Numbers may be decimal or 0x-prefixed hexadecimal.
#include "controller.h"
#include "controller_polls.h"

#include <QString>

#include <optional>
#include <vector>

namespace tessavin::sim {

std::optional<Fault> ParseFault(const QString& text, QString* error = nullptr);
std::optional<PollSpec> ParsePoll(const QString& text, QString* error = nullptr);

// The polls of the demonstration: date and time to address 1, coefficients to
// address 2, a report of three values from address 5, strand 3.
std::vector<PollSpec> DemoPolls();

} // namespace tessavin::sim
