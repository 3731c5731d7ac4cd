// tessavin-cli: the controller's operations from the command line.
#include "cli/cli_commands.h"

#include "tessavin_version.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#endif

int main(int argc, char** argv)
{
    tessavin::cli::InstallMessageFilter();
#ifdef Q_OS_WIN
    // Records go out byte for byte: no LF turned into CR LF on the way.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessavin-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSAVIN_VERSION));
    return tessavin::cli::RunCli(QCoreApplication::arguments().mid(1));
}
