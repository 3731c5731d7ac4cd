#pragma once
// The emulated controller inside this process, behind a port, in real time: the
// window's --demo where the system has no pseudo-terminals (Windows). It is a
// MemoryLine whose virtual clock follows the computer's: each frame written is
// answered as the controller would, its reply paced at 38400 baud, and the
// demonstration's polls come every 5 s once no request has come for half a
// second, as tessavin-sim --demo-polls sends them.
#include "serial/byte_port.h"
#include "sim/memory_line.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace tessavin::sim {

class LiveLine : public BytePort {
public:
    explicit LiveLine(const ControllerSettings& settings = {});

    bool open(const QString& device, std::int32_t baud, PortOpenError* error) override;
    void close() override;
    bool isOpen() const override { return line_.port->isOpen(); }
    QString deviceName() const override { return line_.port->deviceName(); }
    void purge() override;
    bool write(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t bytesAvailable() override;
    std::size_t read(std::uint8_t* buf, std::size_t capacity) override;
    Wait waitReadable(std::chrono::milliseconds limit) override;

private:
    using ms = std::chrono::milliseconds;
    // Brings the line's clock to the computer's, delivering what fell due and
    // sending a poll when one is due.
    void sync();
    ms elapsed() const;

    MemoryLine line_;
    std::chrono::steady_clock::time_point start_;
    std::vector<PollSpec> polls_;
    std::size_t nextPoll_ = 0;
    ms pollDue_{0};
    ms lastRequest_{0};
};

} // namespace tessavin::sim
