// The Debian package as a user gets it: cpack builds it from this build tree,
// dpkg-deb unpacks it into a temporary root, and the programs there run: every
// one prints the same version, and the window starts on its demo controller in English.
#include "tessavin_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a program to its end; on failure the message carries its output.
bool run(const QString& program, const QStringList& arguments, QString* message, int timeoutMs = 120000,
         const QString& workingDirectory = {})
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (!ok)
        *message = QStringLiteral("%1 %2 failed:\n%3")
                       .arg(program, arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()));
    return ok;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a program prints on stdout (empty when it fails).
QByteArray output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    return ok ? process.readAllStandardOutput() : QByteArray();
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString deb_; // the package file
    QString root_; // the unpacked package

    QString installed(const char* path) const { return root_ + QLatin1Char('/') + QLatin1String(path); }

private slots:
    void initTestCase()
    {
        const QString cpack = QStringLiteral(TESSAVIN_CPACK_COMMAND);
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "file"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("[tools] %1 is not installed (scripts/deps installs it)").arg(tool)));
        if (!QFileInfo(cpack).isExecutable())
            QSKIP("[tools] cpack is not installed");
        QVERIFY(dir_.isValid());

        QString message;
        const QString out = dir_.filePath(QStringLiteral("out"));
        QVERIFY2(run(cpack, {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out}, &message, 120000,
                     QStringLiteral(TESSAVIN_BUILD_DIR)),
                 qPrintable(message));
        const QStringList debs = QDir(out).entryList({QStringLiteral("tessavin_" TESSAVIN_VERSION "_*.deb")},
                                                     QDir::Files);
        QCOMPARE(debs.size(), 1);
        deb_ = QDir(out).filePath(debs.first());
        root_ = dir_.filePath(QStringLiteral("root"));
        QVERIFY2(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, root_}, &message), qPrintable(message));
    }

    void installsAMenuEntryWithItsIcon()
    {
        const QByteArray entry = contents(installed("usr/share/applications/tessavin.desktop"));
        QVERIFY(entry.contains("\nExec=tessavin\n"));
        QVERIFY(entry.contains("\nIcon=tessavin\n"));
        for (const char* icon :
             {"usr/share/icons/hicolor/scalable/apps/tessavin.svg", "usr/share/icons/hicolor/48x48/apps/tessavin.png",
              "usr/share/icons/hicolor/256x256/apps/tessavin.png"})
            QVERIFY2(QFileInfo(installed(icon)).size() > 0, icon);
        QVERIFY(contents(installed("usr/share/metainfo/tessavin.metainfo.xml"))
                    .contains("<release version=\"" TESSAVIN_VERSION "\""));
        QVERIFY(contents(installed("usr/share/doc/tessavin/copyright")).contains("\nLicense: Expat\n"));
        QVERIFY(
            output(QStringLiteral("gzip"), {QStringLiteral("-dc"), installed("usr/share/doc/tessavin/changelog.gz")})
                .startsWith("tessavin (" TESSAVIN_VERSION ") unstable;"));
        // The display plugins are loaded at run time, so only Depends brings them.
        const QByteArray depends = output(QStringLiteral("dpkg-deb"),
                                          {QStringLiteral("-f"), deb_, QStringLiteral("Depends")});
        QVERIFY2(depends.contains("qt6-qpa-plugins") && depends.contains("libqt6serialport6"), depends.constData());
    }

    // man tessavin, man tessavin-cli, man tessavin-sim: made from --help by help2man.
    void everyProgramHasAManPage()
    {
#ifndef TESSAVIN_MAN_PAGES
        QSKIP("[tools] help2man was not installed when this build was configured (scripts/deps installs it)");
#endif
        for (const QString name : {"tessavin", "tessavin-cli", "tessavin-sim"}) {
            const QByteArray page = output(QStringLiteral("gzip"),
                                           {QStringLiteral("-dc"), installed("usr/share/man/man1/") + name + ".1.gz"});
            QVERIFY2(page.contains(QStringLiteral("\"%1 " TESSAVIN_VERSION "\"").arg(name).toUtf8()), qPrintable(name));
            QVERIFY2(page.contains(".SH DESCRIPTION"), qPrintable(name));
        }
    }

    void everyProgramPrintsTheOneVersion()
    {
        const QStringList programs = QDir(installed("usr/bin")).entryList(QDir::Files);
        QCOMPARE(programs, (QStringList{"tessavin", "tessavin-cli", "tessavin-sim"}));
        for (const QString& name : programs) {
            QProcess program;
            program.start(installed("usr/bin/") + name, {QStringLiteral("--version")});
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitCode(), 0);
            QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0),
                     name + QStringLiteral(" " TESSAVIN_VERSION));
        }
    }

    // Bash completes tessavin-cli's commands, each command's own options and
    // formats, the commands after "help" and the ports, from the installed script.
    void bashCompletesTheCommandLine_data()
    {
        QTest::addColumn<QString>("words"); // after the program, for bash; the last is completed
        QTest::addColumn<QStringList>("offered"); // in any order
        QTest::newRow("a command") << "log re" << QStringList{"read"};
        QTest::newRow("a command's option") << "--port 3 archive read --no-s" << QStringList{"--no-shift"};
        QTest::newRow("only the command's own options")
            << "log read --"
            << QStringList{"--all",     "--baud",       "--fast",    "--format",  "--from",   "--help",  "--index",
                           "--max",     "--newest",     "--no-fast", "--output",  "--port",   "--quiet", "--resume",
                           "--retries", "--retry-wait", "--trace",   "--verbose", "--version"};
        QTest::newRow("help, then a command") << "help co" << QStringList{"config"};
        QTest::newRow("help, then a group's command") << "help log c" << QStringList{"clear"};
        QTest::newRow("the command's formats") << "log read --format ''" << QStringList{"text", "jsonl"};
        QTest::newRow("every format before a command") << "--format ''" << QStringList{"text", "jsonl", "csv"};
        QTest::newRow("the ports") << "--port ''" << QStringList{"PORTS"};
    }
    void bashCompletesTheCommandLine()
    {
        QFETCH(QString, words);
        QFETCH(QStringList, offered);
        if (QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty())
            QSKIP("[tools] no bash here");
        if (offered == QStringList{"PORTS"}) {
            offered.clear();
            for (const QByteArray& line :
                 output(installed("usr/bin/tessavin-cli"), {"ports", "--format", "jsonl"}).split('\n'))
                if (!line.isEmpty())
                    offered << QJsonDocument::fromJson(line).object().value("path").toString();
        }
        QProcess bash;
        bash.start(QStringLiteral("bash"),
                   {QStringLiteral("-c"),
                    QStringLiteral("source %1/usr/share/bash-completion/completions/tessavin-cli || exit 1; "
                                   "c() { COMP_WORDS=(%1/usr/bin/tessavin-cli \"$@\"); COMP_CWORD=$#; _tessavin_cli; "
                                   "echo \"${COMPREPLY[*]}\"; }; c %2")
                        .arg(root_, words)});
        QVERIFY(bash.waitForFinished(20000));
        QCOMPARE(bash.exitCode(), 0);
        QStringList got = QString::fromLocal8Bit(bash.readAllStandardOutput()).trimmed().split(' ', Qt::SkipEmptyParts);
        got.sort();
        offered.sort();
        QCOMPARE(got, offered);
    }

    // In English: the translation is inside the program, nothing else installs it.
    void theWindowRunsItsDemo()
    {
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), dir_.path()); // the demo's settings folder goes into ours
        window.setProcessEnvironment(env);
        window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        window.start(installed("usr/bin/tessavin"),
                     {QStringLiteral("--lang"), QStringLiteral("en"), QStringLiteral("--demo")});
        QVERIFY(window.waitForStarted());
        QVERIFY2(!window.waitForFinished(1000), "the window ended within a second");
        window.terminate();
        QVERIFY(window.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
