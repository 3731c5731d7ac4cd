// The window program as a user starts and ends it: its command line, the
// language of its windows, and SIGTERM or SIGINT closing it as the close button
// does (settings written, the demo's folder removed, exit code 0). An error at
// start ends it with 1.
#include "app/application.h"
#include "util/settings_file.h"
#include "tests/support/test_support.h"
#include "tessavin_version.h"
#include "app/window_language.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace tessavin;

namespace {

QString windowProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../app/tessavin"));
}

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QStringList& arguments)
{
    QProcess p;
    p.start(windowProgram(), arguments);
    p.waitForFinished(10000);
    // A Windows program's text output ends its lines with CR LF.
    const auto text = [](QByteArray bytes) { return bytes.replace("\r\n", "\n"); };
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, text(p.readAllStandardOutput()),
            text(p.readAllStandardError())};
}

} // namespace

class TestWindowProgram : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "tessavin " TESSAVIN_VERSION "\n"
                                   << "";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "--trace <FILE>"
                                << "";
        QTest::newRow("--help lists --fast") << QStringList{"--help"} << 0 << "--fast"
                                             << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << ""
                                        << "tessavin: Unknown option 'bogus'.";
        QTest::newRow("--help lists --lang") << QStringList{"--help"} << 0 << "--lang <LANG>"
                                             << "";
        QTest::newRow("unknown language") << QStringList{"--lang", "de"} << 2 << ""
                                          << "tessavin: --lang: unknown language 'de' (available: ru, en)";
        QTest::newRow("stray argument") << QStringList{"COM3"} << 2 << ""
                                        << "tessavin: unexpected argument 'COM3'";
        QTest::newRow("trace file in a missing folder")
            << QStringList{"--trace", "/nonexistent/t.jsonl"} << 2 << ""
            << "tessavin: cannot write the trace file /nonexistent/t.jsonl:";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Run r = run(arguments);
        QCOMPARE(r.code, code);
        QVERIFY2(r.out.contains(out.toUtf8()), r.out.constData());
        QVERIFY2(r.err.contains(err.toUtf8()), r.err.constData());
    }

    // --lang wins over [ui] language in the settings file. An unknown language
    // is refused, naming those there are: from --lang it ends the start (above),
    // from the file it leaves the Russian texts.
    void languageChoice_data()
    {
        QTest::addColumn<QStringList>("option"); // empty: no --lang
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("refused");
        QTest::newRow("nothing") << QStringList() << QByteArray() << "ru" << false;
        QTest::newRow("[ui] language=en") << QStringList() << QByteArray("[ui]\nlanguage=en\n") << "en" << false;
        QTest::newRow("[ui] language=EN") << QStringList() << QByteArray("[ui]\nlanguage=EN\n") << "en" << false;
        QTest::newRow("language under [log]") << QStringList() << QByteArray("[log]\nlanguage=en\n") << "ru" << false;
        QTest::newRow("--lang ru over en") << QStringList{"ru"} << QByteArray("[ui]\nlanguage=en\n") << "ru" << false;
        QTest::newRow("--lang en") << QStringList{"en"} << QByteArray() << "en" << false;
        QTest::newRow("--lang de") << QStringList{"de"} << QByteArray("[ui]\nlanguage=en\n") << "ru" << true;
        QTest::newRow("--lang empty") << QStringList{""} << QByteArray() << "ru" << true;
        QTest::newRow("[ui] language=de") << QStringList() << QByteArray("[ui]\nlanguage=de\n") << "ru" << true;
    }
    void languageChoice()
    {
        QFETCH(QStringList, option);
        QFETCH(QByteArray, file);
        QFETCH(QString, language);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.log");
        QVERIFY(file.isEmpty() || test::writeFile(path, file));
        const LanguageChoice choice = ChooseWindowLanguage(
            option.isEmpty() ? std::nullopt : std::optional<QString>(option[0]), ReadSettings(path).language);
        QCOMPARE(choice.language, language);
        QCOMPARE(choice.fromOption, !option.isEmpty());
        QVERIFY2(refused ? choice.refusal.endsWith("(available: ru, en)") : choice.refusal.isEmpty(),
                 qPrintable(choice.refusal));
    }

    void errorAtStartEndsWithOne()
    {
        QString reported;
        const int code = RunReportingErrors([]() -> int { throw std::runtime_error("no display"); },
                                            [&](const QString& text) { reported = text; });
        QCOMPARE(code, 1);
        QCOMPARE(reported, QStringLiteral("no display"));
        QCOMPARE(RunReportingErrors([] { return 0; }, [](const QString&) {}), 0);
    }

#ifdef Q_OS_UNIX
    // The program, copied into a folder of the test's own so that its settings
    // land there, is ended by a signal once its trace file shows it is up.
    void signalClosesTheWindow_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalClosesTheWindow()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString program = dir.filePath("tessavin");
        QVERIFY(QFile::copy(windowProgram(), program));
        QProcess p;
        p.start(program, {"--trace", dir.filePath("t.jsonl")});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("t.jsonl")), 10000);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(test::readFile(dir.filePath("log.log")), QByteArray("[log]\nbaud=38400\nport=7\n"));
    }

    void signalRemovesTheDemoFolder()
    {
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        p.setProcessEnvironment(env);
        p.start(windowProgram(), {"--demo"});
        QVERIFY(p.waitForStarted());
        const auto demoFolders = [&] { return QDir(tmp.path()).entryList({"tessavin-*"}, QDir::Dirs); };
        QTRY_COMPARE_WITH_TIMEOUT(demoFolders().size(), 1, 10000);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(demoFolders(), QStringList());
    }
#endif
};

QTEST_GUILESS_MAIN(TestWindowProgram)
#include "tst_window_program.moc"
