#pragma once
// The command line of tessavin-cli: the table of commands (each with its own
// options, help and handler), the options every command takes, the parsing of
// argv into an Invocation (by CLI11, which checks every value, range and
// exclusion as it binds the options to their types) and the help texts.
// Global options may stand before or after the command; a command's own
// options follow it.
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace CLI {
class App;
}

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
// A command's handler, with the command's own options filled in.
using Runner = std::function<int(Context&)>;

struct CommandInfo {
    QString group; // "log", "archive", ...; empty for ports and respond
    QString name;
    QString arguments; // "FILE" for the commands that take one, else empty
    QString summary; // one line for the command lists
    QString description; // the command's --help text
    // Declares the command's own options on its parser (a CLI11 subcommand),
    // bound to a struct of the command's, and gives back the handler that runs
    // with that struct once the command line is parsed.
    std::function<Runner(CLI::App&)> handler;
    std::vector<Format> formats{Format::Text};
    bool needsPort = true;
    bool writesData = true; // has data for stdout or -o

    QString fullName() const { return group.isEmpty() ? name : group + QLatin1Char(' ') + name; }
};

// Every command, in the order the help lists them.
const std::vector<CommandInfo>& Commands();

// What the command line asks a command to do: the command, its argument, the
// options every command takes (before or after it) and its handler.
struct Invocation {
    const CommandInfo* command = nullptr;
    QString argument; // FILE or DIR, for the commands that take one
    QStringList ports; // every --port given, in order (probe tries each; the others take the last)
    QList<int> bauds; // every --baud given, likewise
    std::optional<QString> trace; // --trace FILE
    std::optional<QString> output; // -o FILE
    Format format = Format::Text;
    bool quiet = false;
    bool verbose = false;
    std::optional<bool> fast; // --fast (true) or --no-fast (false)
    // --retries and --retry-wait as typed: the link policy reads them with the
    // settings file's [link] keys, by the same rules.
    std::optional<QString> retries;
    std::optional<QString> retryWait;
    Runner run; // the command's handler, its own options filled in
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

// A baud rate as typed (--baud, TESSAVIN_BAUD, the settings file): a whole
// number above 0. Otherwise nullopt and why, e.g. "the baud rate must be above 0".
std::optional<int> ReadBaudRate(const QString& text, QString* problem);

} // namespace tessavin::cli
