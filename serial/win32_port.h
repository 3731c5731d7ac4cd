#pragma once
// The real port on Windows: a COM port opened by CreateFileA as "\\.\COMn",
// with synchronous Win32 calls only (no overlapped I/O and no comm events, which
// wine reports without their event mask). Reads never block: the link's waits
// come from its own timing rules, and waitReadable polls the driver's input
// queue every millisecond.
#include "serial/byte_port.h"

#include <QByteArray>

#include <cstdint>

namespace tessavin {

class Win32BytePort : public BytePort {
public:
    Win32BytePort() = default;
    ~Win32BytePort() override;
    Win32BytePort(const Win32BytePort&) = delete;
    Win32BytePort& operator=(const Win32BytePort&) = delete;

    bool open(const QString& device, std::int32_t baud, PortOpenError* error) override;
    void close() override;
    bool isOpen() const override { return handle_ != nullptr; }
    QString deviceName() const override { return device_; }
    void purge() override;
    bool write(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t bytesAvailable() override;
    std::size_t read(std::uint8_t* buf, std::size_t capacity) override;
    Wait waitReadable(std::chrono::milliseconds limit) override;

private:
    // Moves what the driver holds into input_; false when the port is gone.
    bool drain();

    void* handle_ = nullptr; // a HANDLE; nullptr when closed
    QString device_;
    QByteArray input_; // bytes read from the driver, not yet taken
};

// "\\.\COM7" for "COM7" (COM10 and above open only in that form); a name that
// already starts with "\\" is kept.
QString Win32DevicePath(const QString& device);

} // namespace tessavin
