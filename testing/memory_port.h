#pragma once
// A far end in memory, on a virtual clock: every frame written to it is handed to
// a responder, whose reply arrives in parts at the times it asks for; bytes can
// also arrive unasked (polls) and the device can vanish at a given time. The
// link's waits move the virtual clock to the next arrival, so a test of the
// 13-second silence takes no real time and still sees every round.
//
//     auto clock = std::make_shared<VirtualClock>();
//     auto port = std::make_shared<MemoryPort>(clock);
//     SerialLink link({}, port, clock);                      // the system's timings
//     port->script({hex("05 64 06 00 42 97 1C 06 23 01 3F 45")});
//     link.openPort("mem", 38400);
//     ... RegReadWord(link, frame, BuildRegRequest(frame, 0x1C)) reads 291 ...
#include "serial/byte_port.h"
#include "testing/virtual_clock.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin {

class MemoryPort : public BytePort {
public:
    using ms = std::chrono::milliseconds;

    // One piece of a reply: it arrives `after` the previous piece (the first one
    // `after` the frame was written).
    struct Part {
        ms after{0};
        QByteArray bytes;
    };
    // What the far end does with a frame written to it; no parts: silence.
    using Responder = std::function<std::vector<Part>(const QByteArray& frame)>;

    struct Written {
        ms at{0};
        QByteArray bytes;
    };

    explicit MemoryPort(std::shared_ptr<VirtualClock> clock);

    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // Answers each written frame at once with the next of these replies, then
    // with `otherwise` for ever. An empty reply is silence.
    void script(const QList<QByteArray>& replies, const QByteArray& otherwise = {});
    // Bytes the far end sends unasked, `after` from now.
    void arrive(const QByteArray& bytes, ms after = ms{0});
    // The device goes away `after` from now: waits report it lost, writes fail.
    void vanish(ms after = ms{0});
    // The next opens fail with this error (Kind::None: they work again).
    void refuseOpen(const PortOpenError& error) { refusal_ = error; }

    // Whether written frames are kept for written() and writtenAt() (on unless a
    // long run turns it off to keep its memory flat).
    void setKeepWritten(bool keep) { keepWritten_ = keep; }
    QList<QByteArray> written() const;
    const std::vector<Written>& writtenAt() const { return written_; }
    int opens() const { return opens_; }
    VirtualClock& clock() { return *clock_; }

    bool open(const QString& device, std::int32_t baud, PortOpenError* error) override;
    void close() override;
    bool isOpen() const override { return open_; }
    QString deviceName() const override { return open_ ? device_ : QString(); }
    void purge() override;
    bool write(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t bytesAvailable() override;
    std::size_t read(std::uint8_t* buf, std::size_t capacity) override;
    Wait waitReadable(ms limit) override;

private:
    struct Arrival {
        ms at{0};
        QByteArray bytes;
    };
    bool lost() const { return lostAt_ && clock_->now() >= *lostAt_; }
    // Moves every arrival that is due into the input.
    void deliver();

    std::shared_ptr<VirtualClock> clock_;
    Responder responder_;
    QList<QByteArray> scripted_;
    QByteArray otherwise_;
    std::vector<Arrival> arrivals_; // in time order
    QByteArray input_;
    std::vector<Written> written_;
    std::optional<ms> lostAt_;
    PortOpenError refusal_;
    bool open_ = false;
    QString device_;
    int opens_ = 0;
    bool keepWritten_ = true;
};

} // namespace tessavin
