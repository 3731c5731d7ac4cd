// tessavin-cli as a user runs it: a process against the emulated controller on
// a pseudo-terminal, judged by its exit code, its stdout and stderr, the files
// it writes and the frames the controller received.
#include "cli/cli_output.h"
#include "features/log_presentation.h"
#include "serial/port_list.h"
#include "util/settings_file.h"
#include "tests/support/test_support.h"
#include "tessavin_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <memory>

#ifndef Q_OS_WIN
#include <signal.h>
#include <sys/types.h>
#endif

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;

namespace {

const QString kCli = QStringLiteral(TESSAVIN_CLI);

// Silence costs a quarter of a second: up to 12 first-byte rounds of 1 + 20 ms.
QProcessEnvironment quickEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSAVIN_LINK_TIMING"),
               QStringLiteral("first-byte-pause=1,first-byte-wait=20,first-byte-tries=12,idle-gap=10,pump-slice=5"));
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC0"));
    // Reported values use the system's decimal separator: make it a full stop.
    env.remove(QStringLiteral("LC_ALL"));
    env.insert(QStringLiteral("LC_NUMERIC"), QStringLiteral("C"));
    return env;
}

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err; // without the TESSAVIN_LINK_TIMING line
    bool timingSaid = false; // that line came first
};

// What a command that talks to the controller says first when TESSAVIN_LINK_TIMING is set.
QByteArray timingNotice(const QProcessEnvironment& env)
{
    return "tessavin-cli: TESSAVIN_LINK_TIMING=" + env.value(QStringLiteral("TESSAVIN_LINK_TIMING")).toLocal8Bit()
        + " changes the link's waits; a real controller needs them unchanged (unset it)\n";
}

Run run(const QStringList& args, const QProcessEnvironment& env = quickEnvironment(), const QString& program = kCli,
        const QByteArray& input = {})
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
    }
    Run r{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
    r.timingSaid = r.err.startsWith(timingNotice(env));
    if (r.timingSaid)
        r.err.remove(0, timingNotice(env).size());
    return r;
}

int lineCount(const QString& path) { return static_cast<int>(readFile(path).count('\n')); }

QByteArray spaced(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }

// The controller's fault switches a row of the failure table turns on.
enum class Setup {
    None,
    SilentIdent,
    BadIdentBody,
    SilentStatus,
    SilentArchiveBegin,
    EmptySlot5,
    IdentZero,
    BadTiming,
    BadConfig,
    SpoiltRecordOnce,
    ChartLinkToFile,
    SpoiltChunks,
    SpoiltScript,
    CutStartReply,
    SpoiltSetTestReply,
    Status64
};

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<sim::ControllerThread> sim_;
    QTemporaryDir dir_;

    QString pty() const { return sim_->slavePath(); }
    QString file(const char* name) const { return dir_.filePath(QLatin1String(name)); }
    // The arguments with PTY standing for the controller's path and FILE for a file of the test.
    QStringList args(QStringList list) const
    {
        for (QString& a : list) {
            a.replace(QStringLiteral("PTY"), pty());
            a.replace(QStringLiteral("FILE"), file("out"));
            a.replace(QStringLiteral("UTF16"), file("utf16.json"));
            a.replace(QStringLiteral("CHART"), file("chart.svg"));
        }
        return list;
    }
    Run cli(const QStringList& list, const QProcessEnvironment& env = quickEnvironment(), const QByteArray& input = {})
    {
        return run(QStringList{QStringLiteral("--port"), pty()} + args(list), env, kCli, input);
    }
    // A log ring of `capacity` slots holding `records` of the controller's usual records.
    void ring(int capacity, int records)
    {
        sim_->withController([&](sim::Controller& c) {
            c.state().eventLog.reset(capacity);
            for (const QByteArray& r : sim::DefaultLogRecords(records, 60))
                c.state().eventLog.appendText(r);
        });
    }
    QByteArray record(int index) const { return sim_->stateSnapshot().eventLog.at(index); }
    // What the window's file holds for these records (CR LF), or stdout (LF), or
    // what log read --format jsonl writes.
    QByteArray logLines(const QList<int>& indexes, bool file, bool json = false) const
    {
        QByteArray out;
        for (int i : indexes) {
            const QByteArray r = record(i);
            LogLine l = PresentLogRecord(reinterpret_cast<const std::uint8_t*>(r.constData()),
                                         static_cast<std::size_t>(r.size()));
            l.index = i;
            out += json ? cli::LogRecordJson(l) : file ? l.fileBytes : l.line + '\n';
        }
        return out;
    }
    // Dated values at 0 and 1, an undated one at 2; the newest is at begin - 1.
    void archive(int begin)
    {
        sim_->withController([begin](sim::Controller& c) {
            sim::Archive& a = c.state().archive;
            a = sim::Archive{};
            a.append(2024, 3, 5, 14, 7, 9, 12.5f);
            a.append(2024, 12, 31, 23, 30, 0, -7.9f);
            a.begin = begin;
        });
    }

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        QFile::remove(file("out"));
        sim_ = std::make_unique<sim::ControllerThread>();
        SKIP_UNLESS_STARTED(sim_->start());
    }

    void cleanup() { sim_.reset(); }

    void logReadWritesTheWindowsLines_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("records");
        QTest::addColumn<QList<int>>("indexes");
        QTest::addColumn<QByteArray>("questions"); // commands asked before the first record
        QTest::newRow("--newest 4 -o FILE")
            << QStringList{"--newest", "4", "-o", "FILE"} << 2000 << 150 << range(146, 149) << QByteArray("1d1c19");
        QTest::newRow("default: the newest 10 on stdout")
            << QStringList{} << 2000 << 150 << range(140, 149) << QByteArray("1d1c19");
        QTest::newRow("--newest 010, read as ten")
            << QStringList{"--newest", "010"} << 2000 << 150 << range(140, 149) << QByteArray("1d1c19");
        QTest::newRow("--index 3") << QStringList{"--index", "3"} << 2000 << 150 << QList<int>{3}
                                   << QByteArray("1d1c19");
        QTest::newRow("--all of 6 -o FILE")
            << QStringList{"--all", "-o", "FILE"} << 2000 << 6 << range(0, 5) << QByteArray("1d1c19");
        QTest::newRow("--max, full ring of 20 at begin 5") << QStringList{"--max", "--newest", "7"} << 20 << 25
                                                           << (range(18, 19) + range(0, 4)) << QByteArray("1d1c19");
        // Without --max too: a ring of 20 read as one of 2000 would be read wrongly.
        QTest::newRow("full ring of 20, no --max")
            << QStringList{"--newest", "7"} << 20 << 25 << (range(18, 19) + range(0, 4)) << QByteArray("1d1c19");
        // Fast replies change when a reply is taken as complete, not what it says.
        QTest::newRow("--fast --newest 4")
            << QStringList{"--fast", "--newest", "4"} << 2000 << 150 << range(146, 149) << QByteArray("1d1c19");
    }

    void logReadWritesTheWindowsLines()
    {
        QFETCH(QStringList, options);
        QFETCH(int, capacity);
        QFETCH(int, records);
        QFETCH(QList<int>, indexes);
        QFETCH(QByteArray, questions);
        ring(capacity, records);

        const Run r = cli(QStringList{"log", "read"} + options);
        QCOMPARE(r.code, 0);
        QVERIFY(r.timingSaid);
        QCOMPARE(r.err, QByteArray());
        const bool toFile = options.contains("-o");
        QCOMPARE(toFile ? readFile(file("out")) : r.out, logLines(indexes, toFile));
        QCOMPARE(requestedIndexes(*sim_, 0x1A), indexes);
        QByteArray asked;
        for (const QByteArray& f : receivedFrames(*sim_))
            if (f[6] != 0x1A)
                asked += f.mid(6, 1).toHex();
        QCOMPARE(asked, questions);
    }

    void logReadJsonlKeepsTheBytes_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("time"); // empty: null
        QTest::addColumn<QString>("text");
        QTest::newRow("Windows-1251 text") << QByteArray("<2024/01/02 03:04:05 \xcf\xf0\xe8\xe2\xe5\xf2") << "<"
                                           << "2024-01-02T03:04:05" << QStringLiteral("<2024.01.02-03:04:05 Привет");
        QTest::newRow("'>' record with CR LF inside") << QByteArray(">2024/01/02 03:04:05 a\r\nb") << ">"
                                                      << "2024-01-02T03:04:05"
                                                      << ">2024.01.02-03:04:05 a\r\nb";
        QTest::newRow("no date in the stamp") << QByteArray("#abcd/ef/gh ij:kl:mn x") << "#"
                                              << ""
                                              << " 0000.00.00-00:00:00 x";
    }

    void logReadJsonlKeepsTheBytes()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, marker);
        QFETCH(QString, time);
        QFETCH(QString, text);
        sim_->withController([&](sim::Controller& c) {
            c.state().eventLog.reset(2000);
            c.state().eventLog.appendText(record);
        });

        const Run r = cli({"log", "read", "--index", "0", "--format", "jsonl", "-o", "FILE"});
        QCOMPARE(r.code, 0);
        const QByteArray written = readFile(file("out"));
        QCOMPARE(written.count('\n'), 1);
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(written, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(o.value("index").toInt(-1), 0);
        QCOMPARE(o.value("marker").toString(), marker);
        QCOMPARE(o.value("time"), time.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(time));
        QCOMPARE(o.value("text").toString(), text);
        QCOMPARE(QByteArray::fromHex(o.value("raw").toString().toLatin1()), record);
    }

    void archiveRead_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("begin");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QByteArray>("expected"); // stdout, or the file with -o; empty: not looked at
        QTest::addColumn<QList<int>>("indexes");
        QTest::newRow("text -o FILE, --no-shift")
            << QStringList{"--newest", "3", "--no-shift", "-o", "FILE"} << 3 << "TSV-3"
            << QByteArray(
                   "2024:03:05 14:07:09:  12.500\r\n2024:12:31 23:30:00:  -7.900\r\n   0:00:00 00:00:00:   0.000\r\n")
            << QList<int>{0, 1, 2};
        QTest::newRow("text, three hours east of UTC")
            << QStringList{"--newest", "3"} << 3 << "TSV-3"
            << QByteArray("2024:03:05 17:07:09:  12.500\n2025:01:01 02:30:00:  -7.900\n   0:00:00 00:00:00:   0.000\n")
            << QList<int>{0, 1, 2};
        QTest::newRow("csv, three hours east of UTC")
            << QStringList{"--newest", "3", "--format", "csv"} << 3 << "TSV-3"
            << QByteArray("index,device_time,time,value,raw\n"
                          "0,2024-03-05T14:07:09,2024-03-05T17:07:09+03:00,12.5,1803050e070900004841\n"
                          "1,2024-12-31T23:30:00,2025-01-01T02:30:00+03:00,-7.9,180c1f171e00cdccfcc0\n"
                          "2,,,0,00000000000000000000\n")
            << QList<int>{0, 1, 2};
        QTest::newRow("jsonl --index 0, five hours west of UTC")
            << QStringList{"--index", "0", "--format", "jsonl"} << 3 << "TSW+5"
            << QByteArray("{\"index\":0,\"device_time\":\"2024-03-05T14:07:09\",\"time\":\"2024-03-05T09:07:09-05:00\","
                          "\"value\":12.5,\"raw\":\"1803050e070900004841\"}\n")
            << QList<int>{0};
        // Across the end of the ring (1001 slots): the 10 box counts right, the
        // 'последних' box as the window does, one slot early.
        QTest::newRow("--newest 10 across the end")
            << QStringList{"--newest", "10"} << 5 << "UTC0" << QByteArray() << (range(996, 1000) + range(0, 4));
        QTest::newRow("--newest 11 across the end")
            << QStringList{"--newest", "11"} << 5 << "UTC0" << QByteArray() << (range(994, 1000) + range(0, 3));
        QTest::newRow("--one 0 jsonl: the whole value")
            << QStringList{"--one", "0", "--format", "jsonl"} << 3 << "UTC0"
            << QByteArray("{\"index\":0,\"value\":12.5}\n") << QList<int>{0};
        QTest::newRow("--chart: one point a dated record")
            << QStringList{"--newest", "3", "--chart", "CHART"} << 3 << "UTC0" << QByteArray() << QList<int>{0, 1, 2};
        QTest::newRow("--one 1: the value truncated")
            << QStringList{"--one", "1"} << 3 << "UTC0" << QByteArray("-7\n") << QList<int>{1};
        QTest::newRow("--chart - -o FILE: the chart on stdout")
            << QStringList{"--newest", "3", "--chart", "-", "-o", "FILE"} << 3 << "UTC0"
            << QByteArray(
                   "2024:03:05 14:07:09:  12.500\r\n2024:12:31 23:30:00:  -7.900\r\n   0:00:00 00:00:00:   0.000\r\n")
            << QList<int>{0, 1, 2};
    }

    void archiveRead()
    {
        QFETCH(QStringList, options);
        QFETCH(int, begin);
        QFETCH(QString, zone);
        QFETCH(QByteArray, expected);
        QFETCH(QList<int>, indexes);
        archive(begin);
        QProcessEnvironment env = quickEnvironment();
        env.insert("TZ", zone);

        const Run r = cli(QStringList{"archive", "read"} + options, env);
        QCOMPARE(r.code, 0);
        if (!expected.isEmpty())
            QCOMPARE(options.contains("-o") ? readFile(file("out")) : r.out, expected);
        QCOMPARE(requestedIndexes(*sim_, 0x5C), indexes);
        if (options.contains("--chart"))
            QCOMPARE((options.contains("-") ? r.out : readFile(file("chart.svg"))).count("<circle class=\"point\""), 2);
    }

    // A visit report: every file, checked by sha256sum -c, the whole ring read
    // oldest first, the controller's texts escaped; a non-empty folder refused;
    // --force replaces an earlier report's files (not what their links point to)
    // and leaves others; no script is no failure; a failed part named, the rest
    // written, exit 5.
    void visitReport()
    {
        sim_->withController([](sim::Controller& c) {
            c.state().script = "print 1\r\n";
            c.state().eventLog.appendText(">2024/01/02 03:04:05 <script>alert(1)</script>");
        });
        const QString dir = file("visit");
        const Run r = cli({"report", dir});
        QVERIFY2(r.code == 0, r.err.constData());
        const QStringList all{"SHA256SUMS",  "archive.csv",      "archive.jsonl", "archive.svg",
                              "config.json", "index.html",       "log.jsonl",     "log.txt",
                              "script.bin",  "test-config.json", "trace.jsonl"};
        QCOMPARE(QDir(dir).entryList(QDir::Files, QDir::Name), all);
        const auto sumsCheck = [&dir] {
            QProcess p;
            p.setWorkingDirectory(dir);
            p.start("sha256sum", {"-c", "--strict", "SHA256SUMS"});
            return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QCOMPARE(sumsCheck(), 0);
        QCOMPARE(readFile(dir + "/SHA256SUMS").count('\n'), all.size() - 1);
        QCOMPARE(requestedIndexes(*sim_, 0x5C), range(300, 1000) + range(0, 299));
        QCOMPARE(lineCount(dir + "/archive.jsonl"), 1001);
        QCOMPARE(readFile(dir + "/log.txt"), logLines(range(0, 150), true));
        QCOMPARE(readFile(dir + "/script.bin"), QByteArray("print 1\r\n"));
        const QByteArray page = readFile(dir + "/index.html");
        QVERIFY(page.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
        QVERIFY(!page.contains("<script>alert"));

        const Run refused = cli({"report", dir});
        QCOMPARE(refused.code, 2);
        QVERIFY(refused.err.contains("not empty"));

        // An earlier report's script.bin, a link where log.txt goes, a file of the user's.
        sim_->withController([](sim::Controller& c) { c.state().script.clear(); });
        QVERIFY(writeFile(file("elsewhere.txt"), "mine\n") && writeFile(dir + "/notes.txt", "notes\n"));
        QVERIFY(QFile::remove(dir + "/log.txt") && QFile::link(file("elsewhere.txt"), dir + "/log.txt"));
        const Run forced = cli({"report", "--force", dir});
        QVERIFY2(forced.code == 0, forced.err.constData());
        QVERIFY(!QFile::exists(dir + "/script.bin"));
        QVERIFY(!QFileInfo(dir + "/log.txt").isSymLink());
        QCOMPARE(readFile(dir + "/log.txt"), logLines(range(0, 150), true));
        QCOMPARE(readFile(file("elsewhere.txt")), QByteArray("mine\n"));
        QCOMPARE(readFile(dir + "/notes.txt"), QByteArray("notes\n"));
        QVERIFY(readFile(dir + "/index.html").contains("<td>none: the controller holds no script</td>"));
        QCOMPARE(sumsCheck(), 0);

        addFault(*sim_, sim::FaultKind::Silence, sim::FaultTarget::registerCommand(0x2C));
        const Run partial = cli({"report", "--force", dir});
        QCOMPARE(partial.code, 5);
        QVERIFY(partial.err.contains("device number: no reply"));
        QVERIFY(readFile(dir + "/index.html").contains("<li>device number: no reply</li>"));
        QCOMPARE(sumsCheck(), 0);
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArray>("request"); // the first frame the controller received
        QTest::addColumn<QString>("state"); // what it changed ...
        QTest::addColumn<int>("value"); // ... to what
        const QByteArray none;
        QTest::newRow("log info") << QStringList{"log", "info"} << QByteArray("capacity 2000\ncount 150\nbegin 150\n")
                                  << none << QByteArray("05 64 08 00 46 F7 1D 06 00 00 00 00 8B 96") << "" << 0;
        QTest::newRow("log info jsonl") << QStringList{"log", "info", "--format", "jsonl"}
                                        << QByteArray("{\"capacity\":2000,\"count\":150,\"begin\":150}\n") << none
                                        << QByteArray("05 64 08 00 46 F7 1D 06 00 00 00 00 8B 96") << "" << 0;
        QTest::newRow("log clear --yes") << QStringList{"log", "clear", "--yes"} << none
                                         << QByteArray("event log cleared\n")
                                         << QByteArray("05 64 08 00 46 F7 1B 06 00 00 00 00 8B F0") << "logClears" << 1;
        QTest::newRow("log start") << QStringList{"log", "start"} << none << QByteArray("logging started\n")
                                   << QByteArray("05 64 08 00 46 F7 33 06 00 00 00 00 8D D8") << "logging" << 1;
        QTest::newRow("log stop -q") << QStringList{"log", "stop", "-q"} << none << none
                                     << QByteArray("05 64 08 00 46 F7 34 06 00 00 00 00 8C 6F") << "logging" << 0;
        QTest::newRow("config status") << QStringList{"config", "status"} << QByteArray("OK (status 0)\n") << none
                                       << QByteArray("05 64 03 0B 01 06 00 00 00 37 C8 1C") << "" << 0;
        QTest::newRow("config set-test") << QStringList{"config", "set-test"} << none << QByteArray("test mode set\n")
                                         << QByteArray("05 64 03 0B 01 06 00 00 00 36 09 DC") << "testMode" << 1;
        QTest::newRow("config reboot") << QStringList{"config", "reboot"} << none << QByteArray("reboot sent\n")
                                       << QByteArray("05 64 03 0B 01 06 00 00 00 63 C9 E3") << "rebootCount" << 1;
        QTest::newRow("device ident") << QStringList{"device", "ident"} << QByteArray("1234\n") << none
                                      << QByteArray("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7") << "" << 0;
        QTest::newRow("device pressure jsonl")
            << QStringList{"device", "pressure", "--format", "jsonl"} << QByteArray("{\"pressure\":1.50}\n") << none
            << QByteArray("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66") << "" << 0;
        QTest::newRow("device register --yes")
            << QStringList{"device", "register", "--yes"} << none << QByteArray("registration sent\n")
            << QByteArray("05 64 08 00 46 F7 5D 06 00 00 00 00 85 56") << "registrationCount" << 1;
        QTest::newRow("script clear --yes")
            << QStringList{"script", "clear", "--yes"} << none
            << QByteArray("clear request sent; the controller answered\n")
            << QByteArray("05 64 08 00 46 F7 19 06 00 00 00 00 8A 12") << "logBeginRequests" << 1;
    }

    void commands()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, request);
        QFETCH(QString, state);
        QFETCH(int, value);

        const Run r = cli(command);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, out);
        QCOMPARE(r.err, err);
        const QList<QByteArray> frames = receivedFrames(*sim_);
        QVERIFY(!frames.isEmpty());
        QCOMPARE(spaced(frames.first()), request);
        const sim::ControllerState s = sim_->stateSnapshot();
        const QMap<QString, int> changed{{"logClears", s.logClears},
                                         {"logging", s.logging},
                                         {"testMode", s.testMode},
                                         {"rebootCount", s.rebootCount},
                                         {"registrationCount", s.registrationCount},
                                         {"logBeginRequests", s.logBeginRequests}};
        if (!state.isEmpty())
            QCOMPARE(changed.value(state, -1), value);
    }

    void configurationRoundTrip()
    {
        const sim::ControllerState before = sim_->stateSnapshot();
        QCOMPARE(cli({"config", "upload", "-o", "FILE"}).code, 0);
        QCOMPARE(readFile(file("out")), before.configuration);
        const Run test = cli({"config", "upload", "--test"});
        QCOMPARE(test.code, 0);
        QCOMPARE(test.out, before.testConfiguration);

        // Sent as the window sends an opened file: lines joined by CR LF.
        QVERIFY(writeFile(file("cfg.json"), "{\n  \"a\": 1\n}\n"));
        QCOMPARE(cli({"config", "download", file("cfg.json")}).code, 0);
        QCOMPARE(sim_->stateSnapshot().configuration, QByteArray("{\r\n  \"a\": 1\r\n}\r\n"));
        QCOMPARE(sim_->stateSnapshot().downloadsStored, 1);
    }

    // The configuration checked before it goes, compared with the controller's,
    // read back after it went: exit code, stdout, stderr and what the controller
    // holds afterwards. The controller holds {"modbus": {"baud": 9600}, "debug": true}.
    void configChecks_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("cut"); // the controller keeps this many bytes of a download; -1: all
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<bool>("stored"); // the file's text (CR LF) is what the controller holds
        const QByteArray broken = "{\n  \"modbus\": {\"baud\": 19200}\n  \"debug\": false\n}\n";
        const QByteArray good = "{\n  \"modbus\": {\"baud\": 19200},\n  \"alarms\": [1]\n}\n"; // 53 bytes sent
        const QByteArray none;
        const QStringList download{"config", "download", "CFG"};
        QTest::newRow("download, not JSON: refused, nothing sent")
            << download << broken << -1 << 2 << none
            << QByteArray("tessavin-cli: CFG: not valid JSON: line 3, column 3: missing comma; nothing was sent "
                          "(--force sends it anyway)\n")
            << false;
        QTest::newRow("download --force, not JSON") << download + QStringList{"--force"} << broken << -1 << 0 << none
                                                    << QByteArray("configuration sent (53 bytes)\n") << true;
        QTest::newRow("download --verify")
            << download + QStringList{"--verify"} << good << -1 << 0 << none
            << QByteArray("configuration sent (53 bytes) and read back the same\n") << true;
        QTest::newRow("download --verify, store cut at 20")
            << download + QStringList{"--verify"} << good << 20 << 5 << none
            << QByteArray("tessavin-cli: PTY: configuration read back differs from what was sent at byte offset 20 "
                          "(sent 53 bytes, read back 20)\n")
            << false;
        QTest::newRow("validate") << QStringList{"config", "validate", "CFG"} << good << -1 << 0
                                  << QByteArray("CFG: valid JSON, 53 bytes after conversion\n") << none << false;
        QTest::newRow("validate, not JSON") << QStringList{"config", "validate", "CFG"} << broken << -1 << 4
                                            << QByteArray("CFG: line 3, column 3: missing comma\n") << none << false;
        // Wherever download refuses, validate fails.
        QTest::newRow("validate, a zero byte")
            << QStringList{"config", "validate", "CFG"} << good + QByteArray("\0junk", 5) << -1 << 4
            << QByteArray("CFG: valid JSON, 53 bytes after conversion\n"
                          "CFG: a zero byte at offset 49: such a file is not sent (save it as UTF-8)\n")
            << none << false;
        // Standard input is read whole, not cut at a round size.
        QTest::newRow("validate - of 1.5 MiB")
            << QStringList{"config", "validate", "-"} << '"' + QByteArray(3 << 19, 'a') + '"' << -1 << 4
            << QByteArray("-: valid JSON, 1572866 bytes after conversion\n"
                          "-: too large: 1572866 bytes after conversion; a configuration holds at most 49999 bytes\n")
            << none << false;
        QTest::newRow("diff") << QStringList{"config", "diff", "CFG"} << good << -1 << 1
                              << QByteArray("~ /modbus/baud: 9600 → 19200\n+ /alarms: [1]\n- /debug\n") << none
                              << false;
        QTest::newRow("diff, jsonl")
            << QStringList{"config", "diff", "CFG", "--format", "jsonl"} << good << -1 << 1
            << QByteArray("{\"path\":\"/modbus/baud\",\"op\":\"~\",\"controller\":9600,\"file\":19200}\n"
                          "{\"path\":\"/alarms\",\"op\":\"+\",\"file\":[1]}\n"
                          "{\"path\":\"/debug\",\"op\":\"-\",\"controller\":true}\n")
            << none << false;
        QTest::newRow("diff, equal") << QStringList{"config", "diff", "CFG"}
                                     << QByteArray("{\"debug\": true,\n \"modbus\": {\"baud\": 9600}}") << -1 << 0
                                     << none << none << false;
    }
    void configChecks()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, bytes);
        QFETCH(int, cut);
        QFETCH(int, code);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(bool, stored);
        const QByteArray controller = "{\"modbus\": {\"baud\": 9600}, \"debug\": true}";
        sim_->withController([&](sim::Controller& c) {
            c.state().configuration = controller;
            c.state().storeCut = cut;
        });
        const QString path = file("cfg.json");
        QVERIFY(writeFile(path, bytes));
        command.replaceInStrings(QStringLiteral("CFG"), path);
        const Run r = cli(command, quickEnvironment(), command.contains("-") ? bytes : QByteArray());
        QCOMPARE(r.code, code);
        QCOMPARE(r.out, QByteArray(out).replace("CFG", path.toUtf8()));
        QCOMPARE(QString::fromUtf8(r.err), QString::fromUtf8(err).replace("CFG", path).replace("PTY", pty()));
        const QByteArray text = QByteArray(bytes).replace("\n", "\r\n");
        QCOMPARE(sim_->stateSnapshot().configuration, stored ? text : cut >= 0 ? text.left(cut) : controller);
        if (command.contains("validate") || code == 2)
            QVERIFY(receivedFrames(*sim_).isEmpty());
    }

    void scriptRoundTrip()
    {
        const QByteArray script("line 1\r\nzero \0 inside\xff", 23);
        QVERIFY(writeFile(file("s.scr"), script));
        QCOMPARE(cli({"script", "send", file("s.scr")}).code, 0);
        QCOMPARE(sim_->stateSnapshot().script, script);
        QCOMPARE(cli({"script", "read", "-o", "FILE"}).code, 0);
        QCOMPARE(readFile(file("out")), script);
        QCOMPARE(cli({"script", "read"}).out, script);
    }

    void missingYesSendsNothing_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("log clear") << QStringList{"log", "clear"};
        QTest::newRow("device register") << QStringList{"device", "register"};
        QTest::newRow("script clear") << QStringList{"script", "clear"};
    }

    void missingYesSendsNothing()
    {
        QFETCH(QStringList, command);
        const Run r = cli(command);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("add --yes to go ahead; nothing was sent"), r.err.constData());
        // Whatever it had sent would reach the controller before the next command's frame.
        QCOMPARE(cli({"device", "ident"}).code, 0);
        QCOMPARE(receivedFrames(*sim_), QList<QByteArray>{hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7")});
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // the whole stderr line
        QTest::addColumn<int>("fileLines"); // lines kept in FILE; -1: no file
        const int none = int(Setup::None);
        QTest::newRow("no such port") << QStringList{"--port", "/dev/tessavin-no-such-tty", "device", "ident"} << none
                                      << 3 << "no such device /dev/tessavin-no-such-tty" << -1;
        QTest::newRow("ident unanswered")
            << QStringList{"device", "ident"} << int(Setup::SilentIdent) << 4 << "PTY: device number: no reply" << -1;
        QTest::newRow("ident with a bad body checksum") << QStringList{"device", "ident"} << int(Setup::BadIdentBody)
                                                        << 4 << "PTY: device number: bad body checksum" << -1;
        QTest::newRow("ident 0") << QStringList{"device", "ident"} << int(Setup::IdentZero) << 4
                                 << "PTY: device number: value not above zero" << -1;
        QTest::newRow("status unanswered")
            << QStringList{"config", "status"} << int(Setup::SilentStatus) << 4 << "PTY: status query: no reply" << -1;
        QTest::newRow("no script to read")
            << QStringList{"script", "read"} << none << 4 << "PTY: script read: the controller holds no script" << -1;
        QTest::newRow("archive begin unanswered") << QStringList{"archive", "read"} << int(Setup::SilentArchiveBegin)
                                                  << 4 << "PTY: archive begin: no reply" << -1;
        QTest::newRow("log record 5 empty")
            << QStringList{"log", "read", "-o", "FILE", "--retries", "0"} << int(Setup::EmptySlot5) << 5
            << "PTY: log record 5: reply too short for what was asked; 5 of 10 records "
               "read and kept in FILE"
            << 5;
        QTest::newRow("--resume of a text file") << QStringList{"log", "read", "-o", "FILE", "--resume"} << none << 2
                                                 << "--resume: FILE cannot be resumed: a text file holds no index; use "
                                                    "--format jsonl"
                                                 << -1;
        QTest::newRow("--retries 21") << QStringList{"--retries", "21", "log", "read"} << none << 2
                                      << "--retries: 21 is out of range (0 to 20)" << -1;
        QTest::newRow("--newest x") << QStringList{"log", "read", "--newest", "x"} << none << 2
                                    << "--newest: 'x' is not a valid integer value" << -1;
        QTest::newRow("csv for the log") << QStringList{"log", "read", "--format", "csv"} << none << 2
                                         << "log read: no csv format\nUsage: tessavin-cli log read [options]\n"
                                            "Try 'tessavin-cli log read --help'."
                                         << -1;
        QTest::newRow("--yes on log read")
            << QStringList{"log", "read", "--yes"} << none << 2
            << "log read: option '--yes' does not apply here\n"
               "Usage: tessavin-cli log read [options]\nTry 'tessavin-cli log read --help'."
            << -1;
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << none << 2
                                         << "unknown command 'frobnicate'\nTry 'tessavin-cli --help'." << -1;
        QTest::newRow("validate, file missing") << QStringList{"config", "validate", "/nonexistent/c.json"} << none << 2
                                                << "/nonexistent/c.json: no such file" << -1;
        QTest::newRow("configuration file missing") << QStringList{"config", "download", "/nonexistent/c.json"} << none
                                                    << 2 << "/nonexistent/c.json: no such file" << -1;
        QTest::newRow("output cannot be created")
            << QStringList{"-o", "/nonexistent/out", "device", "ident"} << none << 2
            << "Cannot create /nonexistent/out: No such file or directory" << -1;
        QTest::newRow("--baud fast") << QStringList{"--baud", "fast", "device", "ident"} << none << 2
                                     << "--baud: 'fast' is not a valid integer value" << -1;
        QTest::newRow("TESSAVIN_LINK_TIMING idle-gap=x") << QStringList{"device", "ident"} << int(Setup::BadTiming) << 2
                                                         << "TESSAVIN_LINK_TIMING: 'idle-gap=x' is not "
                                                            "NAME=milliseconds"
                                                         << -1;
        QTest::newRow("-o /dev/full") << QStringList{"-o", "/dev/full", "log", "read", "--newest", "3"} << none << 5
                                      << "Cannot write /dev/full: No space left on device" << -1;
        // FILE holds "keep\n" before each row: a command failing before its first
        // record or byte leaves it so (-1).
        QTest::newRow("-o FILE, no such port")
            << QStringList{"--port", "/dev/tessavin-no-such-tty", "log", "read", "-o", "FILE"} << none << 3
            << "no such device /dev/tessavin-no-such-tty" << -1;
        QTest::newRow("--trace FILE, no such port")
            << QStringList{"--port", "/dev/tessavin-no-such-tty", "--trace", "FILE", "log", "info"} << none << 3
            << "no such device /dev/tessavin-no-such-tty" << -1;
        QTest::newRow("-o FILE, silent controller")
            << QStringList{"device", "ident", "-o", "FILE"} << int(Setup::SilentIdent) << 4
            << "PTY: device number: no reply" << -1;
        QTest::newRow("-o FILE, no script") << QStringList{"script", "read", "-o", "FILE"} << none << 4
                                            << "PTY: script read: the controller holds no script" << -1;
        QTest::newRow("UTF-16 configuration") << QStringList{"config", "download", "UTF16"} << none << 2
                                              << "UTF16: a zero byte at offset 3 cuts the text there; save the file as "
                                                 "UTF-8; nothing was sent"
                                              << -1;
        QTest::newRow("status NOT OK") << QStringList{"config", "status"} << int(Setup::BadConfig) << 4 << "" << -1;
        // Damaged replies are never data: reads are asked again, then fail with no
        // file; a changing command is left unconfirmed.
        QTest::newRow("upload, every chunk's checksum fails")
            << QStringList{"config", "upload", "-o", "FILE"} << int(Setup::SpoiltChunks) << 4
            << "PTY: configuration upload: chunk at offset 0: bad checksum" << -1;
        QTest::newRow("script read, bad body checksum")
            << QStringList{"script", "read", "-o", "FILE"} << int(Setup::SpoiltScript) << 4
            << "PTY: script read: bad body checksum" << -1;
        QTest::newRow("log start, reply cut short")
            << QStringList{"log", "start"} << int(Setup::CutStartReply) << 4
            << "PTY: log start: the controller's answer was damaged (reply shorter than its stated length); the "
               "command may or may not have taken effect"
            << -1;
        QTest::newRow("set-test, bad checksum")
            << QStringList{"config", "set-test"} << int(Setup::SpoiltSetTestReply) << 4
            << "PTY: config set-test: the controller's answer was damaged (bad checksum); the command may or may not "
               "have taken effect"
            << -1;
        QTest::newRow("status 64") << QStringList{"config", "status"} << int(Setup::Status64) << 4
                                   << "PTY: status query: a value the controller cannot send" << -1;
        QTest::newRow("--retry-wait 5") << QStringList{"--retry-wait", "5", "log", "info"} << none << 2
                                        << "--retry-wait: 5 is out of range (10 to 60000)" << -1;
        QTest::newRow("--index beyond the records") << QStringList{"log", "read", "--index", "150"} << none << 2
                                                    << "--index 150: the log holds 150 records" << -1;
        QTest::newRow("--day 0") << QStringList{"respond", "--day", "0"} << none << 2
                                 << "--day: 0 is out of range (1 to 31)" << -1;
        QTest::newRow("--port 0") << QStringList{"--port", "0", "log", "info"} << none << 2
                                  << "--port: port numbers start at 1" << -1;
        QTest::newRow("a file as port") << QStringList{"--port", "UTF16", "log", "info"} << none << 3
                                        << "UTF16: not a serial port (Inappropriate ioctl for device)" << -1;
        QTest::newRow("-o and --trace one file") << QStringList{"-o", "FILE", "--trace", "FILE", "log", "info"} << none
                                                 << 2 << "-o and --trace name the same file FILE" << -1;
        QTest::newRow("ports -o") << QStringList{"ports", "-o", "FILE"} << none << 2
                                  << "ports: option '--output' does not apply here" << -1;
        QTest::newRow("trace not written") << QStringList{"--trace", "/dev/full", "device", "ident"} << none << 5
                                           << "/dev/full: the trace is incomplete: a line could not be written" << -1;
        QTest::newRow("-o and --chart one file") << QStringList{"archive", "read", "-o", "FILE", "--chart", "FILE"}
                                                 << none << 2 << "-o and --chart name the same file FILE" << -1;
        QTest::newRow("--chart a link to the -o file")
            << QStringList{"archive", "read", "-o", "FILE", "--chart", "CHART"} << int(Setup::ChartLinkToFile) << 2
            << "-o and --chart name the same file CHART" << -1;
        QTest::newRow("--trace and --chart one file")
            << QStringList{"archive", "read", "--trace", "FILE", "--chart", "FILE"} << none << 2
            << "--trace and --chart name the same file FILE" << -1;
        QTest::newRow("--chart - with the records on stdout")
            << QStringList{"archive", "read", "--chart", "-"} << none << 2
            << "--chart -: the records go to stdout; name their file with -o" << -1;
        QTest::newRow("--chart cannot be created")
            << QStringList{"archive", "read", "-o", "FILE", "--chart", "/nonexistent/c.svg"} << none << 2
            << "Cannot create /nonexistent/c.svg: No such file or directory" << -1;
        QTest::newRow("--from beyond the records") << QStringList{"log", "read", "--from", "150"} << none << 2
                                                   << "--from 150: the log holds 150 records" << -1;
        QTest::newRow("log read --bogus") << QStringList{"log", "read", "--bogus"} << none << 2
                                          << "unknown option '--bogus'\nUsage: tessavin-cli log read [options]\n"
                                             "Try 'tessavin-cli log read --help'."
                                          << -1;
        QTest::newRow("--fast --no-fast") << QStringList{"--fast", "log", "info", "--no-fast"} << none << 2
                                          << "--fast and --no-fast: choose one\nUsage: tessavin-cli log info "
                                             "[options]\nTry 'tessavin-cli log info --help'."
                                          << -1;
        QTest::newRow("--newest and --all") << QStringList{"log", "read", "--newest", "3", "--all"} << none << 2
                                            << "--newest and --all: choose one\nUsage: tessavin-cli log read "
                                               "[options]\nTry 'tessavin-cli log read --help'."
                                            << -1;
        QTest::newRow("--resume without -o") << QStringList{"archive", "read", "--resume"} << none << 2
                                             << "--resume requires --output\nUsage: tessavin-cli archive read "
                                                "[options]\nTry 'tessavin-cli archive read --help'."
                                             << -1;
        QTest::newRow("-q: no retries line")
            << QStringList{"-q", "log", "read", "--newest", "3"} << int(Setup::SpoiltRecordOnce) << 0 << "" << -1;
    }

    void failures()
    {
        QFETCH(QStringList, command);
        QFETCH(int, setup);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(int, fileLines);
        QProcessEnvironment env = quickEnvironment();
        switch (Setup(setup)) {
        case Setup::None:
            break;
        case Setup::BadTiming:
            env.insert(QStringLiteral("TESSAVIN_LINK_TIMING"), QStringLiteral("idle-gap=x"));
            break;
        case Setup::SilentIdent:
            addFault(*sim_, sim::FaultKind::Silence, sim::FaultTarget::registerCommand(0x2C));
            break;
        case Setup::BadIdentBody:
            addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(0x2C));
            break;
        case Setup::SilentStatus:
            addFault(*sim_, sim::FaultKind::Silence, sim::FaultTarget::configCommand(0x37));
            break;
        case Setup::SilentArchiveBegin:
            addFault(*sim_, sim::FaultKind::Silence, sim::FaultTarget::registerCommand(0x5B));
            break;
        case Setup::IdentZero:
            sim_->withController([](sim::Controller& c) { c.state().deviceNumber = 0; });
            break;
        case Setup::BadConfig:
            sim_->withController([](sim::Controller& c) { c.state().statusCode = 1; });
            break;
        case Setup::Status64:
            sim_->withController([](sim::Controller& c) { c.state().statusCode = 64; });
            break;
        case Setup::SpoiltChunks:
            addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::configFunction(17));
            break;
        case Setup::SpoiltScript:
            sim_->withController([](sim::Controller& c) { c.state().script = "print(1)"; });
            addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(0x0E));
            break;
        case Setup::CutStartReply:
            addFault(*sim_, sim::FaultKind::Truncated, sim::FaultTarget::registerCommand(0x33));
            break;
        case Setup::SpoiltSetTestReply:
            addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::configCommand(0x36));
            break;
        case Setup::EmptySlot5:
            ring(2000, 10);
            sim_->withController([](sim::Controller& c) { c.state().eventLog.records[5].clear(); });
            break;
        case Setup::SpoiltRecordOnce:
            addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(0x1A), 1);
            break;
        case Setup::ChartLinkToFile:
            QFile::remove(file("chart.svg"));
            QVERIFY(QFile::link(file("out"), file("chart.svg")));
            break;
        }

        QVERIFY(writeFile(file("out"), "keep\n") && writeFile(file("utf16.json"), QByteArray("\xff\xfe{\0\n\0}\0", 8)));
        const Run r = cli(command, env);
        QCOMPARE(r.code, code);
        message.replace("PTY", pty())
            .replace("FILE", file("out"))
            .replace("UTF16", file("utf16.json"))
            .replace("CHART", file("chart.svg"));
        QCOMPARE(QString::fromLocal8Bit(r.err), message.isEmpty() ? QString() : "tessavin-cli: " + message + "\n");
        QCOMPARE(readFile(file("out")),
                 fileLines >= 0 ? logLines(range(0, fileLines - 1), true) : QByteArray("keep\n"));
        // Refused before anything is sent, but for a record the log does not hold.
        if (code == 2 && !message.contains("the log holds"))
            QCOMPARE(receivedFrames(*sim_), QList<QByteArray>{});
    }

    // A signal stops a download: the request in flight completes, every record
    // read stays in the file, exit 130. A controller that goes away ends it with
    // exit 5 and what was read kept. The line at 9600 baud. --resume then reads
    // on from the file's last record (a reply spoilt once on the way), and the
    // file holds every record once, in order.
    void downloadEndsEarlyKeepingWhatWasRead_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("signal"); // 0: the controller's side of the line goes away
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("log read, SIGINT") << QStringList{"log", "read", "--newest", "200"} << SIGINT << 130
                                          << QByteArray("tessavin-cli: interrupted: ");
        QTest::newRow("archive read, SIGTERM") << QStringList{"archive", "read", "--newest", "200"} << SIGTERM << 130
                                               << QByteArray("tessavin-cli: interrupted: ");
        // Cut short or found closed, the record in flight fails: which one the
        // system reports depends on the moment.
        QTest::newRow("log read, the line goes away")
            << QStringList{"log", "read", "--newest", "200"} << 0 << 5 << QByteArray(": log record ");
        // Code -1: ended by the signal itself, while the record in flight meets silence.
        QTest::newRow("log read, a second SIGINT")
            << QStringList{"log", "read", "--newest", "200"} << SIGINT << -1 << QByteArray();
        QTest::newRow("log read jsonl, SIGINT, --resume")
            << QStringList{"log", "read", "--newest", "200", "--format", "jsonl"} << SIGINT << 130
            << QByteArray("tessavin-cli: interrupted: ");
        QTest::newRow("archive read jsonl, SIGINT, --resume")
            << QStringList{"archive", "read", "--newest", "200", "--format", "jsonl"} << SIGINT << 130
            << QByteArray("tessavin-cli: interrupted: ");
    }

    void downloadEndsEarlyKeepingWhatWasRead()
    {
        QFETCH(QStringList, command);
        QFETCH(int, signal);
        QFETCH(int, code);
        QFETCH(QByteArray, message);
        ring(2000, 200);
        sim::LineSettings line;
        line.baud = 9600;
        sim_->setLineSettings(line);

        QProcess p;
        // The system's timings, but for a line that goes away: the record in
        // flight then meets silence, which the short timings give up sooner.
        QProcessEnvironment env = signal == 0 ? quickEnvironment() : QProcessEnvironment::systemEnvironment();
        if (signal != 0)
            env.remove("TESSAVIN_LINK_TIMING");
        p.setProcessEnvironment(env);
        p.start(kCli, QStringList{"--port", pty(), "-o", file("out")} + command);
        QTRY_VERIFY_WITH_TIMEOUT(lineCount(file("out")) >= 3, 20000);
        if (signal == 0) {
            sim_->stop();
        } else {
#ifdef Q_OS_WIN
            QSKIP("[platform] no signals to send here");
#else
            const auto pid = static_cast<pid_t>(p.processId());
            if (code == -1) {
                // The next request goes unanswered (13 s at the system's timings); the
                // first Ctrl+C waits for it, a second one ends the program at once.
                const qsizetype asked = receivedFrames(*sim_).size();
                addFault(*sim_, sim::FaultKind::Silence);
                QTRY_VERIFY(receivedFrames(*sim_).size() > asked);
                QTRY_VERIFY_WITH_TIMEOUT((::kill(pid, signal), p.state() == QProcess::NotRunning), 3000);
            } else {
                ::kill(pid, signal);
            }
#endif
        }
        QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(20000));
        QCOMPARE(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, code);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains(message), err.constData());

        // Every record answered is in the file; with the line gone, the one in
        // flight may have been cut short.
        const QList<int> requested = requestedIndexes(*sim_,
                                                      static_cast<std::uint8_t>(command[0] == "log" ? 0x1A : 0x5C));
        const int lines = lineCount(file("out"));
        QVERIFY(requested.size() < 200);
        QVERIFY(lines == requested.size() || ((signal == 0 || code == -1) && lines == requested.size() - 1));
        if (!command.contains("jsonl")) {
            if (command[0] == "log")
                QCOMPARE(readFile(file("out")), logLines(requested.mid(0, lines), true));
            return;
        }

        const QByteArray cut = readFile(file("out")) + "{\"index\":"; // a line cut short
        QVERIFY(writeFile(file("out"), cut));
        sim_->setLineSettings({});
        const std::uint8_t command0 = command[0] == "log" ? 0x1A : 0x5C;
        addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(command0), 1);
        const Run r = cli(QStringList{"-o", "FILE"} + command + QStringList{"--resume"});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.err, QByteArray::number(200 - lines) + " records, 1 retried, 0 failed\n");
        QList<int> indexes;
        for (const QByteArray& l : readFile(file("out")).split('\n'))
            if (!l.isEmpty())
                indexes << QJsonDocument::fromJson(l).object().value("index").toInt(-1);
        const sim::ControllerState state = sim_->stateSnapshot();
        const int ringSize = command[0] == "log" ? 2000 : 1001;
        const int newest = (command[0] == "log" ? state.eventLog.begin : state.archive.begin) - 1;
        QList<int> expected;
        for (int i = 0; i < 200; ++i)
            expected << (newest - 199 + i + ringSize) % ringSize;
        QCOMPARE(indexes, expected);
    }

    // --resume goes on only with a file of the command's own records whose last
    // one the controller still holds at its index, byte for byte; across the
    // ring's end from capacity - 1 to 0. Otherwise exit 2, the file as it was.
    void resumeChecksTheFile_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QList<int>>("shape"); // the log ring: capacity, records
        QTest::addColumn<QList<int>>("held"); // the controller's records FILE holds, as jsonl
        QTest::addColumn<QByteArray>("tail"); // FILE's bytes after them
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // stderr
        QTest::addColumn<QList<int>>("requested"); // event-log records asked for
        const QStringList log{"log", "read", "-o", "FILE", "--format", "jsonl", "--resume"};
        const QList<int> full{20, 25}; // begin 5: the newest record is 4
        const QByteArray cut = "{\"ind";
        const auto line = [](const char* index) {
            return "{\"index\":" + QByteArray(index)
                + ",\"marker\":\">\",\"time\":null,\"text\":\"x\",\"raw\":\"00\"}\n";
        };
        const QString index = QStringLiteral("--resume: FILE: the last record's index %1 is not one of a ring's (0 to "
                                             "65534)");
        QTest::newRow("across the ring's end")
            << log << full << QList<int>{17, 18, 19} << cut << 0 << "" << QList<int>{19, 0, 1, 2, 3, 4};
        QTest::newRow("at the newest") << log << full << QList<int>{3, 4} << QByteArray() << 0 << "" << QList<int>{4};
        QTest::newRow("archive read of event-log records")
            << QStringList{"archive", "read", "-o", "FILE", "--format", "jsonl", "--resume"} << full << QList<int>{17}
            << cut << 2 << "--resume: FILE: line 1 is not an archive record (archive read cannot go on with it)"
            << QList<int>{};
        QTest::newRow("another controller's records")
            << log << full << QList<int>{} << line("18") + cut << 2
            << "--resume: FILE ends at event-log record 18, but the controller holds other bytes there (another "
               "controller's records, or written over since); the file is left as it was"
            << QList<int>{18};
        QTest::newRow("beyond the records held")
            << log << QList<int>{2000, 150} << QList<int>{} << line("500") << 2
            << "--resume: FILE ends at event-log record 500, which the log does not hold (150 records in a ring of "
               "2000); the file is left as it was"
            << QList<int>{};
        QTest::newRow("index -1") << log << full << QList<int>{} << line("-1") << 2 << index.arg("-1") << QList<int>{};
        QTest::newRow("index 1e30") << log << full << QList<int>{} << line("1e30") << 2 << index.arg("1e+30")
                                    << QList<int>{};
        QTest::newRow("index 2^32") << log << full << QList<int>{} << line("4294967296") << 2 << index.arg("4294967296")
                                    << QList<int>{};
        QTest::newRow("-o -") << QStringList{"log", "read", "-o", "-", "--format", "jsonl", "--resume"} << full
                              << QList<int>{} << cut << 2
                              << "--resume: stdout cannot be gone on with; name the file with -o" << QList<int>{};
    }
    void resumeChecksTheFile()
    {
        QFETCH(QStringList, command);
        QFETCH(QList<int>, shape);
        QFETCH(QList<int>, held);
        QFETCH(QByteArray, tail);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QList<int>, requested);
        ring(shape[0], shape[1]);
        const QByteArray before = logLines(held, true, true) + tail;
        QVERIFY(writeFile(file("out"), before));

        const Run r = cli(command);
        QCOMPARE(r.code, code);
        QCOMPARE(QString::fromUtf8(r.err),
                 message.isEmpty() ? QString() : "tessavin-cli: " + message.replace("FILE", file("out")) + "\n");
        QCOMPARE(requestedIndexes(*sim_, 0x1A), requested);
        QCOMPARE(readFile(file("out")), code == 0 ? logLines(held + requested.mid(1), true, true) : before);
        if (code == 2 && !message.contains(" hold"))
            QCOMPARE(receivedFrames(*sim_), QList<QByteArray>{});
    }

#ifndef Q_OS_WIN
    // Ctrl+C during a configuration download: the first lets the transfer finish,
    // a second abandons it.
    void configDownloadFinishesOnCtrlC_data()
    {
        QTest::addColumn<int>("interrupts");
        QTest::addColumn<int>("code");
        QTest::newRow("once: finished") << 1 << 0;
        QTest::newRow("twice: abandoned") << 2 << 130;
    }
    void configDownloadFinishesOnCtrlC()
    {
        QFETCH(int, interrupts);
        QFETCH(int, code);
        QVERIFY(writeFile(file("big.json"), "{\"x\":\"" + QByteArray(2000, 'x') + "\"}"));
        sim::LineSettings line;
        line.baud = 9600;
        sim_->setLineSettings(line);
        QProcess p;
        p.setProcessEnvironment(quickEnvironment());
        p.start(kCli, {"--port", pty(), "config", "download", file("big.json")});
        QTRY_VERIFY_WITH_TIMEOUT(receivedFrames(*sim_).size() >= 3, 20000);
        QByteArray err;
        for (int i = 0; i < interrupts; ++i) {
            ::kill(static_cast<pid_t>(p.processId()), SIGINT);
            QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains(i ? "interrupted" : "finishing"),
                                     20000);
        }
        QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), code);
        QVERIFY2(err.contains("bytes); Ctrl+C again abandons it\n"), err.constData());
        QCOMPARE(sim_->stateSnapshot().downloadsStored, code == 0 ? 1 : 0);
    }
#endif

    void traceAndVerboseHoldEveryFrame()
    {
        const Run r = cli({"log", "read", "--newest", "3", "-v", "--trace", file("trace.jsonl")});
        QCOMPARE(r.code, 0);
        QStringList sent, received;
        for (const sim::LoggedFrame& f : sim_->frames())
            (f.direction == sim::Direction::Received ? sent : received) << QString::fromLatin1(spaced(f.bytes));
        QStringList traceSent, traceReceived;
        const QList<QByteArray> lines = readFile(file("trace.jsonl")).split('\n');
        for (const QByteArray& line : lines.mid(0, lines.size() - 1)) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            (o.value("dir").toString() == "tx" ? traceSent : traceReceived) << o.value("hex").toString();
        }
        QCOMPARE(traceSent, sent);
        QCOMPARE(traceReceived, received);
        QCOMPARE(sent.size(), 6); // capacity, count, begin, three records
        // -v: one line for every frame on stderr.
        const QList<QByteArray> verbose = r.err.trimmed().split('\n');
        QCOMPARE(verbose.size(), sent.size() + received.size());
        QVERIFY2(verbose.first().endsWith("register tx 14: 05 64 08 00 46 F7 1D 06 00 00 00 00 8B 96"),
                 verbose.first().constData());
    }

    void respondAnswersPollsUntilTerminated_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void respondAnswersPollsUntilTerminated()
    {
        QFETCH(int, signal);
        QProcess p;
        p.setProcessEnvironment(quickEnvironment());
        p.start(kCli, {"--port", pty(), "respond", "--add1", "5", "--day", "12"});
        QVERIFY(p.waitForStarted());
        // A poll sent before the responder has the port open goes unanswered: ask again.
        sim::PollResult date;
        for (int i = 0; i < 40 && date.answer.isEmpty(); ++i)
            date = sim_->sendPoll({}, 250ms);
        QVERIFY(date.ok());
        QCOMPARE(date.day, 12);
        sim::PollSpec report;
        report.function = 10;
        report.address = 7;
        QVERIFY(sim_->sendPoll(report).ok());
        QTRY_VERIFY(p.bytesAvailable() > 0 && QByteArray(p.peek(4096)).contains("--->   min:"));
        ::kill(static_cast<pid_t>(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> out = p.readAllStandardOutput().split('\n');
        QVERIFY(out.contains("7,нитка 1  22>   f: 12.5"));
        QVERIFY(out.contains("7  26>   f: 0.800000011920929"));
        QVERIFY(p.readAllStandardError().contains(" polls received, "));
    }

#ifndef Q_OS_WIN
    // A reader that stops early ends the download quietly, with the exit status of a broken pipe.
    void closedPipeEndsQuietly()
    {
        QProcess bash;
        bash.setProcessEnvironment(quickEnvironment());
        bash.start("bash",
                   {"-c", "'" + kCli + "' --port " + pty() + " log read --all | head -1; echo \"${PIPESTATUS[0]}\""});
        QVERIFY(bash.waitForFinished(30000));
        QCOMPARE(bash.readAllStandardOutput(), logLines({0}, false) + "141\n");
        QCOMPARE(bash.readAllStandardError(), timingNotice(quickEnvironment()));
    }
#endif

    // The program finds the window's settings file beside itself.
    void settingsFileBesideTheProgram()
    {
        QTemporaryDir programDir;
        const QString program = programDir.filePath("tessavin-cli");
        QVERIFY(QFile::copy(kCli, program));
        const Run bare = run({"device", "ident"}, quickEnvironment(), program);
        QCOMPARE(bare.code, 2);
        QVERIFY2(bare.err.startsWith("tessavin-cli: no port given: use --port"), bare.err.constData());

        QVERIFY(writeFile(programDir.filePath("log.log"),
                          "[log]\nport=" + pty().toUtf8() + "\nbaud=38400\n[link]\nfast=true\n"));
        const Run stored = run({"device", "ident"}, quickEnvironment(), program);
        QCOMPARE(stored.code, 0);
        QCOMPARE(stored.out, QByteArray("1234\n"));

        // A settings file that names no port gives none (not the window's 7), and
        // says why; TESSAVIN_PORT stands between it and --port.
        const QString settings = QDir::toNativeSeparators(programDir.filePath("log.log"));
        for (const QByteArray& text :
             {QByteArray(), QByteArray("[log]\nport=\n"), QByteArray("[link]\nfast=false\n")}) {
            QVERIFY(writeFile(programDir.filePath("log.log"), text));
            const Run none = run({"device", "ident"}, quickEnvironment(), program);
            QCOMPARE(none.code, 2);
            QCOMPARE(none.err,
                     "tessavin-cli: no port given: use --port (the settings file " + settings.toUtf8()
                         + " has no [log] port=)\n");
        }
        QProcessEnvironment env = quickEnvironment();
        env.insert("TESSAVIN_PORT", pty());
        QCOMPARE(run({"device", "ident"}, env, program).out, QByteArray("1234\n"));
        QVERIFY(writeFile(programDir.filePath("log.log"), "[log]\nport=" + pty().toUtf8() + "\n[link]\nfast=bogus\n"));
        QCOMPARE(run({"device", "ident"}, quickEnvironment(), program).err,
                 "tessavin-cli: " + settings.toUtf8() + ": [link] fast=bogus: neither true nor false\n");
        QCOMPARE(run({"--no-fast", "device", "ident"}, quickEnvironment(), program).code, 0);
        // [link] retries is read as the window reads it: with none, a spoilt reply fails.
        QVERIFY(writeFile(programDir.filePath("log.log"), "[log]\nport=" + pty().toUtf8() + "\n[link]\nretries=0\n"));
        addFault(*sim_, sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(0x2C), 1);
        QCOMPARE(run({"device", "ident"}, quickEnvironment(), program).code, 4);
        QVERIFY(writeFile(programDir.filePath("log.log"), "[log]\nport=" + pty().toUtf8() + "\n[link]\nretries=x\n"));
        QCOMPARE(run({"device", "ident"}, quickEnvironment(), program).err,
                 "tessavin-cli: " + settings.toUtf8() + ": [link] retries=x: 'x' is not a valid integer value\n");
    }

    // The probe reports every try, saves what it found where the window reads it,
    // and exits 4 when nothing answers. With --parallel the ports' threads ask
    // whether to stop while tries are told (run under ThreadSanitizer, see README).
    void probeFindsAndSaves()
    {
        QTemporaryDir programDir;
        const QString program = programDir.filePath("tessavin-cli");
        QVERIFY(QFile::copy(kCli, program));
        QVERIFY(writeFile(programDir.filePath("log.log"), "[log]\nport=7\nbaud=9600\n"));
        sim::LineSettings line;
        line.baud = 19200;
        line.mismatch = sim::RateMismatch::Garbage;
        sim_->setLineSettings(line);
        const Run r = run(
            args({"probe", "--port", "PTY", "--baud", "9600", "--baud", "19200", "--format", "jsonl", "--save"}),
            quickEnvironment(), program);
        QCOMPARE(r.code, 0);
        const QList<QByteArray> tries = r.out.trimmed().split('\n');
        QCOMPARE(tries.size(), 2);
        const QJsonObject wrong = QJsonDocument::fromJson(tries[0]).object();
        const QJsonObject right = QJsonDocument::fromJson(tries[1]).object();
        QCOMPARE(wrong["result"].toString(), QStringLiteral("garbled"));
        QCOMPARE(right["result"].toString(), QStringLiteral("answered"));
        QCOMPARE(right["baud"].toInt(), 19200);
        QCOMPARE(right["device_number"].toInt(), 1234);
        const StoredSettings saved = ReadSettings(programDir.filePath("log.log"));
        QCOMPARE(saved.port, pty());
        QCOMPARE(saved.baud, QStringLiteral("19200"));

        // A regular file is no serial port, and says so; in parallel its try may end after the answer.
        QVERIFY(writeFile(file("plain"), "x"));
        const QStringList two{"probe", "--port", file("plain"), "--port", "PTY", "--baud", "19200"};
        const Run oneByOne = run(args(two));
        QCOMPARE(oneByOne.code, 0);
        QVERIFY2(oneByOne.out.contains(
                     QString(file("plain") + ": not a serial port (Inappropriate ioctl for device)\n").toUtf8()),
                 oneByOne.out.constData());
        const Run parallel = run(args(two + QStringList{"--parallel"}));
        QVERIFY2(parallel.code == 0, parallel.err.constData());
        QVERIFY(parallel.out.contains("answered"));

        line.mismatch = sim::RateMismatch::Silent;
        sim_->setLineSettings(line);
        const Run none = run(args({"probe", "--port", "PTY", "--baud", "9600", "--wait", "50"}));
        QCOMPARE(none.code, 4);
        QCOMPARE(none.err, QByteArray("tessavin-cli: no controller answered on 1 port(s) at 1 rate(s)\n"));
    }

    void helpOnEveryLevel_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("firstLine"); // of stdout; of stderr for "help" of no command
        QTest::newRow("--help") << QStringList{"--help"}
                                << QByteArray("Usage: tessavin-cli [options] <command> [options]");
        QTest::newRow("log --help") << QStringList{"log", "--help"}
                                    << QByteArray("Usage: tessavin-cli log <command> [options]");
        QTest::newRow("-h archive read") << QStringList{"-h", "archive", "read"}
                                         << QByteArray("Usage: tessavin-cli archive read [options]");
        QTest::newRow("config download --help") << QStringList{"config", "download", "--help"}
                                                << QByteArray("Usage: tessavin-cli config download [options] FILE");
        QTest::newRow("--version") << QStringList{"--version"} << QByteArray("tessavin-cli " TESSAVIN_VERSION);
        QTest::newRow("help config download") << QStringList{"help", "config", "download"}
                                              << QByteArray("Usage: tessavin-cli config download [options] FILE");
        QTest::newRow("help nosuch") << QStringList{"help", "nosuch"}
                                     << QByteArray("tessavin-cli: unknown command 'nosuch'");
        QTest::newRow("help log nosuch") << QStringList{"help", "log", "nosuch"}
                                         << QByteArray("tessavin-cli: unknown command 'log nosuch'");
    }

    void helpOnEveryLevel()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, firstLine);
        const Run r = run(arguments);
        if (arguments.contains("nosuch")) {
            QCOMPARE(r.code, 2);
            QCOMPARE(r.out, QByteArray());
            QCOMPARE(r.err.left(r.err.indexOf('\n')), firstLine);
            return;
        }
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.left(r.out.indexOf('\n')), firstLine);
        QCOMPARE(r.err, QByteArray());
#ifndef Q_OS_WIN
        // Help that could not be written is no success.
        QProcess full;
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(kCli, arguments);
        QVERIFY(full.waitForFinished(10000));
        QCOMPARE(full.exitCode(), 5);
#endif
    }

    // Every JSON line is made by one writer: numbers that are not finite are null.
    void jsonLinesAreJson()
    {
        sim_->withController([](sim::Controller& c) { c.state().pressure = INFINITY; });
        QCOMPARE(cli({"device", "pressure", "--format", "jsonl"}).out, QByteArray("{\"pressure\":null}\n"));
    }

    void portsAreListed()
    {
        const Run r = run({"ports", "--format", "jsonl"});
        QCOMPARE(r.code, 0);
        for (const QByteArray& line : r.out.split('\n'))
            QVERIFY(line.isEmpty() || QJsonDocument::fromJson(line).object().contains("path"));

        // The by-id links resolve to their devices.
        QVERIFY(QDir(dir_.path()).mkpath("dev") && QDir(dir_.path()).mkpath("by-id"));
        QVERIFY(writeFile(file("dev/ttyUSB0"), "") && writeFile(file("dev/ttyACM1"), ""));
        QVERIFY(QFile::link("../dev/ttyUSB0", file("by-id/usb-FTDI_FT232R_A1-if00-port0")));
        QVERIFY(QFile::link("../dev/ttyACM1", file("by-id/usb-Arduino_Uno_75-if00")));
        const QMap<QString, QString> stable = StableDevicePaths(file("by-id"));
        QCOMPARE(stable.value(QFileInfo(file("dev/ttyUSB0")).canonicalFilePath()),
                 file("by-id/usb-FTDI_FT232R_A1-if00-port0"));
        QCOMPARE(stable.value(QFileInfo(file("dev/ttyACM1")).canonicalFilePath()),
                 file("by-id/usb-Arduino_Uno_75-if00"));
        QCOMPARE(stable.size(), 2);
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
