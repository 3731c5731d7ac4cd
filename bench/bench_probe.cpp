// How long the probe takes to find one emulated controller among four ports and
// six baud rates, with the system's default first-byte limit of the probe (150 ms).
//
// Four pseudo-terminals: on one the emulated controller, its line at one rate,
// giving the garbage a receiver at another rate makes of its replies; on the
// other three a controller that never answers (a port with nothing attached).
// The controller is placed where the probe reaches it first, in the middle and
// last; each is found one after another and in parallel, three runs each, and
// the median is reported. Target: found within 3 s.
//
// Status 1 when a run does not find the controller where it is.
#include "sim/controller_thread.h"
#include "features/probe.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace tessavin;

namespace {

const QList<qint32> kRates{4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kPorts = 4;
constexpr int kRuns = 3;
constexpr double kTargetSeconds = 3.0;

struct Place {
    const char* name;
    int port; // index of the controller's port
    qint32 baud; // its line's rate
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // other benchmarks' arguments are ignored here
    std::vector<std::unique_ptr<sim::ControllerThread>> lines;
    QStringList ports;
    for (int i = 0; i < kPorts; ++i) {
        auto line = std::make_unique<sim::ControllerThread>();
        QString error;
        if (!line->start(&error)) {
            std::printf("probe bench skipped: %s\n", qPrintable(error));
            return 0;
        }
        ports << line->slavePath();
        lines.push_back(std::move(line));
    }

    const Place places[] = {
        {"first port, first rate", 0, kRates.constFirst()},
        {"third port, third rate", 2, kRates.at(2)},
        {"last port, last rate", kPorts - 1, kRates.constLast()},
    };
    std::printf("Probe: one emulated controller among %d pseudo-terminals (the others silent) and %lld rates,\n"
                "first-byte limit 150 ms; median of %d runs. Target: found within %.0f s.\n",
                kPorts, static_cast<long long>(kRates.size()), kRuns, kTargetSeconds);
    std::printf("  controller at            mode        tries   found after   target\n");
    bool failed = false;
    for (const Place& place : places) {
        for (int i = 0; i < kPorts; ++i) {
            lines[i]->withController([&](sim::Controller& c) {
                c.clearFaults();
                if (i != place.port)
                    c.addFault(
                        {sim::FaultKind::Silence, sim::FaultTarget::any(), -1, -1, std::chrono::milliseconds(-1)});
            });
            sim::LineSettings line;
            line.baud = place.baud;
            line.mismatch = sim::RateMismatch::Garbage;
            lines[i]->setLineSettings(line);
        }
        for (const bool parallel : {false, true}) {
            std::vector<double> seconds;
            std::size_t tries = 0;
            for (int run = 0; run < kRuns; ++run) {
                ProbeRequest request;
                request.ports = ports;
                request.rates = kRates;
                request.parallel = parallel;
                QElapsedTimer timer;
                timer.start();
                const ProbeResult result = FindController(request);
                seconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
                tries = result.tries.size();
                if (!result.found || result.found->port != ports.at(place.port) || result.found->baud != place.baud) {
                    std::printf("  %-24s %-10s  not found where it is\n", place.name,
                                parallel ? "parallel" : "sequential");
                    failed = true;
                }
            }
            std::sort(seconds.begin(), seconds.end());
            const double median = seconds[seconds.size() / 2];
            std::printf("  %-24s %-10s  %5zu   %8.2f s    %s\n", place.name, parallel ? "parallel" : "sequential",
                        tries, median, median <= kTargetSeconds ? "met" : "missed");
        }
    }
    return failed ? 1 : 0;
}
