#pragma once
// The seam between the link's rules and the device: a port that opens, purges,
// writes, and tells whether bytes can be read. The serial link (serial_link.h)
// runs its first-byte, idle-gap and capacity rules on any port; QSerialBytePort
// is the real one, MemoryPort (testing/memory_port.h) a far end in memory for tests.
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tessavin {

// Why a port did not open.
struct PortOpenError {
    enum class Kind {
        None,
        NoDeviceNamed, // the port field was empty
        BadBaud, // the baud rate is not a positive number
        NoSuchDevice,
        PermissionDenied, // the user may not open it (on Linux: not in the dialout group)
        Busy, // another program holds it
        LineSettings, // it opened but refused the line settings
        NotSerial, // a file, or a device that is no terminal
        Other,
    };
    Kind kind = Kind::None;
    QString device; // the device that was tried
    QString detail; // the system's own words
};

// One line for a person: "no such device /dev/ttyUSB0", "permission denied on
// /dev/ttyS0: the user must be in the dialout group", "/dev/ttyUSB0 is busy: another
// program has it open", ...
QString PortOpenErrorText(const PortOpenError& error);

class BytePort {
public:
    enum class Wait { Ready, TimedOut, Lost };

    virtual ~BytePort() = default;

    // Opens the device at the baud rate, 8 data bits, no parity, one stop bit.
    virtual bool open(const QString& device, std::int32_t baud, PortOpenError* error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString deviceName() const = 0;

    // Drops unsent output, then unread input.
    virtual void purge() = 0;
    // Writes the bytes and waits (briefly) for them to leave. False when the port is gone.
    virtual bool write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Bytes that can be read without waiting.
    virtual std::size_t bytesAvailable() = 0;
    // Reads up to `capacity` of them; never waits.
    virtual std::size_t read(std::uint8_t* buf, std::size_t capacity) = 0;
    // Waits up to `limit` until bytes can be read.
    virtual Wait waitReadable(std::chrono::milliseconds limit) = 0;
};

} // namespace tessavin
