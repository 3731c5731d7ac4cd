#pragma once
// Whole numbers typed as text: the one reader of every field, option and
// setting that takes an integer. Each place states its rules (range, whether
// hexadecimal is allowed, whether blanks may follow); the defaults are those of
// the window's fields.
#include <QString>

#include <limits>
#include <optional>

namespace tessavin {

struct IntegerRules {
    int min = std::numeric_limits<int>::min();
    int max = std::numeric_limits<int>::max();
    bool hexadecimal = false; // "0x" (or "0X") and hexadecimal digits, as well as decimal
    bool blanksAfter = false; // blanks may follow the number (blanks before it always may)
};

// The number `text` holds: blanks, an optional sign and decimal digits (a
// leading 0 changes nothing), nothing else. Otherwise nullopt and, when `error`
// is given, e.g. "'abc' is not a number (expected 1 to 255)" or "0 is out of
// range (expected 1 to 255)", quoting the text without its blanks.
std::optional<int> ParseInteger(const QString& text, const IntegerRules& rules = {}, QString* error = nullptr);

} // namespace tessavin
