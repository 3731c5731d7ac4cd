#pragma once

#include <QString>

#include <functional>

namespace tessavin {
// Starts the application: the four windows in their order, then the message loop.
int RunApplication(int argc, char** argv);

// Runs the start-up; an error that escapes it is reported and the process's
// exit code is 1.
int RunReportingErrors(const std::function<int()>& start, const std::function<void(const QString&)>& report);
} // namespace tessavin
