#include "cli/cli_args.h"

#include "features/archive.h"
#include "cli/cli_operations.h"
#include "features/config/config_transfer.h"
#include "util/conversions.h"
#include "features/poll_responder.h"
#include "features/script_transfer.h"
#include "tessavin_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace tessavin::cli {

namespace {

const QString kTool = QStringLiteral("tessavin-cli");

QString S(const char* text) { return QString::fromUtf8(text); }

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

const std::vector<Format> kFormats{Format::Text, Format::Jsonl, Format::Csv};

// ---- Values, as CLI11 checks them before anything runs ----

// A number as `read` reads it, or the problem it names (CLI11 puts the option's
// name before it). The number goes on in decimal, as the field takes it.
CLI::Validator Reads(std::function<std::optional<int>(const QString& text, QString* problem)> read)
{
    return CLI::Validator(
        [read = std::move(read)](std::string& text) {
            QString problem;
            const auto value = read(QString::fromStdString(text), &problem);
            if (!value)
                return problem.toStdString();
            text = std::to_string(*value);
            return std::string();
        },
        "");
}

// A whole number from min to max, read as every integer field of the system is.
CLI::Validator IntegerIn(int min, int max)
{
    return Reads([min, max](const QString& text, QString* problem) -> std::optional<int> {
        const auto value = ParseInteger(text);
        if (!value)
            *problem = NotAnIntegerMessage(text);
        else if (*value < min || *value > max)
            *problem = QStringLiteral("%1 is out of range (%2 to %3)").arg(*value).arg(min).arg(max);
        else
            return value;
        return std::nullopt;
    });
}

// ---- Options bound to the fields they fill ----

// An option with a value (shown as `valueName` in the help); `take` gets the
// value (every one given, for TakeAll).
CLI::Option* Value(CLI::App& app, const std::string& names, const char* valueName, const char* help,
                   std::function<void(const QString&)> take)
{
    const auto bind = [take = std::move(take)](const CLI::results_t& results) {
        for (const std::string& result : results)
            take(QString::fromStdString(result));
        return true;
    };
    return app.add_option(names, bind, help)->type_name(valueName);
}

CLI::Option* Text(CLI::App& app, const std::string& names, const char* valueName, std::optional<QString>& to,
                  const char* help)
{
    return Value(app, names, valueName, help, [&to](const QString& text) { to = text; });
}

template <class Field>
CLI::Option* Integer(CLI::App& app, const std::string& names, const char* valueName, int min, int max, Field& to,
                     const char* help)
{
    return Value(app, names, valueName, help, [&to](const QString& text) { to = text.toInt(); })
        ->transform(IntegerIn(min, max));
}

CLI::Option* Switch(CLI::App& app, const std::string& names, bool& to, const char* help)
{
    return app.add_flag_callback(
        names, [&to] { to = true; }, help);
}

// Options of which a command takes one at most.
void OneOf(std::initializer_list<CLI::Option*> options)
{
    for (CLI::Option* option : options)
        for (CLI::Option* other : options)
            if (other != option)
                option->excludes(other);
}

// The options every command takes, before or after it.
void DeclareGlobalOptions(CLI::App& app, Invocation& inv)
{
    Value(app, "--port", "PORT",
          "The serial port: a number N (COM N; /dev/ttyS(N-1) on Linux), a device name (ttyUSB0) or a path "
          "(/dev/ttyUSB0). Default: the settings file.",
          [&inv](const QString& port) { inv.ports << port; })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    Value(app, "--baud", "RATE", "The baud rate. Default: the settings file, else 38400.",
          [&inv](const QString& rate) { inv.bauds << rate.toInt(); })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->transform(Reads(ReadBaudRate));
    Text(app, "--trace", "FILE", inv.trace,
         "Write every frame sent and received to FILE as JSON Lines, each as it passes.");
    Text(app, "-o,--output", "FILE", inv.output,
         "Write the records or the data to FILE instead of stdout ('-'). FILE is replaced once the first record "
         "or byte arrives; a command that fails before that leaves it as it was.");
    std::vector<std::string> formats;
    for (Format format : kFormats)
        formats.push_back(formatName(format).toStdString());
    Value(app, "--format", "FORMAT", "text (default), jsonl, or csv (archive read only).", [&inv](const QString& name) {
        for (Format format : kFormats)
            if (formatName(format) == name)
                inv.format = format;
    })->check(CLI::IsMember(formats).description(""));
    Switch(app, "-q,--quiet", inv.quiet, "No progress line and no confirmations; errors are still reported.");
    Switch(app, "-v,--verbose", inv.verbose,
           "Print every frame on stderr as it passes, and the toolkit's own warnings.");
    CLI::Option* fast = app.add_flag_callback(
        "--fast", [&inv] { inv.fast = true; },
        "Fast replies: a register reply ends once the bytes its length states are in (also [link] fast=true in "
        "the settings file).");
    CLI::Option* noFast = app.add_flag_callback(
        "--no-fast", [&inv] { inv.fast = false; }, "No fast replies, whatever the settings file says.");
    OneOf({fast, noFast});
    Text(app, "--retries", "N", inv.retries,
         "Send a read request again, up to N more times, when its reply is missing, too short, fails a "
         "checksum or holds a value the controller cannot send (0 to 20; default [link] retries in the settings "
         "file, else 2; 0: never). Requests that change the controller are never repeated: a damaged reply to "
         "one leaves it unconfirmed (exit 4).");
    Text(app, "--retry-wait", "MS", inv.retryWait,
         "How long a read request that may still be sent again waits for its reply's first byte, once the "
         "controller has answered (10 to 60000 ms; default [link] retry_wait, else 1000). The first request and "
         "the last try wait the whole 13 s.");
}

// ---- The options some commands share ----

CLI::Option* Newest(CLI::App& app, std::optional<int>& to, int max)
{
    return Integer(app, "--newest", "N", 1, max, to, "The newest N records, oldest first (default 10).");
}

CLI::Option* Index(CLI::App& app, std::optional<int>& to, int last)
{
    return Integer(app, "--index", "I", 0, last, to, "The one record at index I.");
}

CLI::Option* From(CLI::App& app, std::optional<int>& to, int last)
{
    return Integer(app, "--from", "I", 0, last, to, "From index I to the newest record, oldest first.");
}

// --resume goes on with the -o file, so it needs one.
void Resume(CLI::App& app, bool& to)
{
    CLI::App* root = &app;
    while (root->get_parent())
        root = root->get_parent();
    Switch(app, "--resume", to,
           "Keep the records already in the -o file (jsonl; a cut last line is dropped) and go on after its last "
           "index.")
        ->needs(root->get_option("--output"));
}

void Yes(CLI::App& app, Confirmation& o) { Switch(app, "--yes", o.yes, "Go ahead: this command cannot be undone."); }

void Test(CLI::App& app, WhichConfig& o)
{
    Switch(app, "--test", o.test, "The test configuration instead of the configuration.");
}

// ---- A command's handler, with its options or without ----

std::function<Runner(CLI::App&)> Handle(Runner run)
{
    return [run = std::move(run)](CLI::App&) { return run; };
}

// `declare` binds the command's options to a struct made for each parse; the
// handler runs with it.
template <class Options>
std::function<Runner(CLI::App&)> Handle(void (*declare)(CLI::App&, Options&), int (*run)(Context&, const Options&))
{
    return [declare, run](CLI::App& app) -> Runner {
        auto options = std::make_shared<Options>();
        declare(app, *options);
        return [options, run](Context& c) { return run(c, *options); };
    };
}

} // namespace

// The commands. To add one: one entry below, with its group and name, its
// positional argument (if any), the summary for the lists, the --help text, its
// handler with its own options (Handle<Options>(declare, run): `declare` binds
// each option to a field of the command's Options struct, with the checks CLI11
// makes of its value; `run` is a function of cli_operations.h), and the formats
// it writes. Nothing else needs changing: parsing, help and completion come
// from here. The entries name only the fields they set; the others keep their
// defaults.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = [] {
        const auto data = std::vector<Format>{Format::Text, Format::Jsonl};
        return std::vector<CommandInfo>{
            {.name = S("ports"),
             .summary = S("the serial ports the system sees"),
             .description = S("Lists the serial ports the system sees: name, path, description, manufacturer,\n"
                              "serial number, VID:PID and, on Linux, the stable /dev/serial/by-id path.\n"
                              "Pseudo-terminals are not listed. Writes to stdout only: -o and --trace do\n"
                              "not apply."),
             .handler = Handle(RunPorts),
             .formats = data,
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
             .handler = Handle<ProbeOptions>(
                 [](CLI::App& app, ProbeOptions& o) {
                     Integer(app, "--wait", "MS", 1, 60000, o.wait,
                             "How long each question waits for a first byte (default 150).");
                     Switch(app, "--parallel", o.parallel, "Try the ports at the same time.");
                     Switch(app, "--save", o.save,
                            "Write the port and rate found into the settings file, where the window opens next.");
                 },
                 RunProbe),
             .formats = data,
             .needsPort = false},
            {.group = S("log"),
             .name = S("info"),
             .summary = S("the event log's capacity, record count and begin"),
             .description = S("Asks the controller for the event log's capacity, the number of records it\n"
                              "holds and its begin (the slot after the newest record)."),
             .handler = Handle(RunLogInfo),
             .formats = data},
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
             .handler = Handle<LogReadOptions>(
                 [](CLI::App& app, LogReadOptions& o) {
                     OneOf({Newest(app, o.newest, 65535), Index(app, o.index, 65535),
                            Switch(app, "--all", o.all, "Every record the log holds, oldest first."),
                            From(app, o.from, 65535)});
                     Resume(app, o.resume);
                     app.add_flag("--max")->description(
                         "Accepted for the window's Max box; the capacity is asked every time.");
                 },
                 RunLogRead),
             .formats = data},
            {.group = S("log"),
             .name = S("clear"),
             .summary = S("erase the event log (--yes)"),
             .description = S("Erases the controller's event log. Needs --yes; without it nothing is sent."),
             .handler = Handle<Confirmation>(Yes, RunLogClear),
             .writesData = false},
            {.group = S("log"),
             .name = S("start"),
             .summary = S("switch logging on"),
             .description = S("Switches the controller's logging on."),
             .handler = Handle(
                 [](Context& c) { return RunLogSwitch(c, SwitchCommand::StartLogging, S("logging started")); }),
             .writesData = false},
            {.group = S("log"),
             .name = S("stop"),
             .summary = S("switch logging off"),
             .description = S("Switches the controller's logging off."),
             .handler = Handle(
                 [](Context& c) { return RunLogSwitch(c, SwitchCommand::StopLogging, S("logging stopped")); }),
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
             .handler = Handle<ArchiveReadOptions>(
                 [](CLI::App& app, ArchiveReadOptions& o) {
                     CLI::Option* newest = Newest(app, o.newest, kArchiveSlots);
                     CLI::Option* index = Index(app, o.index, kArchiveLastIndex);
                     CLI::Option* from = From(app, o.from, kArchiveLastIndex);
                     Resume(app, o.resume);
                     CLI::Option* one = Integer(
                         app, "--one", "I", 0, kArchiveLastIndex, o.one,
                         "Only the value of the record at index I, truncated toward zero (the window's value field).");
                     OneOf({newest, index, one, from});
                     Switch(app, "--no-shift", o.noShift,
                            "Keep the controller's time; by default dated values are moved by the computer's offset "
                            "from UTC, as the window shows them.");
                     Text(
                         app, "--chart", "FILE", o.chart,
                         "Also write the chart of the records read to FILE as SVG (the window's chart: local time, "
                         "gaps left open, min/max/mean, the newest marked); '-' is stdout when -o names the records' "
                         "file. Refused before anything is sent when FILE cannot be made or is the -o or --trace file.")
                         ->excludes(one);
                 },
                 RunArchiveRead),
             .formats = {Format::Text, Format::Jsonl, Format::Csv}},
            {.group = S("config"),
             .name = S("status"),
             .summary = S("the status of the controller's configuration"),
             .description = S("Asks the status of the controller's configuration: OK, or NOT OK with the\n"
                              "reason (bad json, no memory, no file)."),
             .handler = Handle(RunConfigStatus),
             .formats = data},
            {.group = S("config"),
             .name = S("set-test"),
             .summary = S("switch to test mode"),
             .description = S("Switches the controller to test mode."),
             .handler = Handle([](Context& c) { return RunConfigCommand(c, false); }),
             .writesData = false},
            {.group = S("config"),
             .name = S("reboot"),
             .summary = S("reboot the controller"),
             .description = S("Reboots the controller; it stays silent for a few seconds afterwards."),
             .handler = Handle([](Context& c) { return RunConfigCommand(c, true); }),
             .writesData = false},
            {.group = S("config"),
             .name = S("upload"),
             .summary = S("read the configuration from the controller"),
             .description = S("Reads the controller's configuration (with --test its test configuration)\n"
                              "and writes its bytes as they came to stdout or to the file given with -o.\n"
                              "A chunk whose checksum fails, once the controller has shown that it sends\n"
                              "one, is asked for again; still failing, nothing is written and the message\n"
                              "names the chunk's offset (exit 4)."),
             .handler = Handle<WhichConfig>(Test, RunConfigUpload)},
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
             .handler = Handle<ConfigDownloadOptions>(
                 [](CLI::App& app, ConfigDownloadOptions& o) {
                     Switch(app, "--force", o.force, "Send FILE even when it is not valid JSON.");
                     Switch(app, "--verify", o.verify,
                            "Read the configuration back after sending and compare the bytes.");
                 },
                 RunConfigDownload),
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
             .handler = Handle(RunConfigValidate),
             .formats = data,
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
             .handler = Handle<WhichConfig>(Test, RunConfigDiff),
             .formats = data},
            {.group = S("device"),
             .name = S("ident"),
             .summary = S("the device number"),
             .description = S("Reads the device number (greater than zero)."),
             .handler = Handle([](Context& c) { return RunDeviceRead(c, false); }),
             .formats = data},
            {.group = S("device"),
             .name = S("pressure"),
             .summary = S("the pressure"),
             .description = S("Reads the pressure (greater than zero), with two decimals."),
             .handler = Handle([](Context& c) { return RunDeviceRead(c, true); }),
             .formats = data},
            {.group = S("device"),
             .name = S("register"),
             .summary = S("the registration command (--yes)"),
             .description = S("Sends the registration command. Needs --yes; without it nothing is sent."),
             .handler = Handle<Confirmation>(Yes, RunDeviceRegister),
             .writesData = false},
            {.group = S("script"),
             .name = S("send"),
             .arguments = S("FILE"),
             .summary = S("send a script file"),
             .description = S("Sends the script in FILE, its bytes as they stand, in one request (at most\n"
                              "%1 bytes). FILE '-' reads standard input.")
                                .arg(kScriptMaxBytes),
             .handler = Handle(RunScriptSend),
             .writesData = false},
            {.group = S("script"),
             .name = S("read"),
             .summary = S("read the script back"),
             .description = S("Reads the controller's script and writes its bytes to stdout or to the file\n"
                              "given with -o. A reply whose checksums fail is asked for again; still\n"
                              "failing, nothing is written (exit 4)."),
             .handler = Handle(RunScriptRead)},
            {.group = S("script"),
             .name = S("clear"),
             .summary = S("clear the script (--yes)"),
             .description = S("Sends the script's clear request (the same bytes as the log's begin\n"
                              "question) and reports that the controller answered. Needs --yes; without it\n"
                              "nothing is sent."),
             .handler = Handle<Confirmation>(Yes, RunScriptClear),
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
             .handler = Handle<ReportOptions>(
                 [](CLI::App& app, ReportOptions& o) {
                     Switch(app, "--force", o.force,
                            "Write into DIR even when it is not empty, replacing an earlier report's files.");
                 },
                 RunReport),
             .writesData = false},
            {.name = S("respond"),
             .summary = S("answer the controller's polls until Ctrl+C"),
             .description = S("Answers the controller's polls as the window's Start button does: the date and\n"
                              "time from the computer's clock moved by the offset of the polling address, the\n"
                              "fixed coefficients, and the values of its reports, each trace line printed as\n"
                              "it is made. Ends with exit 0 on SIGINT or SIGTERM."),
             .handler = Handle<RespondOptions>(
                 [](CLI::App& app, RespondOptions& o) {
                     // The Device clock's offset stays under an hour either way.
                     const int offset = poll::kOffsetLimit - 1;
                     Integer(app, "--add1", "S", -offset, offset, o.add1,
                             "Clock offset in seconds for device address 1 (default 0; under 3600 either way).");
                     Integer(app, "--add2", "S", -offset, offset, o.add2,
                             "Clock offset in seconds for every other address (default 0).");
                     Integer(app, "--day", "D", 1, 31, o.day,
                             "The day sent in date-and-time answers, 1 to 31 (default 28).");
                 },
                 RunRespond)},
        };
    }();
    return commands;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

QString optionLabel(const CLI::Option& o)
{
    const std::vector<std::string> shortNames = o.get_snames();
    QString label = shortNames.empty() ? QStringLiteral("    --")
                                       : QStringLiteral("-%1, --").arg(QString::fromStdString(shortNames.front()));
    label += QString::fromStdString(o.get_lnames().front());
    const std::string valueName = o.get_type_name();
    if (!valueName.empty())
        label += QLatin1Char(' ') + QString::fromStdString(valueName);
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

// The rows of the options declared on `app` (not those of its subcommands), in
// the order they were declared.
QString optionRows(const CLI::App& app)
{
    QString text;
    for (const CLI::Option* o : app.get_options())
        if (o->nonpositional())
            text += row(optionLabel(*o), QString::fromStdString(o->get_description()));
    return text;
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

QString globalOptions(const CLI::App& root)
{
    return QStringLiteral("Options (before or after the command):\n") + optionRows(root);
}

QString usageLine(const CommandInfo& c)
{
    QString line = QStringLiteral("Usage: %1 %2 [options]").arg(kTool, c.fullName());
    if (!c.arguments.isEmpty())
        line += QLatin1Char(' ') + c.arguments;
    return line;
}

// The rows of the commands of a group (every command for none).
QString commandRows(const QString& group = {})
{
    QString text;
    for (const CommandInfo& c : Commands()) {
        if (!group.isEmpty() && c.group != group)
            continue;
        QString left = c.fullName();
        if (!c.arguments.isEmpty())
            left += QLatin1Char(' ') + c.arguments;
        text += row(left, c.summary);
    }
    return text;
}

// The help of the whole tool, of a command group and of one command.
QString ToolHelp(const CLI::App& root)
{
    QString text = QStringLiteral("Usage: %1 [options] <command> [options]\n\n").arg(kTool);
    text += QStringLiteral("Every operation of the logging controller, without the window: the same requests\n"
                           "on the serial line, the same timing, the same file lines.\n\n"
                           "Commands:\n");
    text += commandRows();
    text += QLatin1Char('\n') + globalOptions(root);
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
    text += commandRows(group);
    text += QStringLiteral("\nRun '%1 %2 <command> --help' for a command's options,\n"
                           "'%1 --help' for the options every command takes and the exit codes.\n")
                .arg(kTool, group);
    return text;
}

QString CommandHelp(const CommandInfo& c, const CLI::App& command, const CLI::App& root)
{
    QString text = usageLine(c) + QStringLiteral("\n\n") + c.description + QLatin1Char('\n');
    if (const QString rows = optionRows(command); !rows.isEmpty())
        text += QStringLiteral("\nOptions:\n") + rows;
    QStringList formats;
    for (Format f : c.formats)
        formats << formatName(f);
    text += QStringLiteral("\nFormats: %1.\n\n").arg(formats.join(QStringLiteral(", ")));
    text += globalOptions(root);
    text += QLatin1Char('\n') + exitCodes();
    return text;
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

// The name of a given option without dashes or value ("--yes=1" -> "yes").
QString bareName(const QString& word)
{
    QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
    return name.left(name.indexOf(QLatin1Char('=')));
}

bool isOptionWord(const QString& word) { return word.size() > 1 && word.startsWith(QLatin1Char('-')); }

// "a and b", "a, b and c".
QString listed(const QStringList& names)
{
    return names.size() < 2
        ? names.join(QString())
        : names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

// One CLI11 app: the global options on the root (reachable after the command
// too, by fallthrough), a subcommand for each group and each command, the
// command's own options on it, each bound to its field. Values are checked as
// they are bound; words it does not know are collected, not thrown, so that
// the messages can name the command.
class Parser {
public:
    Parser();
    ParseResult parse(const QStringList& arguments);

private:
    struct Command {
        const CommandInfo* info;
        CLI::App* app;
        Runner run;
    };

    void declare(const CommandInfo& c);
    void reached();
    QString helpOf() const { return command_ ? command_->info->fullName() : group_; }
    // Where a command line's options are declared: the root, and the command reached.
    std::vector<const CLI::App*> optionApps() const
    {
        if (command_)
            return {&app_, command_->app};
        return {&app_};
    }
    ParseResult refused(const CLI::ParseError& error, const QString& lastWord) const;
    QString clash() const;
    const CLI::Option* valueless(const QString& word) const;
    std::optional<ParseResult> unknownOption(const QString& word) const;
    ParseResult answer(const QStringList& words);

    CLI::App app_{"", kTool.toStdString()};
    Invocation inv_;
    bool help_ = false;
    bool version_ = false;
    std::map<QString, CLI::App*> groups_;
    std::vector<Command> commands_;
    const Command* command_ = nullptr;
    QString group_;
};

Parser::Parser()
{
    app_.set_help_flag();
    app_.allow_extras();
    app_.fallthrough();
    app_.require_subcommand(0, 1);
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
    DeclareGlobalOptions(app_, inv_);
    Switch(app_, "-h,--help", help_, "Show the help of the tool or of the command.");
    Switch(app_, "--version", version_, "Show the version.");
    for (const CommandInfo& c : Commands())
        declare(c);
}

void Parser::declare(const CommandInfo& c)
{
    CLI::App* parent = &app_;
    if (!c.group.isEmpty()) {
        CLI::App*& group = groups_[c.group];
        if (!group)
            group = app_.add_subcommand(c.group.toStdString())->require_subcommand(0, 1);
        parent = group;
    }
    CLI::App* command = parent->add_subcommand(c.name.toStdString());
    if (!c.arguments.isEmpty())
        Value(*command, c.arguments.toStdString(), "", "",
              [this](const QString& argument) { inv_.argument = argument; });
    commands_.push_back({&c, command, c.handler(*command)});
}

void Parser::reached()
{
    for (const Command& c : commands_)
        if (c.app->parsed())
            command_ = &c;
    for (const auto& [name, group] : groups_)
        if (group->parsed())
            group_ = name;
}

ParseResult Parser::parse(const QStringList& arguments)
{
    // "help COMMAND" is "COMMAND --help".
    QStringList words = arguments;
    if (!words.isEmpty() && words.first() == QLatin1String("help"))
        words = words.mid(1) << QStringLiteral("--help");
    std::vector<std::string> args;
    for (auto it = words.crbegin(); it != words.crend(); ++it)
        args.push_back(it->toStdString());
    try {
        app_.parse(args);
    } catch (const CLI::ParseError& e) {
        reached();
        return refused(e, words.isEmpty() ? QString() : words.last());
    }
    reached();
    QStringList left;
    for (const std::string& extra : app_.remaining(true)) {
        const QString word = QString::fromStdString(extra);
        if (!isOptionWord(word))
            left << word;
        else if (auto refusal = unknownOption(word))
            return *refusal;
    }
    return answer(left);
}

// What CLI11 refused, in our words where its own would be unclear. A value that
// cannot be read names its option and is said alone, as one of the settings
// file is; the rest come with the usage line.
ParseResult Parser::refused(const CLI::ParseError& error, const QString& lastWord) const
{
    QString message = QString::fromStdString(error.what());
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        ParseResult r;
        r.exitCode = exit_code::kUsage;
        r.error = message;
        return r;
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error) && !clash().isEmpty())
        message = clash();
    const CLI::Option* option = valueless(lastWord);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && option)
        message = QStringLiteral("option '%1' needs a value (%2)")
                      .arg(QString::fromStdString(option->get_name()), QString::fromStdString(option->get_type_name()));
    return usageError(message, helpOf());
}

// Options given together that exclude each other: "--fast and --no-fast: choose one".
QString Parser::clash() const
{
    for (const CLI::App* app : optionApps()) {
        const std::vector<const CLI::Option*> options = app->get_options();
        for (const CLI::Option* option : options) {
            const std::set<CLI::Option*> excluded = option->get_excludes();
            QStringList given;
            for (const CLI::Option* other : options)
                if (other->count() > 0
                    && (other == option || std::find(excluded.begin(), excluded.end(), other) != excluded.end()))
                    given << QString::fromStdString(other->get_name());
            if (option->count() > 0 && given.size() > 1)
                return listed(given) + QStringLiteral(": choose one");
        }
    }
    return {};
}

// The option a command line's last word names, when it takes a value (which
// then is missing).
const CLI::Option* Parser::valueless(const QString& word) const
{
    if (!isOptionWord(word) || word.contains(QLatin1Char('=')))
        return nullptr;
    for (const CLI::App* app : optionApps())
        if (const CLI::Option* option = app->get_option_no_throw(word.toStdString()))
            return option->get_items_expected_min() > 0 ? option : nullptr;
    return nullptr;
}

// An option word CLI11 left over: one of the command's given before it, one of
// another command's, or none at all.
std::optional<ParseResult> Parser::unknownOption(const QString& word) const
{
    const QString name = QStringLiteral("--") + bareName(word);
    if (command_ && command_->app->get_option_no_throw(name.toStdString()))
        return usageError(QStringLiteral("%1: option '%2' goes after the command").arg(helpOf(), name), helpOf());
    const bool elsewhere = std::any_of(commands_.begin(), commands_.end(), [&name](const Command& c) {
        return c.app->get_option_no_throw(name.toStdString()) != nullptr;
    });
    if (command_ && elsewhere)
        return usageError(QStringLiteral("%1: option '%2' does not apply here").arg(helpOf(), name), helpOf());
    return usageError(QStringLiteral("unknown option '%1'").arg(word.left(word.indexOf(QLatin1Char('=')))), helpOf());
}

// The parsed command line's answer: the version, a help text, a usage error
// or the command with its options.
ParseResult Parser::answer(const QStringList& words)
{
    if (version_ && !help_)
        return printed(QStringLiteral("%1 %2\nMIT License: free to use, copy, change and pass on; no warranty "
                                      "(see LICENSE).\n")
                           .arg(kTool, QStringLiteral(TESSAVIN_VERSION)));
    // "help nosuch" names no command: it is refused below, not answered with the tool's help.
    if (help_ && (command_ || words.isEmpty())) {
        if (command_)
            return printed(CommandHelp(*command_->info, *command_->app, app_));
        if (!group_.isEmpty())
            return printed(GroupHelp(group_));
        return printed(ToolHelp(app_));
    }
    if (!command_) {
        if (words.isEmpty())
            return usageError(group_.isEmpty() ? QStringLiteral("no command given")
                                               : QStringLiteral("'%1' needs a command").arg(group_),
                              group_);
        return usageError(QStringLiteral("unknown command '%1'")
                              .arg(group_.isEmpty() ? words[0] : group_ + QLatin1Char(' ') + words[0]),
                          group_);
    }
    const CommandInfo& c = *command_->info;
    if (!words.isEmpty())
        return usageError(QStringLiteral("%1: unexpected argument '%2'").arg(helpOf(), words[0]), helpOf());
    if (!c.arguments.isEmpty() && inv_.argument.isNull())
        return usageError(QStringLiteral("%1: %2 missing").arg(helpOf(), c.arguments), helpOf());
    if (std::find(c.formats.begin(), c.formats.end(), inv_.format) == c.formats.end())
        return usageError(QStringLiteral("%1: no %2 format").arg(helpOf(), formatName(inv_.format)), helpOf());
    ParseResult r;
    r.invocation = inv_;
    r.invocation->command = &c;
    r.invocation->run = command_->run;
    return r;
}

} // namespace

ParseResult ParseCommandLine(const QStringList& arguments) { return Parser().parse(arguments); }

std::optional<int> ReadBaudRate(const QString& text, QString* problem)
{
    const auto rate = ParseInteger(text);
    if (rate && *rate > 0)
        return rate;
    *problem = rate ? QStringLiteral("the baud rate must be above 0") : NotAnIntegerMessage(text);
    return std::nullopt;
}

} // namespace tessavin::cli
