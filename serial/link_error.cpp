#include "link_error.h"

namespace tessavin {

QString LinkErrorText(LinkError error)
{
    switch (error) {
    case LinkError::None:
        return QStringLiteral("ok");
    case LinkError::PortClosed:
        return QStringLiteral("port not open");
    case LinkError::NoReply:
        return QStringLiteral("no reply");
    case LinkError::PortLost:
        return QStringLiteral("port lost");
    case LinkError::BadHeaderChecksum:
        return QStringLiteral("bad header checksum");
    case LinkError::LengthOutOfRange:
        return QStringLiteral("length out of range");
    case LinkError::BadBodyChecksum:
        return QStringLiteral("bad body checksum");
    case LinkError::Truncated:
        return QStringLiteral("reply shorter than its stated length");
    case LinkError::TooShort:
        return QStringLiteral("reply too short for what was asked");
    case LinkError::InvalidReply:
        return QStringLiteral("invalid reply");
    case LinkError::ValueRejected:
        return QStringLiteral("value not above zero");
    }
    return QStringLiteral("unknown error");
}

} // namespace tessavin
