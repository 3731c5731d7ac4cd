#include "cli_args.h"

#include "config_transfer.h"
#include "script_transfer.h"
#include "tessavin_version.h"

#include <algorithm>

namespace tessavin::cli {

namespace {

const QString kTool = QStringLiteral("tessavin-cli");

struct OptionInfo {
    QString name;
    QChar shortName;   // null when there is none
    QString valueName; // empty for a switch
    QString help;
    bool global = false;
};

const std::vector<OptionInfo>& Options()
{
    static const std::vector<OptionInfo> options = {
        // Global options.
        {QStringLiteral("port"), {}, QStringLiteral("PORT"),
         QStringLiteral("The serial port: a number N (COM N; /dev/ttyS(N-1) on Linux), a device name "
                        "(ttyUSB0) or a path (/dev/ttyUSB0). Default: the settings file."),
         true},
        {QStringLiteral("baud"), {}, QStringLiteral("RATE"),
         QStringLiteral("The baud rate. Default: the settings file, else 38400."), true},
        {QStringLiteral("trace"), {}, QStringLiteral("FILE"),
         QStringLiteral("Write every frame sent and received to FILE as JSON Lines, each as it passes."), true},
        {QStringLiteral("output"), QLatin1Char('o'), QStringLiteral("FILE"),
         QStringLiteral("Write the records or the data to FILE instead of stdout (replaced if it exists)."), true},
        {QStringLiteral("format"), {}, QStringLiteral("FORMAT"),
         QStringLiteral("text (default), jsonl, or csv (archive read only)."), true},
        {QStringLiteral("quiet"), QLatin1Char('q'), {},
         QStringLiteral("No progress line and no confirmations; errors are still reported."), true},
        {QStringLiteral("verbose"), QLatin1Char('v'), {},
         QStringLiteral("Print every frame on stderr as it passes, and the toolkit's own warnings."), true},
        {QStringLiteral("fast"), {}, {},
         QStringLiteral("Fast replies: a register reply ends once the bytes its length states are in "
                        "(also [link] fast=true in the settings file)."),
         true},
        {QStringLiteral("help"), QLatin1Char('h'), {}, QStringLiteral("Show the help of the tool or of the command."),
         true},
        {QStringLiteral("version"), {}, {}, QStringLiteral("Show the version."), true},
        // Options of single commands.
        {QStringLiteral("newest"), {}, QStringLiteral("N"),
         QStringLiteral("The newest N records, oldest first (default 10)."), false},
        {QStringLiteral("index"), {}, QStringLiteral("I"), QStringLiteral("The one record at index I."), false},
        {QStringLiteral("all"), {}, {}, QStringLiteral("Every record the log holds, oldest first."), false},
        {QStringLiteral("max"), {}, {},
         QStringLiteral("Ask the log's capacity first (the window's Max box); otherwise 2000 is assumed."), false},
        {QStringLiteral("one"), {}, QStringLiteral("I"),
         QStringLiteral("Only the value of the record at index I, truncated toward zero (the window's "
                        "value field)."),
         false},
        {QStringLiteral("no-shift"), {}, {},
         QStringLiteral("Keep the controller's time; by default dated values are moved by the computer's "
                        "offset from UTC, as the window shows them."),
         false},
        {QStringLiteral("yes"), {}, {}, QStringLiteral("Go ahead: this command cannot be undone."), false},
        {QStringLiteral("test"), {}, {}, QStringLiteral("The test configuration instead of the configuration."),
         false},
        {QStringLiteral("add1"), {}, QStringLiteral("S"),
         QStringLiteral("Clock offset in seconds for device address 1 (default 0; under 3600 either way)."), false},
        {QStringLiteral("add2"), {}, QStringLiteral("S"),
         QStringLiteral("Clock offset in seconds for every other address (default 0)."), false},
        {QStringLiteral("day"), {}, QStringLiteral("D"),
         QStringLiteral("The day sent in date-and-time answers (default 28)."), false},
    };
    return options;
}

const OptionInfo* findOption(const QString& name)
{
    for (const OptionInfo& o : Options())
        if (o.name == name)
            return &o;
    return nullptr;
}

const OptionInfo* findShort(QChar c)
{
    for (const OptionInfo& o : Options())
        if (!o.shortName.isNull() && o.shortName == c)
            return &o;
    return nullptr;
}

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
    return QStringLiteral(
        "Exit codes:\n"
        "  0    done\n"
        "  2    usage error (unknown option, bad number, missing --yes, a file argument that\n"
        "       cannot be read or created); nothing was sent\n"
        "  3    the port could not be opened (no such device, permission denied, busy)\n"
        "  4    the controller did not answer, or answered invalidly\n"
        "  5    a download ended early on a failed record, or its output could not be\n"
        "       written; the records read are kept\n"
        "  130  interrupted by SIGINT or SIGTERM; the records read are kept\n");
}

QString globalOptions()
{
    QString text = QStringLiteral("Options (before or after the command):\n");
    for (const OptionInfo& o : Options())
        if (o.global)
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

ParseResult usageError(const QString& message, const QString& helpOf = {})
{
    ParseResult r;
    r.exitCode = exit_code::kUsage;
    r.error = message + QStringLiteral("\nTry '%1%2 --help'.")
                            .arg(kTool, helpOf.isEmpty() ? QString() : QLatin1Char(' ') + helpOf);
    return r;
}

ParseResult printed(const QString& text)
{
    ParseResult r;
    r.out = text;
    return r;
}

bool isGroup(const QString& word)
{
    for (const CommandInfo& c : Commands())
        if (c.group == word)
            return true;
    return false;
}

} // namespace

const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = [] {
        const auto data = std::vector<Format>{Format::Text, Format::Jsonl};
        std::vector<CommandInfo> c;
        c.push_back({{}, QStringLiteral("ports"), {}, QStringLiteral("the serial ports the system sees"),
                     QStringLiteral("Lists the serial ports the system sees: name, path, description, manufacturer,\n"
                                    "serial number, VID:PID and, on Linux, the stable /dev/serial/by-id path.\n"
                                    "Pseudo-terminals are not listed."),
                     {}, data, false, false, true});
        c.push_back({QStringLiteral("log"), QStringLiteral("info"), {},
                     QStringLiteral("the event log's capacity, record count and begin"),
                     QStringLiteral("Asks the controller for the event log's capacity, the number of records it\n"
                                    "holds and its begin (the slot after the newest record)."),
                     {}, data, true, false, true});
        c.push_back({QStringLiteral("log"), QStringLiteral("read"), {}, QStringLiteral("read event-log records"),
                     QStringLiteral(
                         "Reads event-log records as the window's LOG button does: first the capacity\n"
                         "(with --max), the count and the begin, then one request per record.\n"
                         "\n"
                         "Which records (one of):\n"
                         "  --newest N   the newest N records, oldest first; the default is 10. For N = 10,\n"
                         "               100 or 500 these are the window's boxes of that name, for any\n"
                         "               other N its 'последних' box with N typed.\n"
                         "  --index I    the one record at index I (the window's '1' box with I).\n"
                         "  --all        every record the log holds, oldest first ('последних' with the\n"
                         "               count).\n"
                         "\n"
                         "--format text writes the lines the window writes to its file (CR LF in a file\n"
                         "given with -o, LF on stdout). --format jsonl writes one object a record: index,\n"
                         "marker, time (ISO 8601, the controller's clock; null when the stamp is not a\n"
                         "date), text (the line as the window shows it) and raw (the record's bytes in\n"
                         "hexadecimal). Each line is written as its record arrives. Ctrl+C stops after\n"
                         "the record in flight (exit 130)."),
                     {QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("all"), QStringLiteral("max")},
                     data, true, true, true});
        c.push_back({QStringLiteral("log"), QStringLiteral("clear"), {}, QStringLiteral("erase the event log (--yes)"),
                     QStringLiteral("Erases the controller's event log. Needs --yes; without it nothing is sent."),
                     {QStringLiteral("yes")}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("log"), QStringLiteral("start"), {}, QStringLiteral("switch logging on"),
                     QStringLiteral("Switches the controller's logging on."), {}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("log"), QStringLiteral("stop"), {}, QStringLiteral("switch logging off"),
                     QStringLiteral("Switches the controller's logging off."), {}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("archive"), QStringLiteral("read"), {}, QStringLiteral("read archived values"),
                     QStringLiteral(
                         "Reads dated values of the archive (a ring of 1001 records, indexes 0 to 1000)\n"
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
                         "\n"
                         "Dated values are shown in the computer's local time (the controller keeps UTC),\n"
                         "unless --no-shift. --format text writes the window's file lines (CR LF in a file,\n"
                         "LF on stdout); jsonl one object a record: index, device_time (the controller's\n"
                         "clock), time (shifted, with its offset), value and raw (the ten record bytes in\n"
                         "hexadecimal); csv the same columns after a header line. Undated records have\n"
                         "null (empty) times. Ctrl+C stops after the record in flight (exit 130)."),
                     {QStringLiteral("newest"), QStringLiteral("index"), QStringLiteral("one"), QStringLiteral("no-shift")},
                     {Format::Text, Format::Jsonl, Format::Csv}, true, true, true});
        c.push_back({QStringLiteral("config"), QStringLiteral("status"), {},
                     QStringLiteral("the status of the controller's configuration"),
                     QStringLiteral("Asks the status of the controller's configuration: OK, or NOT OK with the\n"
                                    "reason (bad json, no memory, no file)."),
                     {}, data, true, false, true});
        c.push_back({QStringLiteral("config"), QStringLiteral("set-test"), {}, QStringLiteral("switch to test mode"),
                     QStringLiteral("Switches the controller to test mode."), {}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("config"), QStringLiteral("reboot"), {}, QStringLiteral("reboot the controller"),
                     QStringLiteral("Reboots the controller; it stays silent for a few seconds afterwards."), {},
                     {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("config"), QStringLiteral("upload"), {},
                     QStringLiteral("read the configuration from the controller"),
                     QStringLiteral("Reads the controller's configuration (with --test its test configuration)\n"
                                    "and writes its bytes as they came to stdout or to the file given with -o."),
                     {QStringLiteral("test")}, {Format::Text}, true, false, true});
        c.push_back({QStringLiteral("config"), QStringLiteral("download"), QStringLiteral("FILE"),
                     QStringLiteral("send a configuration file to the controller"),
                     QStringLiteral("Sends the configuration in FILE to the controller as the window sends it after\n"
                                    "opening the file: its lines joined by CR LF, in the encoding they came in\n"
                                    "(UTF-8 or Windows-1251), at most %1 bytes.")
                         .arg(kTransferTextLimit),
                     {}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("device"), QStringLiteral("ident"), {}, QStringLiteral("the device number"),
                     QStringLiteral("Reads the device number (greater than zero)."), {}, data, true, false, true});
        c.push_back({QStringLiteral("device"), QStringLiteral("pressure"), {}, QStringLiteral("the pressure"),
                     QStringLiteral("Reads the pressure (greater than zero), with two decimals."), {}, data, true,
                     false, true});
        c.push_back({QStringLiteral("device"), QStringLiteral("register"), {},
                     QStringLiteral("the registration command (--yes)"),
                     QStringLiteral("Sends the registration command. Needs --yes; without it nothing is sent."),
                     {QStringLiteral("yes")}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("script"), QStringLiteral("send"), QStringLiteral("FILE"),
                     QStringLiteral("send a script file"),
                     QStringLiteral("Sends the script in FILE, its bytes as they stand, in one request (at most\n"
                                    "%1 bytes).")
                         .arg(kScriptMaxBytes),
                     {}, {Format::Text}, true, false, false});
        c.push_back({QStringLiteral("script"), QStringLiteral("read"), {}, QStringLiteral("read the script back"),
                     QStringLiteral("Reads the controller's script and writes its bytes to stdout or to the file\n"
                                    "given with -o."),
                     {}, {Format::Text}, true, false, true});
        c.push_back({QStringLiteral("script"), QStringLiteral("clear"), {}, QStringLiteral("clear the script (--yes)"),
                     QStringLiteral("Clears the controller's script. Needs --yes; without it nothing is sent."),
                     {QStringLiteral("yes")}, {Format::Text}, true, false, false});
        c.push_back({{}, QStringLiteral("respond"), {}, QStringLiteral("answer the controller's polls until Ctrl+C"),
                     QStringLiteral(
                         "Answers the controller's polls as the window's Start button does: the date and\n"
                         "time from the computer's clock moved by the offset of the polling address, the\n"
                         "fixed coefficients, and the values of its reports, each trace line printed as\n"
                         "it is made. Ends with exit 0 on SIGINT or SIGTERM."),
                     {QStringLiteral("add1"), QStringLiteral("add2"), QStringLiteral("day")}, {Format::Text}, true,
                     true, true});
        return c;
    }();
    return commands;
}

QString ToolHelp()
{
    QString text = QStringLiteral("Usage: %1 [options] <command> [options]\n\n").arg(kTool);
    text += QStringLiteral(
        "Every operation of the logging controller, without the window: the same requests\n"
        "on the serial line, the same timing, the same file lines.\n\n"
        "Commands:\n");
    for (const CommandInfo& c : Commands()) {
        QString left = c.fullName();
        if (!c.arguments.isEmpty())
            left += QLatin1Char(' ') + c.arguments;
        text += row(left, c.summary);
    }
    text += QLatin1Char('\n') + globalOptions();
    text += QStringLiteral(
        "\nThe port and baud rate come from --port and --baud, else from the window's settings\n"
        "file (log.log beside the programs; when that folder cannot be written, the per-user\n"
        "configuration folder), else there is no port and the baud rate is 38400.\n\n");
    text += exitCodes();
    text += QStringLiteral("\nRun '%1 <command> --help' for a command's own options.\n").arg(kTool);
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
    if (!c.options.isEmpty()) {
        text += QStringLiteral("\nOptions:\n");
        for (const QString& name : c.options)
            text += row(optionLabel(*findOption(name)), findOption(name)->help);
    }
    QStringList formats;
    for (Format f : c.formats)
        formats << formatName(f);
    text += QStringLiteral("\nFormats: %1.\n\n").arg(formats.join(QStringLiteral(", ")));
    text += globalOptions();
    text += QLatin1Char('\n') + exitCodes();
    return text;
}

ParseResult ParseCommandLine(const QStringList& arguments)
{
    QStringList words;
    QMap<QString, QString> given;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            words << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const OptionInfo* option = nullptr;
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QLatin1String("--"))) {
            QString name = arg.mid(2);
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                hasValue = true;
                name.truncate(eq);
            }
            option = findOption(name);
            if (!option)
                return usageError(QStringLiteral("unknown option '--%1'").arg(name));
            if (hasValue && option->valueName.isEmpty())
                return usageError(QStringLiteral("option '--%1' takes no value").arg(name));
        } else {
            option = findShort(arg.at(1));
            if (!option)
                return usageError(QStringLiteral("unknown option '%1'").arg(arg));
            if (arg.size() > 2) {
                if (option->valueName.isEmpty())
                    return usageError(QStringLiteral("unknown option '%1'").arg(arg));
                value = arg.mid(2);
                hasValue = true;
            }
        }
        if (!option->valueName.isEmpty() && !hasValue) {
            if (i + 1 >= arguments.size())
                return usageError(QStringLiteral("option '--%1' needs a value (%2)").arg(option->name, option->valueName));
            value = arguments[++i];
        }
        if (option->name == QLatin1String("help"))
            help = true;
        else if (option->name == QLatin1String("version"))
            version = true;
        else
            given.insert(option->name, value);
    }

    if (version && !help)
        return printed(QStringLiteral("%1 %2\n").arg(kTool, QStringLiteral(TESSAVIN_VERSION)));

    // The command: one word (ports, respond) or a group and a word.
    const CommandInfo* command = nullptr;
    qsizetype used = 0;
    if (!words.isEmpty()) {
        for (const CommandInfo& c : Commands()) {
            if (c.group.isEmpty() && c.name == words[0]) {
                command = &c;
                used = 1;
            } else if (!c.group.isEmpty() && c.group == words[0] && words.size() > 1 && c.name == words[1]) {
                command = &c;
                used = 2;
            }
        }
    }
    if (help) {
        if (command)
            return printed(CommandHelp(*command));
        if (!words.isEmpty() && isGroup(words[0]))
            return printed(GroupHelp(words[0]));
        return printed(ToolHelp());
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (!command) {
        if (isGroup(words[0])) {
            if (words.size() == 1)
                return usageError(QStringLiteral("'%1' needs a command").arg(words[0]), words[0]);
            return usageError(QStringLiteral("unknown command '%1 %2'").arg(words[0], words[1]), words[0]);
        }
        return usageError(QStringLiteral("unknown command '%1'").arg(words[0]));
    }

    Invocation inv;
    inv.command = command;
    inv.arguments = words.mid(used);
    const QString helpOf = command->fullName();
    const qsizetype wanted = command->arguments.isEmpty() ? 0 : 1;
    if (inv.arguments.size() > wanted)
        return usageError(QStringLiteral("%1: unexpected argument '%2'").arg(helpOf, inv.arguments[wanted]), helpOf);
    if (inv.arguments.size() < wanted)
        return usageError(QStringLiteral("%1: %2 missing").arg(helpOf, command->arguments), helpOf);

    for (auto it = given.cbegin(); it != given.cend(); ++it) {
        const OptionInfo* option = findOption(it.key());
        if (!option->global && !command->options.contains(it.key()))
            return usageError(QStringLiteral("%1: option '--%2' does not apply here").arg(helpOf, it.key()), helpOf);
    }
    inv.options = given;

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
