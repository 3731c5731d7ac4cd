#include "cli_args.h"

#include "cli_operations.h"
#include "config_transfer.h"
#include "script_transfer.h"
#include "tessavin_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>

namespace tessavin::cli {

namespace {

const QString kTool = QStringLiteral("tessavin-cli");

QString S(const char* text) { return QString::fromUtf8(text); }

} // namespace

const std::vector<OptionInfo>& GlobalOptions()
{
    // To add a global option: one row here; its value reaches every command as
    // c.inv.has("name") / c.inv.value("name"). Use it where it applies (Context::start
    // for what every command opens).
    static const std::vector<OptionInfo> options = {
        {S("port"),
         {},
         S("PORT"),
         S("The serial port: a number N (COM N; /dev/ttyS(N-1) on Linux), a device name (ttyUSB0) or a path "
           "(/dev/ttyUSB0). Default: the settings file.")},
        {S("baud"), {}, S("RATE"), S("The baud rate. Default: the settings file, else 38400.")},
        {S("trace"), {}, S("FILE"), S("Write every frame sent and received to FILE as JSON Lines, each as it passes.")},
        {S("output"), QLatin1Char('o'), S("FILE"),
         S("Write the records or the data to FILE instead of stdout ('-'). FILE is replaced once the first record "
           "or byte arrives; a command that fails before that leaves it as it was.")},
        {S("format"), {}, S("FORMAT"), S("text (default), jsonl, or csv (archive read only).")},
        {S("quiet"), QLatin1Char('q'), {}, S("No progress line and no confirmations; errors are still reported.")},
        {S("verbose"),
         QLatin1Char('v'),
         {},
         S("Print every frame on stderr as it passes, and the toolkit's own warnings.")},
        {S("fast"),
         {},
         {},
         S("Fast replies: a register reply ends once the bytes its length states are in (also [link] fast=true in "
           "the settings file).")},
        {S("no-fast"), {}, {}, S("No fast replies, whatever the settings file says.")},
        {S("retries"),
         {},
         S("N"),
         S("Send a read request again, up to N more times, when its reply is missing, too short, fails a "
           "checksum or holds a value the controller cannot send (0 to 20; default [link] retries in the settings "
           "file, else 2; 0: never). Requests that change the controller are never repeated: a damaged reply to "
           "one leaves it unconfirmed (exit 4).")},
        {S("retry-wait"),
         {},
         S("MS"),
         S("How long a read request that may still be sent again waits for its reply's first byte, once the "
           "controller has answered (10 to 60000 ms; default [link] retry_wait, else 1000). The first request and "
           "the last try wait the whole 13 s.")},
        {S("help"), QLatin1Char('h'), {}, S("Show the help of the tool or of the command.")},
        {S("version"), {}, {}, S("Show the version.")},
    };
    return options;
}

// The commands. To add one: one entry below, with its group and name, its
// positional argument (if any), the summary for the lists, the --help text, its
// own options, the formats it writes and its handler (a function of
// cli_operations.h, or a lambda calling one). To give a command an option: one
// OptionInfo in its .options; the handler reads it as c.inv.has/value("name").
// Nothing else needs changing: parsing, help and completion come from here.
// The entries name only the fields they set; the others keep their defaults.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = [] {
        const auto data = std::vector<Format>{Format::Text, Format::Jsonl};
        const OptionInfo newest{S("newest"), {}, S("N"), S("The newest N records, oldest first (default 10).")};
        const OptionInfo index{S("index"), {}, S("I"), S("The one record at index I.")};
        const OptionInfo yes{S("yes"), {}, {}, S("Go ahead: this command cannot be undone.")};
        const OptionInfo from{S("from"), {}, S("I"), S("From index I to the newest record, oldest first.")};
        const OptionInfo resume{S("resume"),
                                {},
                                {},
                                S("Keep the records already in the -o file (jsonl; a cut last line is dropped) and go "
                                  "on after its last index.")};
        return std::vector<CommandInfo>{
            {.name = S("ports"),
             .summary = S("the serial ports the system sees"),
             .description = S("Lists the serial ports the system sees: name, path, description, manufacturer,\n"
                              "serial number, VID:PID and, on Linux, the stable /dev/serial/by-id path.\n"
                              "Pseudo-terminals are not listed. Writes to stdout only: -o and --trace do\n"
                              "not apply."),
             .formats = data,
             .run = RunPorts,
             .needsPort = false},
            {.name = S("probe"),
             .summary = S("find the controller's port and baud rate"),
             .description = S("Tries every port given with --port (default: every port 'ports' lists) at every\n"
                              "rate given with --baud (default: the settings file's rate, then 9600, 19200,\n"
                              "38400, 57600 and 115200); both may be given more than once. A try asks one\n"
                              "question that changes nothing and whose reply has a checksum: the event log's\n"
                              "record count, then, where that drew nothing at all, the status query. Each\n"
                              "answer is awaited --wait ms, not the 13 s of the normal links. A busy port is\n"
                              "skipped, saying so. Rate by rate over all ports by default; --parallel tries\n"
                              "the ports at the same time (one rate at a time per port). The first answer\n"
                              "ends the probe. One row (text) or object (jsonl) per try: port, baud rate,\n"
                              "link, result, device number where it can be read, time to answer.\n"
                              "Exit 0 when a controller answered, 4 when none did."),
             .options = {{S("wait"), {}, S("MS"), S("How long each question waits for a first byte (default 150).")},
                         {S("parallel"), {}, {}, S("Try the ports at the same time.")},
                         {S("save"),
                          {},
                          {},
                          S("Write the port and rate found into the settings file, where the window opens next.")}},
             .formats = data,
             .run = RunProbe,
             .needsPort = false},
            {.group = S("log"),
             .name = S("info"),
             .summary = S("the event log's capacity, record count and begin"),
             .description = S("Asks the controller for the event log's capacity, the number of records it\n"
                              "holds and its begin (the slot after the newest record)."),
             .formats = data,
             .run = RunLogInfo},
            {.group = S("log"),
             .name = S("read"),
             .summary = S("read event-log records"),
             .description = S("Reads event-log records as the window's LOG button does: first the capacity,\n"
                              "the count and the begin, then one request per record.\n"
                              "\n"
                              "Which records (one of):\n"
                              "  --newest N   the newest N records, oldest first; the default is 10. For N = 10,\n"
                              "               100 or 500 these are the window's boxes of that name, for any\n"
                              "               other N its 'последних' box with N typed.\n"
                              "  --index I    the one record at index I (the window's '1' box with I); an index\n"
                              "               the log does not hold is refused (exit 2).\n"
                              "  --all        every record the log holds, oldest first ('последних' with the\n"
                              "               count).\n"
                              "  --from I     from index I to the newest record, oldest first, wrapping the\n"
                              "               ring as the newest-N choices do; an index the log does not hold\n"
                              "               is refused (exit 2).\n"
                              "\n"
                              "With --resume, -o FILE and --format jsonl, the records already in FILE stay (a\n"
                              "cut last line is dropped) and the read goes on from the record after the last\n"
                              "index in FILE to the newest, whichever choice is given; an empty FILE is read\n"
                              "into as the choice says. A text FILE holds no index and cannot be resumed, nor\n"
                              "can stdout. Before going on, FILE must hold only records of this command and\n"
                              "the controller must still hold its last record at that index, byte for byte\n"
                              "(one more read); otherwise exit 2 with the reason, FILE left as it was.\n"
                              "\n"
                              "--format text writes the lines the window writes to its file (CR LF in a file\n"
                              "given with -o, LF on stdout). --format jsonl writes one object a record: index,\n"
                              "marker, time (ISO 8601, the controller's clock; null when the stamp is not a\n"
                              "date), text (the line as the window shows it) and raw (the record's bytes in\n"
                              "hexadecimal). Each line is written as its record arrives. Ctrl+C stops after\n"
                              "the record in flight (exit 130). A reader that stops early (log read --all |\n"
                              "head -1) ends it quietly with exit 141, as a broken pipe ends other tools."),
             .options = {newest,
                         index,
                         {S("all"), {}, {}, S("Every record the log holds, oldest first.")},
                         from,
                         resume,
                         {S("max"), {}, {}, S("Accepted for the window's Max box; the capacity is asked every time.")}},
             .formats = data,
             .run = RunLogRead},
            {.group = S("log"),
             .name = S("clear"),
             .summary = S("erase the event log (--yes)"),
             .description = S("Erases the controller's event log. Needs --yes; without it nothing is sent."),
             .options = {yes},
             .run = [](Context& c) { return RunLogSwitch(c, SwitchCommand::ClearLog, S("event log cleared")); },
             .writesData = false},
            {.group = S("log"),
             .name = S("start"),
             .summary = S("switch logging on"),
             .description = S("Switches the controller's logging on."),
             .run = [](Context& c) { return RunLogSwitch(c, SwitchCommand::StartLogging, S("logging started")); },
             .writesData = false},
            {.group = S("log"),
             .name = S("stop"),
             .summary = S("switch logging off"),
             .description = S("Switches the controller's logging off."),
             .run = [](Context& c) { return RunLogSwitch(c, SwitchCommand::StopLogging, S("logging stopped")); },
             .writesData = false},
            {.group = S("archive"),
             .name = S("read"),
             .summary = S("read archived values"),
             .description = S("Reads dated values of the archive (a ring of 1001 records, indexes 0 to 1000)\n"
                              "as the window's RETRO button does: the begin, then one request per record.\n"
                              "\n"
                              "Which records (one of):\n"
                              "  --newest N   the newest N records, oldest first; the default is 10. For N = 10,\n"
                              "               100 or 500 these are the window's boxes of that name, for any\n"
                              "               other N its 'последних' box with N typed, which counts as the\n"
                              "               window does: when the stretch crosses the end of the ring it\n"
                              "               starts one record early and stops before the newest.\n"
                              "  --index I    the one record at index I, as a line.\n"
                              "  --one I      only the value of record I, truncated toward zero, as the window's\n"
                              "               value field shows it.\n"
                              "  --from I     from index I to the newest record, oldest first, wrapping the\n"
                              "               ring from 1000 to 0.\n"
                              "\n"
                              "With --resume, -o FILE and --format jsonl, the records already in FILE stay (a\n"
                              "cut last line is dropped) and the read goes on from the record after the last\n"
                              "index in FILE to the newest, whichever choice is given; an empty FILE is read\n"
                              "into as the choice says. A text FILE holds no index and cannot be resumed, nor\n"
                              "can stdout. Before going on, FILE must hold only records of this command and\n"
                              "the controller must still hold its last record at that index, byte for byte\n"
                              "(one more read); otherwise exit 2 with the reason, FILE left as it was.\n"
                              "\n"
                              "Dated values are shown in the computer's local time (the controller keeps UTC),\n"
                              "unless --no-shift. --format text writes the window's file lines (CR LF in a file,\n"
                              "LF on stdout); jsonl one object a record: index, device_time (the controller's\n"
                              "clock), time (shifted, with its offset), value and raw (the ten record bytes in\n"
                              "hexadecimal); csv the same columns after a header line. Undated records have\n"
                              "null (empty) times. Ctrl+C stops after the record in flight (exit 130)."),
             .options = {newest,
                         index,
                         from,
                         resume,
                         {S("one"),
                          {},
                          S("I"),
                          S("Only the value of the record at index I, truncated toward zero (the window's value "
                            "field).")},
                         {S("no-shift"),
                          {},
                          {},
                          S("Keep the controller's time; by default dated values are moved by the computer's offset "
                            "from UTC, as the window shows them.")},
                         {S("chart"),
                          {},
                          S("FILE"),
                          S("Also write the chart of the records read to FILE as SVG (the window's chart: local "
                            "time, gaps left open, min/max/mean, the newest marked); '-' is stdout when -o names "
                            "the records' file. Refused before anything is sent when FILE cannot be made or is "
                            "the -o or --trace file.")}},
             .formats = {Format::Text, Format::Jsonl, Format::Csv},
             .run = RunArchiveRead},
            {.group = S("config"),
             .name = S("status"),
             .summary = S("the status of the controller's configuration"),
             .description = S("Asks the status of the controller's configuration: OK, or NOT OK with the\n"
                              "reason (bad json, no memory, no file)."),
             .formats = data,
             .run = RunConfigStatus},
            {.group = S("config"),
             .name = S("set-test"),
             .summary = S("switch to test mode"),
             .description = S("Switches the controller to test mode."),
             .run = [](Context& c) { return RunConfigCommand(c, false); },
             .writesData = false},
            {.group = S("config"),
             .name = S("reboot"),
             .summary = S("reboot the controller"),
             .description = S("Reboots the controller; it stays silent for a few seconds afterwards."),
             .run = [](Context& c) { return RunConfigCommand(c, true); },
             .writesData = false},
            {.group = S("config"),
             .name = S("upload"),
             .summary = S("read the configuration from the controller"),
             .description = S("Reads the controller's configuration (with --test its test configuration)\n"
                              "and writes its bytes as they came to stdout or to the file given with -o.\n"
                              "A chunk whose checksum fails, once the controller has shown that it sends\n"
                              "one, is asked for again; still failing, nothing is written and the message\n"
                              "names the chunk's offset (exit 4)."),
             .options = {{S("test"), {}, {}, S("The test configuration instead of the configuration.")}},
             .run = RunConfigUpload},
            {.group = S("config"),
             .name = S("download"),
             .arguments = S("FILE"),
             .summary = S("send a configuration file to the controller"),
             .description = S("Sends the configuration in FILE to the controller as the window sends it after\n"
                              "opening the file: its lines joined by CR LF, in the encoding they came in\n"
                              "(UTF-8 or Windows-1251), at most %1 bytes. A file holding a zero byte (UTF-16,\n"
                              "for one) is refused. FILE '-' reads standard input. A FILE that is not valid\n"
                              "JSON is refused (exit 2, naming the line and column) unless --force.\n"
                              "--verify reads the configuration back and compares the bytes: exit 5,\n"
                              "naming the first differing offset, when they differ.")
                                .arg(kTransferTextLimit),
             .options = {{S("force"), {}, {}, S("Send FILE even when it is not valid JSON.")},
                         {S("verify"), {}, {}, S("Read the configuration back after sending and compare the bytes.")}},
             .run = RunConfigDownload,
             .writesData = false},
            {.group = S("config"),
             .name = S("validate"),
             .arguments = S("FILE"),
             .summary = S("check a configuration file before sending it"),
             .description = S("Says whether FILE is valid JSON and would fit the controller: at most %1 bytes\n"
                              "after the line-end conversion the sending does (lines joined by CR LF). It\n"
                              "fails wherever config download would refuse FILE: not JSON, too large, empty,\n"
                              "or holding a zero byte. An error names line, column and problem (\"line 12,\n"
                              "column 5: missing comma\"). Valid JSON that is not valid UTF-8 (Windows-1251\n"
                              "text) is valid, with a note; so are a leading byte order mark and a key an\n"
                              "object holds twice. FILE '-' reads standard input. --format jsonl: one object\n"
                              "with file, valid, json, size, fits, utf8, zero_at, bom, repeated_keys and, for\n"
                              "an error, line, column and problem. Exit 0 valid, 4 invalid, 2 unreadable.")
                                .arg(kTransferTextLimit),
             .formats = data,
             .run = RunConfigValidate,
             .needsPort = false},
            {.group = S("config"),
             .name = S("diff"),
             .arguments = S("FILE"),
             .summary = S("compare a configuration file with the controller's"),
             .description = S("Reads the controller's configuration (with --test its test configuration) and\n"
                              "compares it with FILE as JSON, in document order: every difference as a JSON\n"
                              "Pointer (RFC 6901) with the controller's and the file's value, as lines such\n"
                              "as '~ /modbus/baud: 9600 → 19200', '+ /alarms/3: {...}', '- /debug'. --format\n"
                              "jsonl: one object a difference with path, op, controller and file (a side\n"
                              "without the value has no key). When either side is not JSON, a line diff\n"
                              "('- 12: text' for the controller's line 12, '+ 12: text' for the file's), in\n"
                              "jsonl with line instead of path. Exit 0 when equal, 1 when they differ."),
             .options = {{S("test"), {}, {}, S("The test configuration instead of the configuration.")}},
             .formats = data,
             .run = RunConfigDiff},
            {.group = S("device"),
             .name = S("ident"),
             .summary = S("the device number"),
             .description = S("Reads the device number (greater than zero)."),
             .formats = data,
             .run = [](Context& c) { return RunDeviceRead(c, false); }},
            {.group = S("device"),
             .name = S("pressure"),
             .summary = S("the pressure"),
             .description = S("Reads the pressure (greater than zero), with two decimals."),
             .formats = data,
             .run = [](Context& c) { return RunDeviceRead(c, true); }},
            {.group = S("device"),
             .name = S("register"),
             .summary = S("the registration command (--yes)"),
             .description = S("Sends the registration command. Needs --yes; without it nothing is sent."),
             .options = {yes},
             .run = RunDeviceRegister,
             .writesData = false},
            {.group = S("script"),
             .name = S("send"),
             .arguments = S("FILE"),
             .summary = S("send a script file"),
             .description = S("Sends the script in FILE, its bytes as they stand, in one request (at most\n"
                              "%1 bytes). FILE '-' reads standard input.")
                                .arg(kScriptMaxBytes),
             .run = RunScriptSend,
             .writesData = false},
            {.group = S("script"),
             .name = S("read"),
             .summary = S("read the script back"),
             .description = S("Reads the controller's script and writes its bytes to stdout or to the file\n"
                              "given with -o. A reply whose checksums fail is asked for again; still\n"
                              "failing, nothing is written (exit 4)."),
             .run = RunScriptRead},
            {.group = S("script"),
             .name = S("clear"),
             .summary = S("clear the script (--yes)"),
             .description = S("Sends the script's clear request (the same bytes as the log's begin\n"
                              "question) and reports that the controller answered. Needs --yes; without it\n"
                              "nothing is sent."),
             .options = {yes},
             .run = RunScriptClear,
             .writesData = false},
            {.name = S("report"),
             .arguments = S("DIR"),
             .summary = S("read everything of a visit into a folder with index.html"),
             .description = S("Reads, in one run on one open port: the device number, the pressure, the\n"
                              "configuration status, the configuration and the test configuration, the whole\n"
                              "event log, the whole archive (all 1001 slots, oldest first) and the script.\n"
                              "Writes into DIR: log.txt (the window's file lines), log.jsonl, archive.csv,\n"
                              "archive.jsonl, config.json, test-config.json, script.bin, trace.jsonl (every\n"
                              "frame; it takes the place of --trace), archive.svg, SHA256SUMS (for\n"
                              "sha256sum -c) and index.html, a page that works offline: the summary, the\n"
                              "archive chart, the event log with a filter box, and links to every file.\n"
                              "\n"
                              "A part that fails is named in the summary and on stderr, and the rest is still\n"
                              "read; the exit code is then 5. A controller that holds no script is no failure:\n"
                              "the summary says so and there is no script.bin. DIR is created; an existing DIR\n"
                              "that is not empty is refused unless --force, which first removes from DIR the\n"
                              "files named above (a symbolic link of such a name goes itself, never what it\n"
                              "points to) and leaves everything else."),
             .options = {{S("force"),
                          {},
                          {},
                          S("Write into DIR even when it is not empty, replacing an earlier report's files.")}},
             .run = RunReport,
             .writesData = false},
            {.name = S("respond"),
             .summary = S("answer the controller's polls until Ctrl+C"),
             .description = S("Answers the controller's polls as the window's Start button does: the date and\n"
                              "time from the computer's clock moved by the offset of the polling address, the\n"
                              "fixed coefficients, and the values of its reports, each trace line printed as\n"
                              "it is made. Ends with exit 0 on SIGINT or SIGTERM."),
             .options = {{S("add1"),
                          {},
                          S("S"),
                          S("Clock offset in seconds for device address 1 (default 0; under 3600 either way).")},
                         {S("add2"), {}, S("S"), S("Clock offset in seconds for every other address (default 0).")},
                         {S("day"), {}, S("D"), S("The day sent in date-and-time answers, 1 to 31 (default 28).")}},
             .run = RunRespond},
        };
    }();
    return commands;
}

namespace {
QString optionLabel(const OptionInfo& o)
{
    QString label = o.shortName.isNull() ? QStringLiteral("    --") : QStringLiteral("-%1, --").arg(o.shortName);
    label += o.name;
    if (!o.valueName.isEmpty())
        label += QLatin1Char(' ') + o.valueName;
    return label;
}

// Two columns: the left one padded to `width`, the right one wrapped to fit
// 80 columns beside it.
QString row(const QString& left, const QString& right, int width = 28)
{
    const int room = 78 - width;
    QStringList lines;
    QString current;
    for (const QString& word : right.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!current.isEmpty() && current.size() + 1 + word.size() > room) {
            lines << current;
            current.clear();
        }
        current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines << current;
    const QString indent(width + 2, QLatin1Char(' '));
    QString text = QStringLiteral("  ") + left;
    if (text.size() >= width + 2)
        text += QLatin1Char('\n') + indent;
    else
        text = text.leftJustified(width + 2);
    return text + lines.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
}

QString exitCodes()
{
    return QStringLiteral("Exit codes:\n"
                          "  0    done\n"
                          "  1    config diff: the configurations differ\n"
                          "  2    usage error (unknown option, bad number, missing --yes, a file argument that\n"
                          "       cannot be read or created, a configuration that is not JSON without\n"
                          "       --force); nothing was sent that changes the controller\n"
                          "  3    the port could not be opened (no such device, permission denied, busy)\n"
                          "  4    the controller did not answer, or answered invalidly (a damaged reply to a\n"
                          "       command that changes it: the command may or may not have taken effect);\n"
                          "       config status NOT OK; config validate: the file is not valid JSON or too large\n"
                          "  5    a download ended early on a failed record, or its output, its trace or\n"
                          "       the help could not be written; the records read are kept; config download\n"
                          "       --verify: what was read back differs; report: a part could not be read\n"
                          "  130  interrupted by SIGINT or SIGTERM; the records read are kept\n");
}

QString globalOptions()
{
    QString text = QStringLiteral("Options (before or after the command):\n");
    for (const OptionInfo& o : GlobalOptions())
        text += row(optionLabel(o), o.help);
    return text;
}

QString formatName(Format format)
{
    switch (format) {
    case Format::Jsonl:
        return QStringLiteral("jsonl");
    case Format::Csv:
        return QStringLiteral("csv");
    case Format::Text:
        break;
    }
    return QStringLiteral("text");
}

QString usageLine(const CommandInfo& c)
{
    QString line = QStringLiteral("Usage: %1 %2 [options]").arg(kTool, c.fullName());
    if (!c.arguments.isEmpty())
        line += QLatin1Char(' ') + c.arguments;
    return line;
}

// The message, the usage line of the command it concerns and where its help is.
ParseResult usageError(const QString& message, const QString& helpOf = {})
{
    ParseResult r;
    r.exitCode = exit_code::kUsage;
    r.error = message;
    for (const CommandInfo& c : Commands())
        if (c.fullName() == helpOf)
            r.error += QLatin1Char('\n') + usageLine(c);
    r.error
        += QStringLiteral("\nTry '%1%2 --help'.").arg(kTool, helpOf.isEmpty() ? QString() : QLatin1Char(' ') + helpOf);
    return r;
}

ParseResult printed(const QString& text)
{
    ParseResult r;
    r.out = text;
    return r;
}

} // namespace

QString ToolHelp()
{
    QString text = QStringLiteral("Usage: %1 [options] <command> [options]\n\n").arg(kTool);
    text += QStringLiteral("Every operation of the logging controller, without the window: the same requests\n"
                           "on the serial line, the same timing, the same file lines.\n\n"
                           "Commands:\n");
    for (const CommandInfo& c : Commands()) {
        QString left = c.fullName();
        if (!c.arguments.isEmpty())
            left += QLatin1Char(' ') + c.arguments;
        text += row(left, c.summary);
    }
    text += QLatin1Char('\n') + globalOptions();
    text += QStringLiteral("\nThe port and baud rate come from --port and --baud, else from the environment\n"
                           "variables TESSAVIN_PORT and TESSAVIN_BAUD, else from the window's settings file\n"
                           "(log.log beside the programs; when that folder cannot be written, the per-user\n"
                           "configuration folder), else there is no port and the baud rate is 38400.\n\n");
    text += exitCodes();
    text += QStringLiteral("\nRun '%1 <command> --help' or '%1 help <command>' for a command's own\n"
                           "options.\n"
                           "Report bugs as the README's section \"Reporting bugs\" says.\n")
                .arg(kTool);
    return text;
}

QString GroupHelp(const QString& group)
{
    QString text = QStringLiteral("Usage: %1 %2 <command> [options]\n\nCommands:\n").arg(kTool, group);
    for (const CommandInfo& c : Commands()) {
        if (c.group != group)
            continue;
        QString left = c.fullName();
        if (!c.arguments.isEmpty())
            left += QLatin1Char(' ') + c.arguments;
        text += row(left, c.summary);
    }
    text += QStringLiteral("\nRun '%1 %2 <command> --help' for a command's options,\n"
                           "'%1 --help' for the options every command takes and the exit codes.\n")
                .arg(kTool, group);
    return text;
}

QString CommandHelp(const CommandInfo& c)
{
    QString text = usageLine(c) + QStringLiteral("\n\n") + c.description + QLatin1Char('\n');
    if (!c.options.empty()) {
        text += QStringLiteral("\nOptions:\n");
        for (const OptionInfo& o : c.options)
            text += row(optionLabel(o), o.help);
    }
    QStringList formats;
    for (Format f : c.formats)
        formats << formatName(f);
    text += QStringLiteral("\nFormats: %1.\n\n").arg(formats.join(QStringLiteral(", ")));
    text += globalOptions();
    text += QLatin1Char('\n') + exitCodes();
    return text;
}

namespace {

std::string optionNames(const OptionInfo& o)
{
    std::string names = "--" + o.name.toStdString();
    if (!o.shortName.isNull())
        names = std::string("-") + o.shortName.toLatin1() + "," + names;
    return names;
}

// The name of a given option without dashes or value ("--yes=1" -> "yes").
QString bareName(const QString& word)
{
    QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
    return name.left(name.indexOf(QLatin1Char('=')));
}

bool isOptionWord(const QString& word) { return word.size() > 1 && word.startsWith(QLatin1Char('-')); }

bool knownOption(const QString& name)
{
    for (const CommandInfo& c : Commands())
        for (const OptionInfo& o : c.options)
            if (o.name == name)
                return true;
    return false;
}

} // namespace

ParseResult ParseCommandLine(const QStringList& arguments)
{
    // One CLI11 app: the global options on the root (reachable after the command
    // too, by fallthrough), a subcommand for each group and each command, the
    // command's own options on it. Words it does not know are collected, not
    // thrown, so that the messages below can name the command.
    CLI::App app{"", kTool.toStdString()};
    app.set_help_flag();
    app.allow_extras();
    app.fallthrough();
    app.require_subcommand(0, 1);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    std::vector<std::pair<QString, CLI::Option*>> given;
    const auto addOptions = [&given](CLI::App* to, const std::vector<OptionInfo>& options) {
        for (const OptionInfo& o : options) {
            CLI::Option* option = o.valueName.isEmpty()
                ? to->add_flag(optionNames(o))->disable_flag_override()
                : to->add_option(optionNames(o))->type_name(o.valueName.toStdString());
            given.emplace_back(o.name, option);
        }
    };
    addOptions(&app, GlobalOptions());
    std::map<QString, CLI::App*> groups;
    std::vector<std::pair<const CommandInfo*, CLI::App*>> commands;
    std::vector<std::pair<const CommandInfo*, CLI::Option*>> positionals;
    for (const CommandInfo& c : Commands()) {
        CLI::App* parent = &app;
        if (!c.group.isEmpty()) {
            CLI::App*& group = groups[c.group];
            if (!group)
                group = app.add_subcommand(c.group.toStdString())->require_subcommand(0, 1);
            parent = group;
        }
        CLI::App* command = parent->add_subcommand(c.name.toStdString());
        commands.emplace_back(&c, command);
        addOptions(command, c.options);
        if (!c.arguments.isEmpty())
            positionals.emplace_back(&c, command->add_option(c.arguments.toStdString()));
    }

    // "help COMMAND" is "COMMAND --help".
    QStringList words = arguments;
    if (!words.isEmpty() && words.first() == QLatin1String("help"))
        words = words.mid(1) << QStringLiteral("--help");
    std::vector<std::string> args;
    for (auto it = words.crbegin(); it != words.crend(); ++it)
        args.push_back(it->toStdString());
    const CommandInfo* command = nullptr;
    QString group;
    const auto reached = [&] {
        for (const auto& [c, sub] : commands)
            if (sub->parsed())
                command = c;
        for (const auto& [name, sub] : groups)
            if (sub->parsed())
                group = name;
    };
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        reached();
        // "--newest: 1 required N missing" reads better as the option's own line.
        QString message = QString::fromStdString(e.what());
        const QStringList parts = message.split(QLatin1Char(' '));
        if (parts.size() == 5 && parts[1] == QLatin1String("1") && parts[4] == QLatin1String("missing"))
            message = QStringLiteral("option '%1' needs a value (%2)").arg(parts[0].chopped(1), parts[3]);
        return usageError(message, command ? command->fullName() : group);
    }
    reached();

    QMap<QString, QString> options;
    QMap<QString, QStringList> every;
    for (const auto& [name, option] : given)
        if (option->count() > 0) {
            options.insert(name,
                           option->results().empty() ? QString() : QString::fromStdString(option->results().back()));
            for (const std::string& value : option->results())
                every[name] << QString::fromStdString(value);
        }
    const bool help = options.remove(QStringLiteral("help")) > 0;
    const bool version = options.remove(QStringLiteral("version")) > 0;

    const QString helpOf = command ? command->fullName() : QString();
    words.clear();
    for (const std::string& extra : app.remaining(true)) {
        const QString word = QString::fromStdString(extra);
        if (!isOptionWord(word)) {
            words << word;
            continue;
        }
        const QString name = bareName(word);
        if (command && std::any_of(command->options.begin(), command->options.end(), [&](const OptionInfo& o) {
                return o.name == name;
            }))
            return usageError(QStringLiteral("%1: option '--%2' goes after the command").arg(helpOf, name), helpOf);
        if (command && knownOption(name))
            return usageError(QStringLiteral("%1: option '--%2' does not apply here").arg(helpOf, name), helpOf);
        return usageError(QStringLiteral("unknown option '%1'").arg(word.left(word.indexOf(QLatin1Char('=')))),
                          command ? helpOf : group);
    }
    if (options.contains(QStringLiteral("fast")) && options.contains(QStringLiteral("no-fast")))
        return usageError(QStringLiteral("--fast and --no-fast: choose one"), command ? helpOf : group);

    if (version && !help)
        return printed(QStringLiteral("%1 %2\nMIT License: free to use, copy, change and pass on; no warranty "
                                      "(see LICENSE).\n")
                           .arg(kTool, QStringLiteral(TESSAVIN_VERSION)));
    // "help nosuch" names no command: it is refused below, not answered with the tool's help.
    if (help && (command || words.isEmpty())) {
        if (command)
            return printed(CommandHelp(*command));
        if (!group.isEmpty())
            return printed(GroupHelp(group));
        return printed(ToolHelp());
    }
    if (!command) {
        if (!group.isEmpty()) {
            if (words.isEmpty())
                return usageError(QStringLiteral("'%1' needs a command").arg(group), group);
            return usageError(QStringLiteral("unknown command '%1 %2'").arg(group, words[0]), group);
        }
        if (words.isEmpty())
            return usageError(QStringLiteral("no command given"));
        return usageError(QStringLiteral("unknown command '%1'").arg(words[0]));
    }
    if (!words.isEmpty())
        return usageError(QStringLiteral("%1: unexpected argument '%2'").arg(helpOf, words[0]), helpOf);

    Invocation inv;
    inv.command = command;
    for (const auto& [c, option] : positionals)
        if (c == command)
            for (const std::string& value : option->results())
                inv.arguments << QString::fromStdString(value);
    if (!command->arguments.isEmpty() && inv.arguments.isEmpty())
        return usageError(QStringLiteral("%1: %2 missing").arg(helpOf, command->arguments), helpOf);
    inv.options = options;
    inv.every = every;

    if (inv.has(QStringLiteral("format"))) {
        const QString name = inv.value(QStringLiteral("format"));
        const auto known = std::vector<Format>{Format::Text, Format::Jsonl, Format::Csv};
        const auto found = std::find_if(known.begin(), known.end(), [&](Format f) { return formatName(f) == name; });
        if (found == known.end())
            return usageError(QStringLiteral("unknown format '%1' (text, jsonl or csv)").arg(name), helpOf);
        if (std::find(command->formats.begin(), command->formats.end(), *found) == command->formats.end())
            return usageError(QStringLiteral("%1: no %2 format").arg(helpOf, name), helpOf);
        inv.format = *found;
    }

    ParseResult r;
    r.invocation = inv;
    return r;
}

} // namespace tessavin::cli
