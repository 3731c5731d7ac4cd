#pragma once
// One function a command: each checks its own options, starts the context (port,
// output, trace) and runs the operation the window's handler runs. Each returns
// the exit code.
#include "cli_context.h"
#include "service_commands.h"

namespace tessavin::cli {

int RunLogInfo(Context& c);
int RunLogRead(Context& c);
int RunLogSwitch(Context& c, SwitchCommand command, const QString& done);
int RunArchiveRead(Context& c);
// Everything of a visit into a folder (the report command).
int RunReport(Context& c);
int RunConfigStatus(Context& c);
int RunConfigCommand(Context& c, bool reboot); // reboot, or set test mode
int RunConfigUpload(Context& c);
int RunConfigDownload(Context& c);
int RunConfigDiff(Context& c);
int RunConfigValidate(Context& c); // needs no port
int RunDeviceRead(Context& c, bool pressure); // the pressure, or the device number
int RunDeviceRegister(Context& c);
int RunScriptSend(Context& c);
int RunScriptRead(Context& c);
int RunScriptClear(Context& c);
int RunRespond(Context& c);
// Need no port.
int RunPorts(Context& c);
int RunProbe(Context& c); // opens every port it tries itself

} // namespace tessavin::cli
