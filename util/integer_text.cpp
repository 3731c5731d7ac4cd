#include "util/integer_text.h"

namespace tessavin {

std::optional<int> ParseInteger(const QString& text, const IntegerRules& rules, QString* error)
{
    // The conversion passes over blanks on either side; a blank at the end is
    // refused here unless the rules allow it.
    const QString t = rules.blanksAfter ? text.trimmed() : text;
    bool ok = false;
    qlonglong value = 0;
    if (!rules.blanksAfter && !t.isEmpty() && t.back().isSpace())
        ok = false;
    else if (rules.hexadecimal && t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toLongLong(&ok, 16);
    else
        value = t.toLongLong(&ok, 10);
    if (ok && value >= rules.min && value <= rules.max)
        return static_cast<int>(value);
    if (error) {
        const QString expected = QStringLiteral("(expected %1 to %2)").arg(rules.min).arg(rules.max);
        *error = ok ? QStringLiteral("%1 is out of range %2").arg(text.trimmed(), expected)
                    : QStringLiteral("'%1' is not a number %2").arg(text.trimmed(), expected);
    }
    return std::nullopt;
}

} // namespace tessavin
