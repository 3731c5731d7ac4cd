#include "features/config/config_json.h"

#include "features/config/config_text.h"
#include "features/config/config_transfer.h"
#include "util/text_codec.h"

#include <QSet>

#include <algorithm>
#include <string>

namespace tessavin {

namespace {

// Deeper nesting is refused rather than risking the stack on a hostile text.
constexpr int kMaxDepth = 256;
// A container whose compact text is longer than this is shown as {...} or [...]
// in a difference's line (the full value stays in the difference).
constexpr qsizetype kShownValueLength = 60;
// The line diff compares every line with every line of the changed middle up to
// this many pairs; beyond it the middle is shown as removed, then added.
constexpr qsizetype kLineDiffCells = 4'000'000;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(QByteArray& out, char32_t cp)
{
    if (cp < 0x80) {
        out.append(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.append(static_cast<char>(0xC0 | (cp >> 6)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(static_cast<char>(0xE0 | (cp >> 12)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (cp >> 18)));
        out.append(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

QString shownByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F)
        return QStringLiteral("'%1'").arg(QLatin1Char(c));
    return QStringLiteral("byte 0x%1").arg(QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

class Parser {
public:
    explicit Parser(const QByteArray& text) : s_(text.constData()), n_(text.size()), text_(text) { }

    JsonParse run()
    {
        JsonParse result;
        JsonValue value;
        // A UTF-8 byte order mark that some editors write in front is passed over.
        if (n_ >= 3 && text_.startsWith("\xEF\xBB\xBF"))
            pos_ = 3;
        skipSpace();
        if (parseValue(value, 0)) {
            skipSpace();
            if (pos_ < n_)
                fail(pos_, QStringLiteral("%1 after the end of the JSON value").arg(shownByte(s_[pos_])));
            else
                result.value = std::move(value);
        }
        if (error_)
            result.error = error_;
        return result;
    }

private:
    bool fail(qsizetype at, const QString& problem)
    {
        if (error_)
            return false;
        JsonError e;
        e.offset = at;
        e.problem = problem;
        const bool utf8 = IsValidUtf8(text_);
        qsizetype lineStart = 0;
        for (qsizetype i = 0; i < at && i < n_; ++i) {
            if (s_[i] == '\n' || (s_[i] == '\r' && (i + 1 >= n_ || s_[i + 1] != '\n'))) {
                ++e.line;
                lineStart = i + 1;
            }
        }
        e.column = 1;
        for (qsizetype i = lineStart; i < at && i < n_; ++i)
            if (!utf8 || (static_cast<unsigned char>(s_[i]) & 0xC0) != 0x80)
                ++e.column;
        error_ = e;
        return false;
    }

    void skipSpace()
    {
        while (pos_ < n_ && isSpace(s_[pos_]))
            ++pos_;
    }

    bool expectValue()
    {
        if (pos_ >= n_)
            return fail(pos_, QStringLiteral("unexpected end of text, expected a value"));
        return fail(pos_, QStringLiteral("%1 where a value should be").arg(shownByte(s_[pos_])));
    }

    bool parseValue(JsonValue& out, int depth)
    {
        if (pos_ >= n_)
            return expectValue();
        switch (s_[pos_]) {
        case '{':
            return parseObject(out, depth + 1);
        case '[':
            return parseArray(out, depth + 1);
        case '"':
            out.kind = JsonValue::Kind::String;
            return parseString(out.scalar);
        case 't':
            return literal("true", JsonValue::Kind::True, out);
        case 'f':
            return literal("false", JsonValue::Kind::False, out);
        case 'n':
            return literal("null", JsonValue::Kind::Null, out);
        default:
            if (s_[pos_] == '-' || isDigit(s_[pos_]))
                return parseNumber(out);
            return expectValue();
        }
    }

    bool literal(const char* word, JsonValue::Kind kind, JsonValue& out)
    {
        const qsizetype length = qsizetype(std::char_traits<char>::length(word));
        if (n_ - pos_ < length || QByteArray::fromRawData(s_ + pos_, length) != word)
            return fail(
                pos_,
                QStringLiteral("unknown word (expected true, false, null, a number, a string, an object or an array)"));
        pos_ += length;
        out.kind = kind;
        return true;
    }

    bool parseNumber(JsonValue& out)
    {
        const qsizetype start = pos_;
        auto digits = [&] {
            const qsizetype from = pos_;
            while (pos_ < n_ && isDigit(s_[pos_]))
                ++pos_;
            return pos_ > from;
        };
        if (s_[pos_] == '-')
            ++pos_;
        if (pos_ < n_ && s_[pos_] == '0') {
            ++pos_;
            if (pos_ < n_ && isDigit(s_[pos_]))
                return fail(start, QStringLiteral("invalid number: a leading zero"));
        } else if (!digits()) {
            return fail(start, QStringLiteral("invalid number: a digit must follow the minus sign"));
        }
        if (pos_ < n_ && s_[pos_] == '.') {
            ++pos_;
            if (!digits())
                return fail(pos_, QStringLiteral("invalid number: a digit must follow the decimal point"));
        }
        if (pos_ < n_ && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < n_ && (s_[pos_] == '+' || s_[pos_] == '-'))
                ++pos_;
            if (!digits())
                return fail(pos_, QStringLiteral("invalid number: the exponent has no digits"));
        }
        out.kind = JsonValue::Kind::Number;
        out.scalar = QByteArray(s_ + start, pos_ - start);
        return true;
    }

    // \uXXXX at pos_ (the backslash); -1 when malformed.
    int unicodeEscape()
    {
        if (n_ - pos_ < 6 || s_[pos_ + 1] != 'u')
            return -1;
        int value = 0;
        for (int i = 2; i < 6; ++i) {
            const int d = hexDigit(s_[pos_ + i]);
            if (d < 0)
                return -1;
            value = value * 16 + d;
        }
        return value;
    }

    bool parseString(QByteArray& out)
    {
        const qsizetype open = pos_++;
        out.clear();
        while (pos_ < n_) {
            const char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c == '\n' || c == '\r')
                return fail(pos_, QStringLiteral("line break inside a string (is a closing quote missing?)"));
            if (static_cast<unsigned char>(c) < 0x20)
                return fail(pos_, QStringLiteral("control character %1 inside a string").arg(shownByte(c)));
            if (c != '\\') {
                out.append(c);
                ++pos_;
                continue;
            }
            if (pos_ + 1 >= n_)
                break;
            const char e = s_[pos_ + 1];
            static constexpr char kFrom[] = "\"\\/bfnrt";
            static constexpr char kTo[] = "\"\\/\b\f\n\r\t";
            if (const char* hit = std::char_traits<char>::find(kFrom, 8, e)) {
                out.append(kTo[hit - kFrom]);
                pos_ += 2;
                continue;
            }
            if (e != 'u')
                return fail(pos_, QStringLiteral("invalid escape \\%1 inside a string").arg(QLatin1Char(e)));
            const int unit = unicodeEscape();
            if (unit < 0)
                return fail(pos_, QStringLiteral("invalid \\u escape (four hexadecimal digits expected)"));
            pos_ += 6;
            char32_t cp = char32_t(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF && pos_ < n_ && s_[pos_] == '\\') {
                const int low = unicodeEscape();
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
                    pos_ += 6;
                }
            }
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = 0xFFFD; // a lone surrogate: valid JSON, not a character
            appendUtf8(out, cp);
        }
        return fail(open, QStringLiteral("unterminated string"));
    }

    // After the value of a container: ',' or the closing bracket. `what` is
    // "member" or "element" for the messages.
    enum class Next { More, Done, Failed };
    Next afterItem(char close)
    {
        skipSpace();
        if (pos_ >= n_)
            return fail(pos_, QStringLiteral("unexpected end of text, missing '%1'").arg(QLatin1Char(close))),
                   Next::Failed;
        const char c = s_[pos_];
        if (c == close) {
            ++pos_;
            return Next::Done;
        }
        if (c == ',') {
            const qsizetype comma = pos_++;
            skipSpace();
            if (pos_ < n_ && s_[pos_] == close)
                return fail(comma, QStringLiteral("trailing comma before '%1'").arg(QLatin1Char(close))), Next::Failed;
            return Next::More;
        }
        const bool startsValue = c == '"' || c == '{' || c == '[' || c == '-' || isDigit(c) || c == 't' || c == 'f'
            || c == 'n';
        if (startsValue)
            return fail(pos_, QStringLiteral("missing comma")), Next::Failed;
        return fail(pos_,
                    QStringLiteral("%1 where ',' or '%2' should be").arg(shownByte(c), QString(QLatin1Char(close)))),
               Next::Failed;
    }

    bool deep(int depth)
    {
        return depth > kMaxDepth ? fail(pos_, QStringLiteral("nested more than %1 levels deep").arg(kMaxDepth)) : true;
    }

    bool parseObject(JsonValue& out, int depth)
    {
        if (!deep(depth))
            return false;
        out.kind = JsonValue::Kind::Object;
        ++pos_;
        skipSpace();
        if (pos_ < n_ && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            if (pos_ >= n_)
                return fail(pos_, QStringLiteral("unexpected end of text, missing '}'"));
            if (s_[pos_] != '"')
                return fail(pos_, QStringLiteral("%1 where a key in double quotes should be").arg(shownByte(s_[pos_])));
            JsonMember member;
            if (!parseString(member.key))
                return false;
            skipSpace();
            if (pos_ >= n_ || s_[pos_] != ':')
                return fail(pos_, QStringLiteral("missing colon after the key"));
            ++pos_;
            skipSpace();
            if (!parseValue(member.value, depth))
                return false;
            out.members.push_back(std::move(member));
            const Next next = afterItem('}');
            if (next != Next::More)
                return next == Next::Done;
        }
    }

    bool parseArray(JsonValue& out, int depth)
    {
        if (!deep(depth))
            return false;
        out.kind = JsonValue::Kind::Array;
        ++pos_;
        skipSpace();
        if (pos_ < n_ && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue item;
            if (!parseValue(item, depth))
                return false;
            out.items.push_back(std::move(item));
            const Next next = afterItem(']');
            if (next != Next::More)
                return next == Next::Done;
        }
    }

    const char* s_;
    qsizetype n_;
    const QByteArray& text_;
    qsizetype pos_ = 0;
    std::optional<JsonError> error_;
};

// UTF-8 when valid (a byte order mark kept), Windows-1251 otherwise.
QString textOf(const QByteArray& bytes) { return DecodeText(bytes); }

// The value as the JSON writer writes it: strings read as textOf reads them,
// numbers as they stand in the document, members in document order.
Json jsonOf(const JsonValue& v)
{
    switch (v.kind) {
    case JsonValue::Kind::Null:
        break;
    case JsonValue::Kind::False:
    case JsonValue::Kind::True:
        return Json::boolean(v.kind == JsonValue::Kind::True);
    case JsonValue::Kind::Number:
        return Json::number(v.scalar);
    case JsonValue::Kind::String:
        return Json::string(textOf(v.scalar));
    case JsonValue::Kind::Array: {
        JsonArray array;
        for (const JsonValue& item : v.items)
            array.add(jsonOf(item));
        return array.json();
    }
    case JsonValue::Kind::Object: {
        JsonObject object;
        for (const JsonMember& m : v.members)
            object.add(textOf(m.key), jsonOf(m.value));
        return object.json();
    }
    }
    return {};
}

// RFC 6901: '~' becomes "~0" and '/' becomes "~1".
QString pointerStep(const QString& path, const QString& token)
{
    QString escaped = token;
    escaped.replace(QLatin1Char('~'), QLatin1String("~0")).replace(QLatin1Char('/'), QLatin1String("~1"));
    return path + QLatin1Char('/') + escaped;
}

// The pointer of every key that an object under `v` holds more than once, once
// each, in document order.
void findRepeatedKeys(const JsonValue& v, const QString& path, QStringList& out)
{
    for (std::size_t i = 0; i < v.items.size(); ++i)
        findRepeatedKeys(v.items[i], pointerStep(path, QString::number(i)), out);
    QSet<QByteArray> seen, told;
    for (const JsonMember& m : v.members) {
        const QString at = pointerStep(path, textOf(m.key));
        if (seen.contains(m.key) && !told.contains(m.key)) {
            told.insert(m.key);
            out << at;
        }
        seen.insert(m.key);
        findRepeatedKeys(m.value, at, out);
    }
}

class JsonDiff {
public:
    std::vector<ConfigDifference> out;

    void compare(const QString& path, const JsonValue& c, const JsonValue& f)
    {
        if (c.kind == JsonValue::Kind::Object && f.kind == JsonValue::Kind::Object)
            return objects(path, c, f);
        if (c.kind == JsonValue::Kind::Array && f.kind == JsonValue::Kind::Array)
            return arrays(path, c, f);
        if (c.kind != f.kind || c.scalar != f.scalar)
            add(ConfigDifference::Op::Changed, path, &c, &f);
    }

private:
    void add(ConfigDifference::Op op, const QString& path, const JsonValue* c, const JsonValue* f)
    {
        ConfigDifference d;
        d.op = op;
        d.path = path;
        if (c) {
            d.controllerJson = jsonOf(*c);
            d.controller = QString::fromUtf8(d.controllerJson.text());
        }
        if (f) {
            d.fileJson = jsonOf(*f);
            d.file = QString::fromUtf8(d.fileJson.text());
        }
        out.push_back(std::move(d));
    }

    void arrays(const QString& path, const JsonValue& c, const JsonValue& f)
    {
        const std::size_t common = std::min(c.items.size(), f.items.size());
        for (std::size_t i = 0; i < common; ++i)
            compare(pointerStep(path, QString::number(i)), c.items[i], f.items[i]);
        for (std::size_t i = common; i < c.items.size(); ++i)
            add(ConfigDifference::Op::Removed, pointerStep(path, QString::number(i)), &c.items[i], nullptr);
        for (std::size_t i = common; i < f.items.size(); ++i)
            add(ConfigDifference::Op::Added, pointerStep(path, QString::number(i)), nullptr, &f.items[i]);
    }

    void objects(const QString& path, const JsonValue& c, const JsonValue& f)
    {
        // The n-th member with a key in the file pairs with the n-th with that key
        // in the controller's configuration.
        constexpr std::size_t kNone = std::size_t(-1);
        std::vector<std::size_t> partner(f.members.size(), kNone);
        std::vector<bool> taken(c.members.size(), false);
        for (std::size_t i = 0; i < f.members.size(); ++i) {
            for (std::size_t j = 0; j < c.members.size(); ++j) {
                if (!taken[j] && c.members[j].key == f.members[i].key) {
                    partner[i] = j;
                    taken[j] = true;
                    break;
                }
            }
        }
        auto member = [&](const QByteArray& key) { return pointerStep(path, textOf(key)); };
        std::size_t next = 0; // the controller's members before this one are reported
        auto removedUpTo = [&](std::size_t end) {
            for (; next < end; ++next)
                if (!taken[next])
                    add(ConfigDifference::Op::Removed, member(c.members[next].key), &c.members[next].value, nullptr);
        };
        for (std::size_t i = 0; i < f.members.size(); ++i) {
            const auto& [key, value] = f.members[i];
            if (partner[i] == kNone) {
                add(ConfigDifference::Op::Added, member(key), nullptr, &value);
                continue;
            }
            removedUpTo(partner[i]);
            compare(member(key), c.members[partner[i]].value, value);
        }
        removedUpTo(c.members.size());
    }
};

QStringList linesOf(const QByteArray& bytes)
{
    QString text = textOf(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() && bytes.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

std::vector<ConfigDifference> diffLines(const QStringList& c, const QStringList& f)
{
    qsizetype head = 0;
    while (head < c.size() && head < f.size() && c[head] == f[head])
        ++head;
    qsizetype tail = 0;
    while (tail < c.size() - head && tail < f.size() - head && c[c.size() - 1 - tail] == f[f.size() - 1 - tail])
        ++tail;
    const qsizetype m = c.size() - head - tail, n = f.size() - head - tail;
    // keep[i][j]: the longest common run of lines of c[head+i..] and f[head+j..].
    std::vector<std::vector<int>> keep;
    const bool matched = m > 0 && n > 0 && m * n <= kLineDiffCells;
    if (matched) {
        keep.assign(std::size_t(m) + 1, std::vector<int>(std::size_t(n) + 1, 0));
        for (qsizetype i = m - 1; i >= 0; --i)
            for (qsizetype j = n - 1; j >= 0; --j)
                keep[i][j] = c[head + i] == f[head + j] ? keep[i + 1][j + 1] + 1
                                                        : std::max(keep[i + 1][j], keep[i][j + 1]);
    }
    std::vector<ConfigDifference> out;
    auto removed = [&](qsizetype i) {
        ConfigDifference d;
        d.op = ConfigDifference::Op::Removed;
        d.controllerLine = int(head + i + 1);
        d.controller = c[head + i];
        d.controllerJson = Json::string(d.controller);
        out.push_back(d);
    };
    auto added = [&](qsizetype j) {
        ConfigDifference d;
        d.op = ConfigDifference::Op::Added;
        d.fileLine = int(head + j + 1);
        d.file = f[head + j];
        d.fileJson = Json::string(d.file);
        out.push_back(d);
    };
    qsizetype i = 0, j = 0;
    while (matched && i < m && j < n) {
        if (c[head + i] == f[head + j]) {
            ++i;
            ++j;
        } else if (keep[i + 1][j] >= keep[i][j + 1]) {
            removed(i++);
        } else {
            added(j++);
        }
    }
    while (i < m)
        removed(i++);
    while (j < n)
        added(j++);
    return out;
}

QString shown(const QString& value)
{
    if (value.size() <= kShownValueLength)
        return value;
    if (value.startsWith(QLatin1Char('{')))
        return QStringLiteral("{...}");
    if (value.startsWith(QLatin1Char('[')))
        return QStringLiteral("[...]");
    return value;
}

} // namespace

QString JsonError::text() const { return QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(problem); }

JsonParse ParseJson(const QByteArray& text) { return Parser(text).run(); }

QString CompactJson(const JsonValue& value) { return QString::fromUtf8(jsonOf(value).text()); }

ConfigCheck CheckConfigJson(const QByteArray& converted)
{
    ConfigCheck check;
    const JsonParse parse = ParseJson(converted);
    check.error = parse.error;
    if (parse.value)
        findRepeatedKeys(*parse.value, QString(), check.repeatedKeys);
    check.size = converted.size();
    check.fits = converted.size() <= qsizetype(kTransferTextLimit);
    check.utf8 = IsValidUtf8(converted);
    check.byteOrderMark = converted.startsWith("\xEF\xBB\xBF");
    return check;
}

ConfigCheck CheckConfigFile(const QByteArray& fileBytes)
{
    ConfigCheck check = CheckConfigJson(ConfigTextAsSent(fileBytes));
    check.zeroAt = fileBytes.indexOf('\0');
    return check;
}

QString ConfigCheck::report() const
{
    QStringList lines;
    lines << (error ? error->text() : QStringLiteral("valid JSON, %1 bytes after conversion").arg(size));
    if (!fits)
        lines << QStringLiteral("too large: %1 bytes after conversion; a configuration holds at most %2 bytes")
                     .arg(size)
                     .arg(kTransferTextLimit);
    if (zeroAt >= 0)
        lines << QStringLiteral("a zero byte at offset %1: such a file is not sent (save it as UTF-8)").arg(zeroAt);
    if (!utf8)
        lines << QStringLiteral("note: not valid UTF-8 (read as Windows-1251); it is sent as it is");
    if (byteOrderMark)
        lines << QStringLiteral("note: a UTF-8 byte order mark (EF BB BF) at the start; it is sent as it is");
    if (!repeatedKeys.isEmpty()) {
        constexpr qsizetype kNamed = 10;
        QString keys = repeatedKeys.mid(0, kNamed).join(QStringLiteral(", "));
        if (repeatedKeys.size() > kNamed)
            keys += QStringLiteral(" and %1 more").arg(repeatedKeys.size() - kNamed);
        lines << QStringLiteral("note: repeated key%1 %2; which value the controller keeps is its own choice")
                     .arg(repeatedKeys.size() > 1 ? QStringLiteral("s") : QString(), keys);
    }
    return lines.join(QLatin1Char('\n'));
}

QString ConfigDifference::opMark(Op op)
{
    switch (op) {
    case Op::Changed:
        return QStringLiteral("~");
    case Op::Added:
        return QStringLiteral("+");
    case Op::Removed:
        return QStringLiteral("-");
    }
    return {};
}

QString ConfigDifference::line() const
{
    const QString mark = opMark(op);
    if (controllerLine || fileLine)
        return QStringLiteral("%1 %2: %3")
            .arg(mark)
            .arg(controllerLine ? controllerLine : fileLine)
            .arg(controllerLine ? controller : file);
    const QString where = path.isEmpty() ? QStringLiteral("(whole document)") : path;
    switch (op) {
    case Op::Changed:
        return QStringLiteral("~ %1: %2 → %3").arg(where, shown(controller), shown(file));
    case Op::Added:
        return QStringLiteral("+ %1: %2").arg(where, shown(file));
    case Op::Removed:
        return QStringLiteral("- %1").arg(where);
    }
    return {};
}

ConfigDiff DiffConfigs(const QByteArray& controller, const QByteArray& file)
{
    ConfigDiff diff;
    const JsonParse c = ParseJson(controller), f = ParseJson(file);
    if (c.value && f.value) {
        JsonDiff json;
        json.compare(QString(), *c.value, *f.value);
        diff.differences = std::move(json.out);
        return diff;
    }
    diff.json = false;
    diff.notJsonSide = !c.value && !f.value ? QStringLiteral("controller and file")
        : !c.value                          ? QStringLiteral("controller")
                                            : QStringLiteral("file");
    diff.differences = diffLines(linesOf(controller), linesOf(file));
    return diff;
}

} // namespace tessavin
