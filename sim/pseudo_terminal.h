#pragma once
// The master side of a POSIX pseudo-terminal. The application opens the slave
// path (/dev/pts/N) as its serial port; the emulated controller reads and writes
// the master. Not available on Windows.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>

namespace tessavin::sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates a new pseudo-terminal in raw mode. False (with *error) when none can be had.
    bool open(QString* error = nullptr);
    void close();
    bool isOpen() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }

    // Writes all bytes at once, retrying partial writes. Gives up (false) as soon
    // as *cancel is true, and when nothing could be written for a second (nobody
    // drains the slave side). A line rate is the writer's to make: it writes each
    // block when its last byte would have arrived (controller_thread.h).
    bool write(const QByteArray& bytes, const std::atomic<bool>* cancel = nullptr);
    // False once the last process that held the slave side open has closed it.
    // (Before anyone has opened it, the master cannot tell; it answers true.)
    bool peerOpen() const;
    // The baud rate the slave side's user set on its line (a pseudo-terminal
    // carries bytes at any rate, but keeps the settings); 0 when it cannot be
    // read or is not one of the standard rates.
    int peerBaud() const;
    // Waits up to `timeout` for bytes and returns what is readable (empty on time-out,
    // and while no slave is open).
    QByteArray read(std::chrono::milliseconds timeout);
    // Drops everything readable.
    void discardInput();

private:
    int master_ = -1;
    QString slavePath_;
};

} // namespace tessavin::sim
