#pragma once
// One function a command: each starts the context (port, output, trace) and
// runs the operation the window's handler runs, with the options the command
// line gave it (checked as they were parsed). Each returns the exit code.
#include "cli/cli_context.h"
#include "features/service_commands.h"

#include <QString>

#include <optional>

namespace tessavin::cli {

// Which records a download reads: at most one choice; none, the newest 10.
struct LogReadOptions {
    std::optional<int> newest;
    std::optional<int> index;
    std::optional<int> from;
    bool all = false;
    bool resume = false; // go on with the -o file
};

struct ArchiveReadOptions {
    std::optional<int> newest;
    std::optional<int> index;
    std::optional<int> one; // only the value of that record
    std::optional<int> from;
    bool resume = false;
    bool noShift = false; // the controller's time, not the computer's
    std::optional<QString> chart; // --chart FILE
};

// --yes: a command that cannot be undone goes ahead.
struct Confirmation {
    bool yes = false;
};

// --test: the test configuration instead of the configuration.
struct WhichConfig {
    bool test = false;
};

struct ConfigDownloadOptions {
    bool force = false; // send a text that is not JSON
    bool verify = false; // read it back and compare
};

struct ReportOptions {
    bool force = false; // write into a folder that is not empty
};

struct ProbeOptions {
    int wait = 150; // ms for each question's first byte
    bool parallel = false;
    bool save = false; // into the settings file
};

struct RespondOptions {
    int add1 = 0; // clock offset in seconds for address 1
    int add2 = 0; // for every other address
    int day = 28;
};

int RunLogInfo(Context& c);
int RunLogRead(Context& c, const LogReadOptions& o);
int RunLogSwitch(Context& c, SwitchCommand command, const QString& done);
int RunLogClear(Context& c, const Confirmation& o);
int RunArchiveRead(Context& c, const ArchiveReadOptions& o);
// Everything of a visit into a folder (the report command).
int RunReport(Context& c, const ReportOptions& o);
int RunConfigStatus(Context& c);
int RunConfigCommand(Context& c, bool reboot); // reboot, or set test mode
int RunConfigUpload(Context& c, const WhichConfig& o);
int RunConfigDownload(Context& c, const ConfigDownloadOptions& o);
int RunConfigDiff(Context& c, const WhichConfig& o);
int RunConfigValidate(Context& c); // needs no port
int RunDeviceRead(Context& c, bool pressure); // the pressure, or the device number
int RunDeviceRegister(Context& c, const Confirmation& o);
int RunScriptSend(Context& c);
int RunScriptRead(Context& c);
int RunScriptClear(Context& c, const Confirmation& o);
int RunRespond(Context& c, const RespondOptions& o);
// Need no port.
int RunPorts(Context& c);
int RunProbe(Context& c, const ProbeOptions& o); // opens every port it tries itself

} // namespace tessavin::cli
