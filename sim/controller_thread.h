#pragma once
// Runs an emulated Controller on the master side of a pseudo-terminal, on a
// thread of its own. The application (or a test's QSerialPort) opens slavePath().
//
//     tessavin::sim::ControllerThread sim;                 // default state
//     QString error;
//     if (!sim.start(&error))
//         QSKIP(qPrintable(error));                        // no pseudo-terminal here
//     sim.withController([](tessavin::sim::Controller& c) {
//         c.state().deviceNumber = 1234;
//         c.addFault({tessavin::sim::FaultKind::Silence,
//                     tessavin::sim::FaultTarget::registerCommand(0x2D), 1});
//     });
//     form.Edit1->setText(sim.slavePath());                // the app opens /dev/pts/N
//     ... press a button ...
//     QVERIFY(sim.waitForFrames(2, std::chrono::seconds(5)));   // request and reply
//     const auto log = sim.frames();
//     QCOMPARE(log[0].bytes.toHex(' '), QByteArray("05 64 08 00 46 f7 2c 06 00 00 00 00 8f b7"));
//     QCOMPARE(log[1].direction, tessavin::sim::Direction::Sent);
//
// A request is taken as soon as its length fields say it is complete, or after a
// short silence (framingGap) for bytes of no known frame; the reply follows after
// the turnaround, paced at `baud` when it is set.
//
// Pacing keeps each reply whole: the request is taken to end its time on the
// line after its first byte came, the reply starts a turnaround later, and it is
// written in one block when its last byte would have arrived. A thread that the
// system leaves waiting can make a reply late, but never opens a gap inside it.
// The parts of a reply split on purpose (FaultKind::Split) are written the same
// way, each later part right after its pause, so that the silence the program
// sees between them is the pause the fault asks for.
#include "sim/controller.h"
#include "sim/controller_polls.h"
#include "sim/line_model.h"
#include "sim/pseudo_terminal.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessavin::sim {

struct LineSettings {
    int baud = 0; // pace requests, replies and polls at 10 bits a byte; 0: no pacing
    std::chrono::milliseconds framingGap{8}; // silence that ends a frame of unknown length
    std::chrono::milliseconds turnaround{0}; // pause between a request and its reply
    std::chrono::milliseconds answerIdle{100}; // silence that ends a poll answer of wrong length
    std::chrono::milliseconds pollQuiet{500}; // scheduled polls wait for this long a pause in the requests
    RateMismatch mismatch = RateMismatch::Answer; // applies when baud is set and the requester's rate is known
};

class ControllerThread {
public:
    explicit ControllerThread(const ControllerSettings& settings = {});
    ~ControllerThread();
    ControllerThread(const ControllerThread&) = delete;
    ControllerThread& operator=(const ControllerThread&) = delete;

    // Opens a new pseudo-terminal and starts serving it. False (with *error) when
    // no pseudo-terminal can be had.
    bool start(QString* error = nullptr);
    void stop();
    bool running() const { return !stopping_; }
    QString slavePath() const;

    // Runs f on the controller under its lock; between two requests, never in
    // the middle of one.
    template <class F>
    auto withController(F&& f)
    {
        std::lock_guard lock(mutex_);
        return f(controller_);
    }
    ControllerState stateSnapshot() const;

    LineSettings lineSettings() const;
    void setLineSettings(const LineSettings& settings);

    // The frame log: every frame received and sent, in order.
    std::vector<LoggedFrame> frames() const;
    std::size_t frameCount() const;
    void clearFrames();
    // Waits until the log holds at least n frames (received and sent together).
    bool waitForFrames(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until at least n frames of one direction are logged.
    bool waitForFrames(Direction direction, std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until pred(log) is true.
    bool waitFor(const std::function<bool(const std::vector<LoggedFrame>&)>& pred,
                 std::chrono::milliseconds timeout) const;

    // Sends one poll now (between requests) and waits up to `timeout` for its answer.
    // Polls whose function asks for no answer wait the whole timeout.
    PollResult sendPoll(const PollSpec& pollSpec, std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Sends the polls one after another, one every `interval`, cycling, until
    // cleared with an empty list. Answers wait up to `answerTimeout`. A scheduled
    // poll waits until no request has come for pollQuiet and the slave side is
    // open, so that it does not fall into the application's exchanges. A request
    // that comes while a poll waits for its answer ends the wait and is served.
    void setPollSchedule(std::vector<PollSpec> polls, std::chrono::milliseconds interval,
                         std::chrono::milliseconds answerTimeout = std::chrono::seconds(3));
    // Every poll sent so far (by sendPoll and by the schedule), with its checks.
    std::vector<PollResult> pollResults() const;
    bool waitForPollResults(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    // Bytes received, and when their first and last byte came.
    struct Arrival {
        QByteArray bytes;
        SimClock::time_point first{};
        SimClock::time_point last{};
    };

    void run();
    // Sends the poll a caller waits for, or else the scheduled poll when it is
    // due; true when one went out.
    bool sendDuePoll(const LineSettings& line);
    // Reads what comes within the framing gap and serves every request that is
    // complete, or ended by the gap.
    void receiveRequests(Arrival& pending, const LineSettings& line);
    void serveRequest(QByteArray request, SimClock::time_point first, SimClock::time_point last);
    // A request from a port at another rate than the line's (RateMismatch).
    void serveMismatched(const QByteArray& request, SimClock::time_point first, SimClock::time_point last,
                         const LineSettings& line, int requesterBaud);
    PollResult doPoll(const PollSpec& pollSpec, std::chrono::milliseconds timeout);
    // Writes a poll, paced, and logs it; the time its last byte went out.
    SimClock::time_point sendPollBytes(const QByteArray& poll, const LineSettings& line);
    // The answer to a poll: until `expected` bytes (when above 0) or the answer
    // idle gap, at the latest at the deadline. A request that comes instead is
    // kept in carry_ and gives an empty answer.
    Arrival receiveAnswer(int expected, SimClock::time_point deadline, const LineSettings& line);
    void writeReply(const Reply& reply, const QByteArray& request, SimClock::time_point requestFirst);
    void log(LoggedFrame frame);
    bool sleepUnlessStopped(std::chrono::milliseconds duration);
    bool sleepUntilUnlessStopped(SimClock::time_point until);

    PseudoTerminal pty_;
    std::thread thread_;
    std::atomic<bool> stopping_{true}; // true while no thread serves the line

    mutable std::mutex mutex_; // the controller, line settings, poll queue
    Controller controller_;
    LineSettings line_;
    std::vector<PollSpec> schedule_;
    std::chrono::milliseconds scheduleInterval_{0};
    std::chrono::milliseconds scheduleTimeout_{3000};
    SimClock::time_point nextScheduled_{};
    std::size_t scheduleIndex_ = 0;
    SimClock::time_point lastRequest_{}; // thread only
    QByteArray carry_; // thread only: request bytes that interrupted a poll

    struct PendingPoll {
        PollSpec pollSpec;
        std::chrono::milliseconds timeout{0};
        std::promise<PollResult> promise;
    };
    std::deque<std::shared_ptr<PendingPoll>> pendingPolls_;

    mutable std::mutex logMutex_; // the frame log and the poll results
    mutable std::condition_variable logChanged_;
    std::vector<LoggedFrame> frames_;
    std::vector<PollResult> polls_;
};

// The controller of the window's --demo: its replies paced at 38400 baud, the
// demonstration's polls every 5 s.
void ConfigureDemo(ControllerThread& controller);

} // namespace tessavin::sim
