#pragma once
// Typed fields: integers as the window's conversion takes them, and the exact
// texts of the conversion and encoding errors.
#include <QString>

#include <optional>

namespace tessavin {

// A decimal integer with optional leading blanks and sign, nothing after it.
std::optional<int> ParseInteger(const QString& text);

// "'%s' is not a valid integer value"
QString NotAnIntegerMessage(const QString& text);

inline QString TimeEncodeError() { return QStringLiteral("Invalid argument to time encode"); }
inline QString DateEncodeError() { return QStringLiteral("Invalid argument to date encode"); }

} // namespace tessavin
