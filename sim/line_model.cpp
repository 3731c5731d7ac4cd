#include "sim/line_model.h"

#include <cstdint>
#include <vector>

namespace tessavin::sim {

QByteArray HeardAtRate(const QByteArray& sent, int sentBaud, int readBaud)
{
    if (sentBaud <= 0 || readBaud <= 0 || sentBaud == readBaud)
        return sent;
    // The line as it carries `sent`: start bit, data bits low first, stop bit.
    std::vector<bool> line;
    line.reserve(static_cast<std::size_t>(sent.size()) * 10);
    for (const char c : sent) {
        line.push_back(false);
        for (int bit = 0; bit < 8; ++bit)
            line.push_back(((static_cast<std::uint8_t>(c) >> bit) & 1) != 0);
        line.push_back(true);
    }
    // Positions count bits of the sender; one bit of the receiver spans `ratio` of them.
    const double ratio = static_cast<double>(sentBaud) / readBaud;
    const auto level = [&](double at) {
        const auto i = static_cast<std::size_t>(at);
        return i >= line.size() || line[i];
    };
    QByteArray heard;
    double at = 0;
    for (;;) {
        // The next start: now when the line is low, else the next low bit.
        if (level(at)) {
            auto i = static_cast<std::size_t>(at) + 1;
            while (i < line.size() && line[i])
                ++i;
            if (i >= line.size())
                break;
            at = static_cast<double>(i);
        }
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (level(at + (1.5 + bit) * ratio))
                byte = static_cast<std::uint8_t>(byte | (1u << bit));
        heard.append(static_cast<char>(byte));
        at += 9.5 * ratio; // the middle of the stop bit
    }
    return heard;
}

} // namespace tessavin::sim
