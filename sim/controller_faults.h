#pragma once
// Faults and noise: the rules that spoil the controller's replies on purpose
// (silence, bad checksums, cut, split, slow, padded), which requests they aim
// at, and the random noise of a poor line. They act on a reply between the
// controller and the line; the controller's state never sees them.
#include "sim/controller_replies.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace tessavin::sim {

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
    static FaultTarget registerCommand(std::uint8_t command) { return {Scope::RegisterCommand, command}; }
    // A function-6 frame with this command code.
    static FaultTarget configCommand(std::uint8_t code) { return {Scope::ConfigCommand, code}; }
    // Configuration data frames of this function (16 or 17).
    static FaultTarget configFunction(std::uint8_t function) { return {Scope::ConfigFunction, function}; }

    bool matches(const QByteArray& request) const;
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    FaultTarget target;
    int times = -1; // replies it still applies to; -1: until removed
    int bytes = -1; // see FaultKind; -1: the default
    std::chrono::milliseconds pause{-1}; // see FaultKind; negative: the default
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

} // namespace tessavin::sim
