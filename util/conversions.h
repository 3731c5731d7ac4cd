#pragma once
// Typed fields: integers as the window's conversion takes them (ParseInteger
// with its default rules, integer_text.h), and the exact texts of the
// conversion and encoding errors.
#include "util/integer_text.h"

#include <QString>

namespace tessavin {

// "'%s' is not a valid integer value"
QString NotAnIntegerMessage(const QString& text);

inline QString TimeEncodeError() { return QStringLiteral("Invalid argument to time encode"); }
inline QString DateEncodeError() { return QStringLiteral("Invalid argument to date encode"); }

} // namespace tessavin
