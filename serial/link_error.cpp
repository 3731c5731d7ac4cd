#include "serial/link_error.h"

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
    case LinkError::BadChecksum:
        return QStringLiteral("bad checksum");
    case LinkError::ImpossibleValue:
        return QStringLiteral("a value the controller cannot send");
    case LinkError::ValueRejected:
        return QStringLiteral("value not above zero");
    }
    return QStringLiteral("unknown error");
}

bool ReplyDamaged(LinkError error)
{
    switch (error) {
    case LinkError::BadHeaderChecksum:
    case LinkError::LengthOutOfRange:
    case LinkError::BadBodyChecksum:
    case LinkError::Truncated:
    case LinkError::TooShort:
    case LinkError::InvalidReply:
    case LinkError::BadChecksum:
    case LinkError::ImpossibleValue:
        return true;
    case LinkError::None:
    case LinkError::PortClosed:
    case LinkError::NoReply:
    case LinkError::PortLost:
    case LinkError::ValueRejected:
        return false;
    }
    return false;
}

} // namespace tessavin
