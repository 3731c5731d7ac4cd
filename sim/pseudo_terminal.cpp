#include "sim/pseudo_terminal.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <thread>
#endif

namespace tessavin::sim {

PseudoTerminal::~PseudoTerminal() { close(); }

#ifndef _WIN32

bool PseudoTerminal::open(QString* error)
{
    close();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        if (error)
            *error = QStringLiteral("no pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        if (error)
            *error = QStringLiteral("no pseudo-terminal name");
        ::close(fd);
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    master_ = fd;
    slavePath_ = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool PseudoTerminal::write(const QByteArray& bytes, const std::atomic<bool>* cancel)
{
    if (master_ < 0)
        return false;
    using clock = std::chrono::steady_clock;
    auto progress = clock::now();
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (cancel && cancel->load())
            return false;
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            progress = clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (clock::now() - progress > std::chrono::seconds(1))
            return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

bool PseudoTerminal::peerOpen() const
{
    if (master_ < 0)
        return false;
    pollfd p{master_, 0, 0};
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

int PseudoTerminal::peerBaud() const
{
    termios tio{};
    if (master_ < 0 || ::tcgetattr(master_, &tio) != 0)
        return 0;
    static const struct {
        speed_t code;
        int baud;
    } rates[] = {
        {B300, 300},       {B600, 600},       {B1200, 1200},   {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
#ifdef B460800
        {B460800, 460800}, {B921600, 921600},
#endif
    };
    const speed_t code = ::cfgetospeed(&tio);
    for (const auto& r : rates)
        if (r.code == code)
            return r.baud;
    return 0;
}

QByteArray PseudoTerminal::read(std::chrono::milliseconds timeout)
{
    QByteArray out;
    if (master_ < 0)
        return out;
    pollfd p{master_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready <= 0 || !(p.revents & POLLIN)) {
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR)))
            std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(5))); // no slave open yet
        return out;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break; // EAGAIN when drained; EIO while no slave is open
        out.append(buf, n);
    }
    return out;
}

void PseudoTerminal::discardInput()
{
    while (!read(std::chrono::milliseconds(0)).isEmpty()) {
    }
}

#else

bool PseudoTerminal::open(QString* error)
{
    if (error)
        *error = QStringLiteral("pseudo-terminals are not available on this system");
    return false;
}
void PseudoTerminal::close() { }
bool PseudoTerminal::write(const QByteArray&, const std::atomic<bool>*) { return false; }
QByteArray PseudoTerminal::read(std::chrono::milliseconds) { return {}; }
void PseudoTerminal::discardInput() { }
bool PseudoTerminal::peerOpen() const { return false; }
int PseudoTerminal::peerBaud() const { return 0; }

#endif

} // namespace tessavin::sim
