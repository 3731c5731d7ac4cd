#pragma once
// The configuration as JSON: checking a text before it is sent, and the
// differences between two configurations (the controller's and a file's).
//
// The text is parsed by a small parser of our own, not by QJsonDocument nor a
// library such as RapidJSON, because the checks and the diff need:
//  - the members in document order with a repeated key kept (QJsonObject
//    sorts its keys and keeps one of each);
//  - an error named by line and column, in words that point at the fault
//    ("missing comma", "is a closing quote missing?"): both libraries give an
//    offset and a message of their own;
//  - strings kept as the bytes they hold, so that a configuration holding
//    Windows-1251 text (valid JSON, not valid UTF-8) is compared and shown as
//    it is (QJsonDocument refuses it).
// tessavin-cli's --resume reads the lines of its file with the same parser.
#include "util/json_writer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin {

struct JsonMember;

// A parsed JSON value. Strings and keys hold their bytes with escapes resolved
// (\u escapes as UTF-8); numbers keep their text as written.
struct JsonValue {
    enum class Kind { Null, False, True, Number, String, Array, Object };
    Kind kind = Kind::Null;
    QByteArray scalar; // Number and String
    std::vector<JsonValue> items; // Array
    std::vector<JsonMember> members; // Object, in document order, duplicates kept
};

struct JsonMember {
    QByteArray key;
    JsonValue value;
};

// Where and why a text is not JSON: line and column count from 1 (a column in
// characters when the text is UTF-8, in bytes otherwise).
struct JsonError {
    int line = 1;
    int column = 1;
    qsizetype offset = 0;
    QString problem; // e.g. "missing comma"

    // "line 12, column 5: missing comma"
    QString text() const;
};

struct JsonParse {
    std::optional<JsonValue> value; // set when the text is JSON
    std::optional<JsonError> error; // set otherwise
};

JsonParse ParseJson(const QByteArray& text);

// The verdict on a configuration file or memo text, as it would be sent.
struct ConfigCheck {
    std::optional<JsonError> error; // not JSON
    qsizetype size = 0; // bytes after the line-end conversion
    bool fits = true; // size within the Transfer buffer's text limit
    bool utf8 = true;
    qsizetype zeroAt = -1; // a file's first zero byte: such a file is not sent at all
    bool byteOrderMark = false; // the text starts with EF BB BF (sent as it stands)
    QStringList repeatedKeys; // JSON Pointers of keys an object holds more than once
    bool json() const { return !error; }
    // What a configuration download sends without --force: JSON that fits, not
    // empty, from a file without a zero byte.
    bool valid() const { return json() && fits && size > 0 && zeroAt < 0; }
    // A text that is not JSON is sent only with the user's consent (the window
    // asks, tessavin-cli wants --force); JSON goes unasked, and an empty text is
    // refused by the download itself.
    bool needsConsent() const { return size > 0 && !json(); }
    // One line: "valid JSON, 1234 bytes after conversion" or the error; then
    // what else refuses it (too large, a zero byte) and the notes (not UTF-8, a
    // byte order mark, repeated keys), one a line.
    QString report() const;
};

// Checks the bytes the sending would send (already converted: CR LF line ends).
ConfigCheck CheckConfigJson(const QByteArray& converted);
// Checks a file's bytes as the sending would send them (ConfigTextAsSent).
ConfigCheck CheckConfigFile(const QByteArray& fileBytes);

// ---- differences ----

struct ConfigDifference {
    enum class Op { Changed, Added, Removed }; // "~", "+", "-"
    Op op = Op::Changed;
    // JSON: the RFC 6901 pointer ("/modbus/baud", "" for the whole document).
    // Lines: empty, and the line numbers below are set.
    QString path;
    int controllerLine = 0; // line diff only: 1-based, 0 when the line is not on that side
    int fileLine = 0;
    // Compact JSON of each side's value (or the line's text); empty when the
    // value is not on that side.
    QString controller;
    QString file;
    // The same as JSON values: each side's value, or its line's text as a string.
    Json controllerJson;
    Json fileJson;

    static QString opMark(Op op);
    // "~ /modbus/baud: 9600 → 19200", "+ /alarms/3: {...}", "- /debug",
    // or for lines "- 12: text", "+ 13: text".
    QString line() const;
};

struct ConfigDiff {
    bool json = true; // false: a line diff, because one side is not JSON
    QString notJsonSide; // "controller", "file" or "controller and file" when json is false
    std::vector<ConfigDifference> differences;
    bool equal() const { return differences.empty(); }
};

// Compares the controller's configuration with a file's (or the memo's), both as
// the bytes that travel. As JSON when both sides are JSON: object members by key
// (the n-th of a repeated key with the n-th on the other side), arrays by index;
// removed members come where they stood, added ones where they stand in the file.
// Otherwise line by line.
ConfigDiff DiffConfigs(const QByteArray& controller, const QByteArray& file);

// Compact JSON of a value, as the JSON writer writes it: strings re-escaped,
// bytes that are not UTF-8 read as Windows-1251, numbers as they stand.
QString CompactJson(const JsonValue& value);

} // namespace tessavin
