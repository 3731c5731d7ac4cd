// The Windows programs end to end, under wine, against tessavin-sim: the
// emulated controller on a pseudo-terminal that a wine prefix of this test's own
// maps to COM7. Each row runs a Windows program and checks its exit code and
// what it wrote; where the row says so, the Linux program runs the same command
// against the same controller and must write exactly the same bytes.
//
// TESSAVIN_WINDOWS_BUILD names the Windows build folder (scripts/windows sets
// it); without it the test skips ("[wine]").
#include "tessavin_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kComPort = 7;

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class WineTest : public QObject {
    Q_OBJECT

    QString windowsBuild_;
    QTemporaryDir dir_;
    QProcess sim_;
    QProcess server_;
    QString pty_;
    QProcessEnvironment wine_;

    // Runs one of wine's own programs in the test's prefix; true when it ended with 0.
    bool runWine(const QString& program, const QStringList& arguments)
    {
        QProcess p;
        p.setProcessEnvironment(wine_);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, arguments);
        return p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // Runs a program of the Windows build (or, with wrapper false, any Windows
    // program by its path, without the build's DLL folders) under wine.
    Run runWindows(const QString& program, const QStringList& arguments, bool wrapper = true)
    {
        QProcess p;
        p.setProcessEnvironment(wine_);
        p.setWorkingDirectory(dir_.path());
        if (wrapper)
            p.start(windowsBuild_ + QStringLiteral("/wine-run"), QStringList{program} + arguments);
        else
            p.start(QStringLiteral("wine"), QStringList{program} + arguments);
        return finish(p);
    }
    Run runLinux(const QString& program, const QStringList& arguments)
    {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(program, arguments);
        return finish(p);
    }
    static Run finish(QProcess& p)
    {
        if (!p.waitForFinished(180000))
            p.kill();
        p.waitForFinished();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }
    QString windowsProgram(const QString& name) const
    {
        for (const char* folder : {"/app/", "/tests/"})
            if (QFileInfo::exists(windowsBuild_ + QLatin1String(folder) + name))
                return windowsBuild_ + QLatin1String(folder) + name;
        return {};
    }
    // "{port}" and "{out}" in a row's arguments, for one side.
    static QStringList fill(QStringList arguments, const QString& port, const QString& out)
    {
        for (QString& a : arguments)
            a.replace(QLatin1String("{port}"), port).replace(QLatin1String("{out}"), out);
        return arguments;
    }

private slots:
    void initTestCase()
    {
        windowsBuild_ = qEnvironmentVariable("TESSAVIN_WINDOWS_BUILD");
        if (windowsBuild_.isEmpty())
            QSKIP("[wine] no Windows build named (TESSAVIN_WINDOWS_BUILD; scripts/windows runs this test)");
        windowsBuild_ = QFileInfo(windowsBuild_).absoluteFilePath();
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty(), "wine is not installed");
        QVERIFY(dir_.isValid());

        // The controller, paced at 19200 baud, answering only at its own rate.
        sim_.setProgram(QStringLiteral(TESSAVIN_SIM));
        sim_.setArguments({"--baud", "19200", "--mismatch", "silent"});
        sim_.start();
        QVERIFY(sim_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim_.canReadLine() || sim_.state() != QProcess::Running, 10000);
        // "Emulated controller on /dev/pts/N"
        pty_ = QString::fromUtf8(sim_.readLine()).trimmed().section(QLatin1Char(' '), -1);
        QVERIFY2(pty_.startsWith(QLatin1String("/dev/")), qPrintable(pty_));

        // A wine prefix of this test's own, its COM7 the controller's terminal.
        wine_ = QProcessEnvironment::systemEnvironment();
        wine_.insert(QStringLiteral("WINEPREFIX"), dir_.filePath(QStringLiteral("wine")));
        wine_.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        wine_.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
        wine_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // COM7 is the controller's terminal, as wine maps a port: a value under
        // its Ports key, which its mount manager turns into the device and the
        // SERIALCOMM entry Windows lists ports from, when the services start.
        QVERIFY(runWine(QStringLiteral("wineboot"), {"--init"}));
        QVERIFY(runWine(QStringLiteral("wine"),
                        {"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", QStringLiteral("COM%1").arg(kComPort), "/d",
                         pty_, "/f"}));
        runWine(QStringLiteral("wineserver"), {"--kill"}); // none may be left to end
        // One wine server for the rest of the test, its services started apart
        // from the rows.
        server_.setProcessEnvironment(wine_);
        server_.setStandardOutputFile(QProcess::nullDevice());
        server_.setStandardErrorFile(QProcess::nullDevice());
        server_.start(QStringLiteral("wineserver"), {"--foreground", "--persistent"});
        QVERIFY(server_.waitForStarted());
        QVERIFY(runWine(QStringLiteral("wine"), {"cmd", "/c", "exit"}));
        const QString com = dir_.filePath(QStringLiteral("wine/dosdevices/com%1").arg(kComPort));
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(com).symLinkTarget(), pty_, 30000);
        QFile config(dir_.filePath(QStringLiteral("config.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("{\"device\": 2024, \"name\": \"pump station\", \"limits\": [1, 2.5, -3]}\n");
    }
    void cleanupTestCase()
    {
        if (sim_.state() == QProcess::Running) {
            sim_.terminate();
            sim_.waitForFinished();
        }
        if (!windowsBuild_.isEmpty()) {
            QProcess stop;
            stop.setProcessEnvironment(wine_);
            stop.start(QStringLiteral("wineserver"), {"--kill"});
            stop.waitForFinished();
            server_.waitForFinished();
        }
    }

    // program: a Windows program of the build; onWindows/onLinux: its arguments on
    // each side ("{port}": COM7 under wine, the terminal's path on Linux;
    // "{out}": a file of that side's own). same: stdout or the {out} file must be
    // byte for byte the Linux program's; contains: a text its stdout must hold.
    void againstTheController_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("onWindows");
        QTest::addColumn<QStringList>("onLinux");
        QTest::addColumn<QString>("same");
        QTest::addColumn<QString>("contains");
        const QString port = QString::number(kComPort);
        const QStringList at19200{"--port", "{port}", "--baud", "19200"};
        QTest::newRow("tessavin-cli --version")
            << "tessavin-cli.exe" << QStringList{"--version"} << QStringList{"--version"} << "stdout"
            << "tessavin-cli " TESSAVIN_VERSION;
        QTest::newRow("tessavin --version")
            << "tessavin.exe" << QStringList{"--version"} << QStringList{"--version"} << "stdout"
            << "tessavin " TESSAVIN_VERSION;
        QTest::newRow("log read --all, JSON Lines")
            << "tessavin-cli.exe" << QStringList{"log", "read", "--all", "--format", "jsonl", "-o", "{out}"} + at19200
            << QStringList{"log", "read", "--all", "--format", "jsonl", "-o", "{out}"} + at19200 << "file"
            << "";
        QTest::newRow("archive read, CSV")
            << "tessavin-cli.exe" << QStringList{"archive", "read", "--format", "csv", "-o", "{out}"} + at19200
            << QStringList{"archive", "read", "--format", "csv", "-o", "{out}"} + at19200 << "file"
            << "";
        QTest::newRow("config download, read back")
            << "tessavin-cli.exe" << QStringList{"config", "download", "config.json", "--verify"} + at19200
            << QStringList{} << ""
            << "";
        QTest::newRow("config upload after it")
            << "tessavin-cli.exe" << QStringList{"config", "upload", "-o", "{out}"} + at19200
            << QStringList{"config", "upload", "-o", "{out}"} + at19200 << "file"
            << "pump station";
        QTest::newRow("probe finds 19200")
            << "tessavin-cli.exe" << QStringList{"probe", "--port", port, "--wait", "500"} << QStringList{} << ""
            << "19200";
        QTest::newRow("ports lists COM7") << "tessavin-cli.exe" << QStringList{"ports"} << QStringList{} << ""
                                          << QStringLiteral("COM%1").arg(kComPort);
        QTest::newRow("the window: Open, LOG") << "window_log.exe" << QStringList{port, "19200", "{out}", "window.png"}
                                               << QStringList{"{port}", "19200", "{out}"} << "file"
                                               << "";
    }
    void againstTheController()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, onWindows);
        QFETCH(QStringList, onLinux);
        QFETCH(QString, same);
        QFETCH(QString, contains);
        const QString exe = windowsProgram(program);
        QVERIFY2(!exe.isEmpty(), qPrintable(program + " is not in the Windows build"));
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        const QString winOut = tag + QStringLiteral(".windows");
        const QString linuxOut = tag + QStringLiteral(".linux");

        const Run w = runWindows(exe, fill(onWindows, QString::number(kComPort), winOut));
        QVERIFY2(w.code == 0, qPrintable(QStringLiteral("exit %1: %2").arg(w.code).arg(QString::fromUtf8(w.err))));
        // A Windows program's text output ends its lines with CR LF.
        const QByteArray winBytes = same == QLatin1String("file") ? readFile(dir_.filePath(winOut))
                                                                  : QByteArray(w.out).replace("\r\n", "\n");
        if (!contains.isEmpty())
            QVERIFY2(winBytes.contains(contains.toUtf8()), winBytes.constData());
        if (same.isEmpty())
            return;
        QVERIFY2(!winBytes.isEmpty(), "the Windows program wrote nothing");

        const QString linuxProgram = program == QLatin1String("window_log.exe") ? QStringLiteral(TESSAVIN_WINDOW_LOG)
            : program == QLatin1String("tessavin.exe")                          ? QStringLiteral(TESSAVIN_WINDOW)
                                                                                : QStringLiteral(TESSAVIN_CLI);
        const Run l = runLinux(linuxProgram, fill(onLinux, pty_, linuxOut));
        QVERIFY2(l.code == 0, qPrintable(QString::fromUtf8(l.err)));
        const QByteArray linuxBytes = same == QLatin1String("file") ? readFile(dir_.filePath(linuxOut)) : l.out;
        QCOMPARE(winBytes, linuxBytes);
    }

    // The installer, silently into a folder of the prefix: the command-line
    // program it installs runs from there alone (no DLL but those installed),
    // the start menu has the window, and the silent uninstall removes both.
    // (NSIS takes /D= as the rest of the command line, unquoted: wine quotes an
    // argument with a blank, so the folder has none.)
    void installAndUninstall()
    {
        const QStringList setups
            = QDir(windowsBuild_).entryList({QStringLiteral("tessavin-*-win64-setup.exe")}, QDir::Files);
        QCOMPARE(setups.size(), 1);
        const QString installed = dir_.filePath(QStringLiteral("wine/drive_c/TessavinTest"));
        const QString menu = dir_.filePath(
            QStringLiteral("wine/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"));
        const auto shortcuts = [&] {
            QStringList found;
            for (const QFileInfo& folder : QDir(menu).entryInfoList({QStringLiteral("Tessavin*")}, QDir::Dirs))
                found += QDir(folder.filePath()).entryList({QStringLiteral("Tessavin.lnk")}, QDir::Files);
            return found;
        };
        Run r = runWindows(QDir(windowsBuild_).filePath(setups.first()), {"/S", "/D=C:\\TessavinTest"}, false);
        QCOMPARE(r.code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(installed + QStringLiteral("/Uninstall.exe")), 60000);
        for (const char* file :
             {"tessavin.exe", "tessavin-cli.exe", "Qt6Core.dll", "platforms/qwindows.dll", "LICENSE.txt"})
            QVERIFY2(QFileInfo::exists(installed + QLatin1Char('/') + QLatin1String(file)), file);
        QCOMPARE(shortcuts(), QStringList{"Tessavin.lnk"});
        r = runWindows(QStringLiteral("C:\\TessavinTest\\tessavin-cli.exe"), {"--version"}, false);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith("tessavin-cli " TESSAVIN_VERSION), r.out.constData());
        r = runWindows(QStringLiteral("C:\\TessavinTest\\Uninstall.exe"), {"/S"}, false);
        QCOMPARE(r.code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(installed), 60000);
        QCOMPARE(shortcuts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(WineTest)
#include "tst_wine.moc"
