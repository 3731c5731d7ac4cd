#pragma once
// Helpers the core and window tests share: bytes from hex text, files, short
// link timings, a session on an in-memory far end, and the emulated
// controller's frame log and faults on a pseudo-terminal.
#include "serial/frame_log.h"
#include "sim/memory_line.h"
#include "testing/memory_port.h"
#include "features/session.h"
#include "serial/timing.h"
#include "sim/controller_thread.h"
#include "sim/pseudo_terminal.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTest>

#include <cstdint>

namespace tessavin::test {

// Bytes from hex text; blanks between the bytes are skipped.
inline QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// Silence costs little: five first-byte rounds of 1 + 20 ms, a 15 ms idle gap.
LinkTiming quickTiming();

QByteArray readFile(const QString& path); // "<unreadable>" when it cannot be read
bool writeFile(const QString& path, const QByteArray& bytes);
// n bytes of 'a' to 'z' over and over.
QByteArray letters(qsizetype n);
QList<int> range(int from, int to); // from..to, both included
// The system's words for a file that cannot be created because its folder does
// not exist ("No such file or directory" on Linux, "Path not found." on Windows).
QString missingFolderReason();

// The index fields of the register requests with this command among these frames.
QList<int> requestedIndexes(const QList<QByteArray>& frames, std::uint8_t command);

// What the emulated controller received, each frame whole, in order.
QList<QByteArray> receivedFrames(const sim::ControllerThread& sim);
inline QList<int> requestedIndexes(const sim::ControllerThread& sim, std::uint8_t command)
{
    return requestedIndexes(receivedFrames(sim), command);
}
void addFault(sim::ControllerThread& sim, sim::FaultKind kind, sim::FaultTarget target = sim::FaultTarget::any(),
              int times = -1, int bytes = -1);
// Whether this system gives out pseudo-terminals at all (one is opened and closed).
bool pseudoTerminalsExist();

// A session on an in-memory far end and a virtual clock, open, with the system's
// timings unless told otherwise. Its trace lines and frame records are collected.
struct MemoryLink {
    explicit MemoryLink(LinkTiming timing = {});
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>(clock);
    Session session;
    QStringList trace;
    std::vector<FrameRecord> records;
};

} // namespace tessavin::test

// A skip's reason starts with its kind in brackets, "[pty] ...": scripts/test
// fails on a skip unless TESSAVIN_ALLOW_SKIP lists that kind for the machine.
//
// Something that needs a pseudo-terminal did not start (the emulated controller,
// the window opening its port): a skip where the system has none, a failure where
// it has them.
#define SKIP_UNLESS_STARTED(started)                                                                                   \
    do {                                                                                                               \
        if (!(started)) {                                                                                              \
            if (!tessavin::test::pseudoTerminalsExist())                                                               \
                QSKIP("[pty] no pseudo-terminal can be had here");                                                     \
            QFAIL("not started (the emulated controller, or the port opened on it), "                                  \
                  "though this system has pseudo-terminals");                                                          \
        }                                                                                                              \
    } while (false)
