// tessavin-cli: the controller's operations from the command line.
#include "cli/cli_commands.h"
#include "cli/cli_output.h"

#include "tessavin_version.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    tessavin::cli::InstallMessageFilter();
    tessavin::cli::WriteStdoutAsBytes();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessavin-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));
    return tessavin::cli::RunCli(QCoreApplication::arguments().mid(1));
}
