#pragma once
// tessavin-cli: each command runs the operation the window's handler runs,
// through the same features, and reports by exit code, stdout and stderr.
#include <QStringList>

namespace tessavin::cli {

// Runs the tool with its arguments (without the program's name); returns the exit code.
int RunCli(const QStringList& arguments);

// Drops the toolkit's own warnings unless --verbose asks for them (installed
// before the application object exists, so that none of them slips through).
void InstallMessageFilter();

} // namespace tessavin::cli
