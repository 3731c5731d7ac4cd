#pragma once
// The command line of tessavin-cli: the table of commands (each with its own
// options, help and handler), the global options, the parsing of argv into an
// Invocation (by CLI11) and the help texts. Global options may stand before or
// after the command; a command's own options follow it.
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tessavin::cli {

// Exit codes, as --help and the README list them.
namespace exit_code {
constexpr int kDone = 0;
constexpr int kDiffer = 1; // config diff: the configurations differ
constexpr int kUsage = 2; // bad command line or file argument; nothing was sent
constexpr int kPortOpen = 3; // the port could not be opened
constexpr int kController = 4; // no reply, or a reply that cannot be used
constexpr int kInvalid = 4; // config validate: not valid JSON, or too large
constexpr int kDownload = 5; // a download ended early; what was read is kept
constexpr int kInterrupted = 130;
} // namespace exit_code

enum class Format { Text, Jsonl, Csv };

class Context;
// Runs a command: checks its options, opens what it needs, gives back the exit code.
using Handler = int (*)(Context&);

struct OptionInfo {
    QString name; // without dashes: "newest"
    QChar shortName; // null when there is none
    QString valueName; // empty for a switch
    QString help;
};

struct CommandInfo {
    QString group; // "log", "archive", ...; empty for ports and respond
    QString name;
    QString arguments; // "FILE" for the commands that take one, else empty
    QString summary; // one line for the command lists
    QString description; // the command's --help text
    std::vector<OptionInfo> options; // its own options
    std::vector<Format> formats{Format::Text};
    Handler run = nullptr;
    bool needsPort = true;
    bool writesData = true; // has data for stdout or -o

    QString fullName() const { return group.isEmpty() ? name : group + QLatin1Char(' ') + name; }
};

// Every command, in the order the help lists them.
const std::vector<CommandInfo>& Commands();
// The options every command takes.
const std::vector<OptionInfo>& GlobalOptions();

struct Invocation {
    const CommandInfo* command = nullptr;
    QStringList arguments; // the command's positional arguments
    QMap<QString, QString> options; // given options by name ("" for a switch); the last one wins
    QMap<QString, QStringList> every; // every value of each option given, in order
    Format format = Format::Text;

    bool has(const QString& name) const { return options.contains(name); }
    QString value(const QString& name) const { return options.value(name); }
    QStringList values(const QString& name) const { return every.value(name); }
};

// What the command line asks for: a command to run, or a text to print and an
// exit code (help, version, a usage error).
struct ParseResult {
    std::optional<Invocation> invocation;
    QString out; // for stdout (help, version)
    QString error; // for stderr, one line or a few
    int exitCode = exit_code::kDone;
};

ParseResult ParseCommandLine(const QStringList& arguments);

// The help of the whole tool, of a command group and of one command.
QString ToolHelp();
QString GroupHelp(const QString& group);
QString CommandHelp(const CommandInfo& command);

} // namespace tessavin::cli
