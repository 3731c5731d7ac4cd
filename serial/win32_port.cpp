#include "serial/win32_port.h"

#include <windows.h>
#include <timeapi.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace tessavin {

namespace {

HANDLE asHandle(void* handle) { return static_cast<HANDLE>(handle); }

// The system's words for a Win32 error code.
QString systemText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                                : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return result;
}

PortOpenError::Kind openErrorKind(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        return PortOpenError::Kind::NoSuchDevice;
    // A COM port is opened exclusively: another program that holds it makes the
    // open fail with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortOpenError::Kind::Busy;
    default:
        return PortOpenError::Kind::Other;
    }
}

} // namespace

QString Win32DevicePath(const QString& device)
{
    if (device.startsWith(QLatin1String("\\\\")))
        return device;
    return QStringLiteral("\\\\.\\") + device;
}

Win32BytePort::~Win32BytePort() { close(); }

bool Win32BytePort::open(const QString& device, std::int32_t baud, PortOpenError* error)
{
    close();
    const auto fail = [&](PortOpenError::Kind kind, DWORD code) {
        if (error)
            *error = {kind, device, systemText(code)};
        return false;
    };
    const QByteArray path = Win32DevicePath(device).toLocal8Bit();
    HANDLE handle = CreateFileA(path.constData(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail(openErrorKind(GetLastError()), GetLastError());
    // Only the rate and the character frame change; the rest of the device
    // control block stays as the driver has it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return fail(PortOpenError::Kind::LineSettings, code);
    }
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(handle, &dcb)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return fail(PortOpenError::Kind::LineSettings, code);
    }
    // A read returns at once with what the driver holds. A write may take 10 ms
    // a byte and 10 ms more.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 10;
    SetCommTimeouts(handle, &timeouts);
    SetCommMask(handle, EV_TXEMPTY);
    // Pseudo-terminals and some adapters have no RTS line; that is harmless.
    EscapeCommFunction(handle, CLRRTS);
    PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    // Waits poll every millisecond: ask the system's timer for that resolution
    // while the port is open.
    timeBeginPeriod(1);
    handle_ = handle;
    device_ = device;
    input_.clear();
    return true;
}

void Win32BytePort::close()
{
    if (handle_) {
        CloseHandle(asHandle(handle_));
        timeEndPeriod(1);
    }
    handle_ = nullptr;
    device_.clear();
    input_.clear();
}

void Win32BytePort::purge()
{
    if (!isOpen())
        return;
    PurgeComm(asHandle(handle_), PURGE_TXCLEAR);
    PurgeComm(asHandle(handle_), PURGE_RXCLEAR);
    input_.clear();
}

bool Win32BytePort::write(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen())
        return false;
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), bytes, static_cast<DWORD>(count), &written, nullptr)) {
        const DWORD code = GetLastError();
        // A write that ran out of time is finished while the reply is awaited;
        // any other failure means the device is gone.
        return code == ERROR_TIMEOUT || code == ERROR_SEM_TIMEOUT;
    }
    return true;
}

bool Win32BytePort::drain()
{
    if (!isOpen())
        return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(asHandle(handle_), &errors, &status))
        return false;
    if (status.cbInQue == 0)
        return true;
    const qsizetype before = input_.size();
    input_.resize(before + static_cast<qsizetype>(status.cbInQue));
    DWORD got = 0;
    const bool ok = ReadFile(asHandle(handle_), input_.data() + before, status.cbInQue, &got, nullptr);
    input_.resize(before + static_cast<qsizetype>(ok ? got : 0));
    return ok;
}

std::size_t Win32BytePort::bytesAvailable()
{
    drain();
    return static_cast<std::size_t>(input_.size());
}

std::size_t Win32BytePort::read(std::uint8_t* buf, std::size_t capacity)
{
    if (input_.isEmpty())
        drain();
    const std::size_t n = std::min(capacity, static_cast<std::size_t>(input_.size()));
    std::copy_n(reinterpret_cast<const std::uint8_t*>(input_.constData()), n, buf);
    input_.remove(0, static_cast<qsizetype>(n));
    return n;
}

BytePort::Wait Win32BytePort::waitReadable(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + std::max(limit, std::chrono::milliseconds{0});
    for (;;) {
        if (!drain())
            return Wait::Lost;
        if (!input_.isEmpty())
            return Wait::Ready;
        if (std::chrono::steady_clock::now() >= end)
            return Wait::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    }
}

} // namespace tessavin
