// tessavin-sim as a newcomer runs it: it prints the path to open, answers there,
// applies the faults of its command line and ends cleanly on SIGTERM; a usage
// error names the option and exits 2.
#include "tessavin_version.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString simProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../sim/tessavin-sim"));
}

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text)); }

QByteArray exchange(QSerialPort& port, const QByteArray& request, qsizetype expected, int timeoutMs = 3000)
{
    port.clear();
    port.write(request);
    port.waitForBytesWritten(1000);
    QByteArray out;
    for (int i = 0; i < timeoutMs / 30 && out.size() < expected; ++i) {
        if (port.bytesAvailable() == 0)
            port.waitForReadyRead(30);
        out += port.readAll();
    }
    return out;
}

struct Finished {
    int exitCode = -1;
    QByteArray out, err;
};

// Runs tessavin-sim to its end; exit code -1 when it was still running after 5 s.
Finished runToEnd(const QStringList& arguments)
{
    QProcess sim;
    sim.start(simProgram(), arguments);
    if (!sim.waitForFinished(5000))
        return {};
    return {sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1, sim.readAllStandardOutput(),
            sim.readAllStandardError()};
}

} // namespace

class TestSimCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(simProgram()).isExecutable(), "tessavin-sim is not built beside the tests");
    }

    void servesOnThePrintedPathUntilTerminated()
    {
        // A link an earlier run left behind is replaced, and removed at the end.
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("port"));
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/999999"), link));
        QProcess sim;
        sim.start(simProgram(),
                  {QStringLiteral("--log-records"), QStringLiteral("291"), QStringLiteral("--status"),
                   QStringLiteral("2"), QStringLiteral("--fault"), QStringLiteral("silence:reg=0x2D,times=1"),
                   QStringLiteral("--link"), link});
        QVERIFY(sim.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput()).contains('\n'), 5000);
        SKIP_UNLESS_STARTED(sim.state() == QProcess::Running);
        const QByteArray firstLine = out.left(out.indexOf('\n'));
        QVERIFY2(firstLine.startsWith("Emulated controller on /"), firstLine.constData());
        const QString path = QString::fromLocal8Bit(firstLine.mid(firstLine.indexOf('/')));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        QSerialPort port(path);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47"), 12).toHex(' '),
                 QByteArray("05 64 06 00 42 97 1c 06 23 01 3f 45"));
        QCOMPARE(exchange(port, hex("05 64 03 0B 01 06 00 00 00 37 C8 1C"), 5).toHex(' '),
                 QByteArray("01 02 00 21 60"));
        // The press request meets the silence fault once; the ident is answered.
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66"), 1, 300).size(), 0);
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7"), 14).toHex(' '),
                 QByteArray("05 64 08 00 46 f7 2c 06 d2 04 00 00 f7 0e"));
        port.close();

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // An unanswered poll waits --poll-timeout, then the next follows: three polls
    // come within two seconds instead of one every three.
    void pollTimeoutShortensTheWait()
    {
        QProcess sim;
        sim.start(simProgram(),
                  {QStringLiteral("--poll"), QStringLiteral("1"), QStringLiteral("--poll-interval"),
                   QStringLiteral("1"), QStringLiteral("--poll-timeout"), QStringLiteral("100")});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput()).contains('\n'), 5000);
        SKIP_UNLESS_STARTED(sim.state() == QProcess::Running);
        QSerialPort port(QString::fromLocal8Bit(out.mid(out.indexOf('/'), out.indexOf('\n') - out.indexOf('/'))));
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QByteArray polls;
        QTRY_VERIFY_WITH_TIMEOUT((polls += port.readAll()).count(hex("AA 01 08 01")) >= 3, 2000);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    void version()
    {
        const Finished run = runToEnd({QStringLiteral("--version")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("tessavin-sim " TESSAVIN_VERSION "\n"));
        QVERIFY(runToEnd({QStringLiteral("--help")}).out.contains("--poll-timeout <ms>"));
    }

    void refusesBadOptions_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");
        const QString range = QStringLiteral("tessavin-sim: --chunk: %1 (expected 1 to 255)");
        QTest::newRow("--chunk abc") << "--chunk abc" << range.arg("'abc' is not a number");
        QTest::newRow("--chunk 0") << "--chunk 0" << range.arg("0 is out of range");
        QTest::newRow("--status -1") << "--status -1"
                                     << "tessavin-sim: --status: -1 is out of range (expected 0 to 255)";
        QTest::newRow("--bogus") << "--bogus"
                                 << "tessavin-sim: Unknown option 'bogus'.";
        QTest::newRow("stray") << "--trace stray"
                               << "tessavin-sim: unexpected argument 'stray'";
        QTest::newRow("--fault noise")
            << "--fault noise"
            << "tessavin-sim: --fault: unknown fault 'noise' (expected silence, bad-header, bad-body, "
               "truncated, split, garbage, oversized or slow)";
        QTest::newRow("--fault silence:reg=0x99")
            << "--fault silence:reg=0x99"
            << "tessavin-sim: --fault: unknown target 'reg=0x99' (expected reg=CMD with a register-link command: "
               "0x0C 0x0E 0x19 0x1A 0x1B 0x1C 0x1D 0x2C 0x2D 0x33 0x34 0x5B 0x5C 0x5D)";
        QTest::newRow("--store-fault cut") << "--store-fault cut"
                                           << "tessavin-sim: --store-fault: unknown store fault 'cut' (expected cut=N)";
        QTest::newRow("--noise 0.5") << "--noise 0.5"
                                     << "tessavin-sim: --noise: 0.5 is out of range (expected 0 to 0.1)";
        QTest::newRow("--seed x") << "--seed x"
                                  << "tessavin-sim: --seed: 'x' is not a number (expected 0 to 2147483647)";
        QTest::newRow("--poll 7") << "--poll 7"
                                  << "tessavin-sim: --poll: unknown poll function 7 (expected 1, 2 or 10)";
        QTest::newRow("--mismatch without --baud")
            << "--mismatch silent"
            << "tessavin-sim: --mismatch: needs --baud RATE (a line paced at a rate)";
    }

    void refusesBadOptions()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const Finished run = runToEnd(arguments.split(QLatin1Char(' ')));
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(QString::fromLocal8Bit(run.err.left(run.err.indexOf('\n'))), message);
    }

    // --link never replaces what is not a link to a pseudo-terminal.
    void linkLeavesAnExistingFileAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("port"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep\n") == 5);
        file.close();
        const Finished run = runToEnd({QStringLiteral("--link"), path});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(QString::fromLocal8Bit(run.err),
                 QStringLiteral("tessavin-sim: --link: %1 exists and is not a link to a pseudo-terminal; "
                                "it is left as it is\n")
                     .arg(path));
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep\n"));
    }
};

QTEST_GUILESS_MAIN(TestSimCli)
#include "tst_sim_cli.moc"
