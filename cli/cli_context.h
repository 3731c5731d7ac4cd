#pragma once
// What every command of tessavin-cli works with: its options, the session on
// the port, the data output; and the ways it reports (one line on stderr, the
// exit codes of cli_args.h) and learns of a signal.
#include "cli/cli_args.h"
#include "cli/cli_output.h"
#include "serial/frame_log.h"
#include "features/session.h"

#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <optional>

namespace tessavin::cli {

// SIGINT and SIGTERM from here on set a flag (a second one ends the process at
// once). The flag reaches a running operation through the link's pump, which
// sets the session's stop flag.
// With finishFirst, the first signal only asks to finish (a transfer that
// should not be cut) and the second is caught too, to abandon it.
void CatchInterrupts(bool finishFirst = false);
bool Interrupted();
int Interrupts(); // how many signals came

// --verbose: every frame on stderr, and the toolkit's own warnings.
void SetVerbose(bool on);
bool Verbose();

// "tessavin-cli: <text>" on stderr.
void Say(const QString& text);
// Says the text and gives back the exit code.
int Fail(int code, const QString& text);

QString NativePath(const QString& path);
// Why a file named on the command line cannot be read: "<path>: no such file", ...
// ("-": standard input cannot be read).
QString Unreadable(const QString& path);

// Standard input read to its end, but no further than `limit` bytes and one more
// (which tells input too large for the command); nullopt when it could not be read.
std::optional<QByteArray> ReadStandardInput(qint64 limit);
// A file argument as a path to read: "-" is standard input (as ReadStandardInput
// reads it), copied into `copy`; empty when it could not be read or copied.
QString InputPath(const QString& path, QTemporaryFile& copy, qint64 limit);

// Whether two paths name one file: the same path, or the same file once every
// symbolic link (also one to a file not yet made) is followed. "-" and empty
// paths name none.
bool SameFile(const QString& a, const QString& b);

class Context {
public:
    Context(const Invocation& invocation, const LinkTiming& timing);

    const Invocation& inv;
    Session session;
    Output out;
    QString device; // the port's device, once start() has named it
    int baudRate = 0; // its baud rate, once start() has named it
    bool quiet = false;
    // A command that keeps its own trace (the visit report) names its file
    // before start(); it takes the place of --trace.
    QString tracePath;
    // --resume: the bytes of the -o file that stay; start() then goes on after them
    // instead of replacing the file.
    std::optional<qint64> resumeAfter;

    // A command that cannot be undone goes ahead only with --yes; `what` it does
    // is said otherwise.
    bool confirmed(bool yes, const QString& what);

    // Names the port and the baud rate (command line, else the environment, else
    // the window's settings file), resolves the link's policy, opens the data
    // output and the trace, and opens the port. An exit code, its message said,
    // when one of them fails.
    std::optional<int> start();
    // Opens the data output alone (-o, else stdout), for a command with no port.
    std::optional<int> openOutput();

    // A line for a person on stderr, unless --quiet.
    void tell(const QString& text);
    // "<device>: <what>: <error>", exit code 4.
    int linkFailure(const QString& what, LinkError error);
    // The same for a request that changes the controller: a damaged reply says
    // that the command may or may not have taken effect (UnconfirmedText).
    int commandFailure(const QString& what, LinkError error);
    // The error as a person should read it: once the port has gone away, that is
    // the cause, whether the reply was cut short or the next request found the
    // port closed.
    QString errorText(LinkError error) const;
    // Closes the port on purpose (after a reboot).
    void closePort();

    bool write(const QByteArray& bytes) { return out.write(bytes); }
    // The output could not be written: its message, exit code 5.
    int writeFailure();
    // A progress line on stderr when a person watches it and the records do not
    // go to the same screen.
    bool progressShown() const;
    // The command has ended: with success, a file named with -o or --trace that
    // got nothing is made empty. False, with the message said, when the data or
    // the trace could not all be written.
    bool finish(bool succeeded);
    // Ends the trace before the command ends (the visit report sums its file);
    // false when a line of it could not be written.
    bool finishTrace();

private:
    // The steps of start().
    struct SettingsFile;
    static SettingsFile readSettingsFile();
    std::optional<int> resolvePort(const SettingsFile& settings);
    std::optional<int> resolveLinkPolicy(const SettingsFile& settings);
    std::optional<int> openOutputs();
    std::optional<int> openPort();

    Output trace_; // --trace, kept as it was until the first frame as -o is
    bool traceFailed_ = false;
    bool traceFinished_ = false;
    QString traceName_;
    bool closing_ = false;
    bool portWentAway_ = false;
};

} // namespace tessavin::cli
