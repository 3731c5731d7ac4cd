#pragma once
// Text forms of faults and polls, as the tessavin-sim command line takes them.
//
//   fault:  KIND[:TARGET][,times=N][,bytes=N][,pause=MS]
//           KIND   silence | bad-header | bad-body | truncated | split | garbage |
//                  oversized | slow
//           TARGET reg=CMD (a register-link command the controller knows, e.g. reg=0x1A) |
//                  cfg=CODE (a configuration command code it knows, e.g. cfg=0x3D) |
//                  fn=N (configuration data frames of function 16 or 17);
//                  without it, every request
//   poll:   FUNCTION[,addr=N][,fill=N][,strand=N][,start=N]
//           FUNCTION 1, 2 or 10; fill at most kMaxFillBytes; start: a start
//           byte other than 0xAA (and not 0xFF, a fill byte), which the
//           responder shows but does not answer
//           e.g. "1,addr=1" (date and time), "2,addr=2", "10,addr=5,strand=3"
//   store fault: cut=N   a download stores only its first N bytes
// Numbers are decimal (a leading 0 changes nothing) or 0x-prefixed hexadecimal.
// A refused text gets an error that says what was expected, without the option's
// name: the caller puts that in front.
#include "sim/controller.h"
#include "sim/controller_polls.h"
#include "sim/line_model.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

namespace tessavin::sim {

// A probability of line noise, 0 to 0.1 ("0.001", "1e-3"); otherwise nullopt
// and, e.g., "'0.5' is out of range (expected 0 to 0.1)".
std::optional<double> ParseNoiseProbability(const QString& text, QString* error = nullptr);

std::optional<Fault> ParseFault(const QString& text, QString* error = nullptr);
std::optional<PollSpec> ParsePoll(const QString& text, QString* error = nullptr);
// "garbage", "silent" or "answer".
std::optional<RateMismatch> ParseRateMismatch(const QString& text, QString* error = nullptr);
// The number of bytes a download keeps, from "cut=N".
std::optional<int> ParseStoreFault(const QString& text, QString* error = nullptr);

// The polls of the demonstration: date and time to address 1, coefficients to
// address 2, a report of three values from address 5, strand 3.
std::vector<PollSpec> DemoPolls();

// What a tessavin-sim command line asks for.
struct SimOptions {
    ControllerSettings settings;
    int statusCode = 0;
    std::optional<QByteArray> configuration; // --config: the file's bytes
    std::optional<QByteArray> testConfiguration; // --test-config
    std::vector<Fault> faults;
    std::vector<PollSpec> polls; // --demo-polls, then every --poll
    int baud = 0; // 0: the line is not paced
    RateMismatch mismatch = RateMismatch::Garbage; // --mismatch: a requester at another rate
    int storeCut = -1; // --store-fault cut=N; -1: downloads kept whole
    std::chrono::milliseconds turnaround{0};
    std::chrono::milliseconds pollInterval{5000};
    std::chrono::milliseconds pollTimeout{3000};
    QString linkPath; // --link; empty: none
    bool trace = false;
};

// Reads tessavin-sim's arguments (the program's name first). --help and --version
// print and end the process with status 0. A usage error gives nullopt and the
// message, which names the option, in *error.
std::optional<SimOptions> ParseSimOptions(const QStringList& arguments, QString* error);

} // namespace tessavin::sim
