#include "util/conversions.h"

namespace tessavin {

QString NotAnIntegerMessage(const QString& text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

} // namespace tessavin
