// tessavin-sim as a newcomer runs it: it prints the path to open, answers there,
// applies the faults of its command line and ends cleanly on SIGTERM.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
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

} // namespace

class TestSimCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFileInfo(simProgram()).isExecutable())
            QSKIP("tessavin-sim is not built");
    }

    void servesOnThePrintedPathUntilTerminated()
    {
        QProcess sim;
        sim.start(simProgram(), {QStringLiteral("--log-records"), QStringLiteral("291"), QStringLiteral("--status"),
                                 QStringLiteral("2"), QStringLiteral("--fault"), QStringLiteral("silence:reg=0x2D,times=1")});
        QVERIFY(sim.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput()).contains('\n'), 5000);
        if (sim.state() != QProcess::Running)
            QSKIP("no pseudo-terminal here");
        const QByteArray firstLine = out.left(out.indexOf('\n'));
        QVERIFY2(firstLine.startsWith("Emulated controller on /"), firstLine.constData());
        const QString path = QString::fromLocal8Bit(firstLine.mid(firstLine.indexOf('/')));

        QSerialPort port(path);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47"), 12).toHex(' '),
                 QByteArray("05 64 06 00 42 97 1c 06 23 01 3f 45"));
        QCOMPARE(exchange(port, hex("05 64 03 0B 01 06 00 00 00 37 C8 1C"), 5).toHex(' '), QByteArray("01 02 00 21 60"));
        // The press request meets the silence fault once; the ident is answered.
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66"), 1, 300).size(), 0);
        QCOMPARE(exchange(port, hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7"), 14).toHex(' '),
                 QByteArray("05 64 08 00 46 f7 2c 06 d2 04 00 00 f7 0e"));
        port.close();

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    void refusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0;
        QTest::newRow("--fault noise") << QStringList{QStringLiteral("--fault"), QStringLiteral("noise")} << 2;
        QTest::newRow("--chunk 300") << QStringList{QStringLiteral("--chunk"), QStringLiteral("300")} << 2;
        QTest::newRow("--poll x") << QStringList{QStringLiteral("--poll"), QStringLiteral("x")} << 2;
    }

    void refusesBadOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QProcess sim;
        sim.start(simProgram(), arguments);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), exitCode);
        if (exitCode == 0)
            QVERIFY(sim.readAllStandardOutput().contains("--fault <fault>"));
        else
            QVERIFY(sim.readAllStandardError().startsWith("tessavin-sim: "));
    }
};

QTEST_GUILESS_MAIN(TestSimCli)
#include "tst_sim_cli.moc"
