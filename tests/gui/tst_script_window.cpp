// Script transfer in the real window against the emulated controller over a
// pseudo-terminal: Down script, Up script and Clr script with their requests on
// the wire, the Status pair, Memo1, the caption and the files.
#include "checksum.h"
#include "controller_thread.h"
#include "window_fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

using namespace tessavin;
using namespace std::chrono_literals;

namespace {

LinkTiming quick()
{
    LinkTiming t;
    t.firstBytePause = 1ms;
    t.firstByteWait = 20ms;
    t.firstByteTries = 5;
    t.idleGap = 15ms;
    return t;
}

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

QByteArray patterned(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(0x20 + i % 95);
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct Bench {
    explicit Bench(LinkTiming timing = quick()) : f(timing) {}

    sim::ControllerThread sim;
    test::WindowFixture f;

    TForm1& form() { return *f.form1; }
    bool start()
    {
        if (!sim.start())
            return false;
        form().Edit1->setText(sim.slavePath());
        form().OpenComClick();
        return form().session().link.isOpen();
    }
    void setScript(const QByteArray& script)
    {
        sim.withController([&](sim::Controller& c) { c.state().script = script; });
    }
    QByteArray script() { return sim.stateSnapshot().script; }
    void silence()
    {
        sim.withController([](sim::Controller& c) { c.addFault({sim::FaultKind::Silence, sim::FaultTarget::any()}); });
    }
    QList<QByteArray> received() const
    {
        QList<QByteArray> frames;
        for (const sim::LoggedFrame& frame : sim.frames())
            if (frame.direction == sim::Direction::Received)
                frames << frame.bytes;
        return frames;
    }
    // Which half of the Status pair shows: "OK", "NOT OK" or "".
    QString status()
    {
        if (form().Label2->isVisibleTo(&form()))
            return form().Label5->isVisibleTo(&form()) ? QStringLiteral("both") : QStringLiteral("OK");
        return form().Label5->isVisibleTo(&form()) ? QStringLiteral("NOT OK") : QString();
    }
    QString path(const char* name) const { return f.dir.filePath(QLatin1String(name)); }
};

#define START_OR_SKIP(bench)                                  \
    do {                                                      \
        if (!(bench).start())                                 \
            QSKIP("no pseudo-terminal can be had here");      \
    } while (false)

} // namespace

class TestScriptWindow : public QObject {
    Q_OBJECT

private slots:
    void downScriptWorkedExample();
    void downScriptLengths_data();
    void downScriptLengths();
    void downScriptRefused_data();
    void downScriptRefused();
    void downScriptCancelled();
    void upScriptWorkedExample();
    void upScriptReplies_data();
    void upScriptReplies();
    void upScriptCancelled();
    void upScriptFileCannotBeCreated();
    void clrScript_data();
    void clrScript();
    void noPortGivesNotOk_data();
    void noPortGivesNotOk();
};

void TestScriptWindow::downScriptWorkedExample()
{
    Bench b;
    START_OR_SKIP(b);
    const QString path = b.path("abc.scr");
    QVERIFY(writeFile(path, "abc"));
    b.f.seam.openAnswers << path;
    b.form().DownScrClick();

    QCOMPARE(b.f.seam.lastOpenSuffix, QStringLiteral("scr"));
    QCOMPARE(b.f.seam.lastFilter, QStringLiteral("|scr"));
    QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 0B 00 46 07 0C 0C 00 00 03 00 61 62 63 23 32")});
    QCOMPARE(b.script(), QByteArray("abc"));
    QCOMPARE(b.form().Memo1->toPlainText(), QStringLiteral("abc"));
    QCOMPARE(b.form().windowTitle(), QDir::toNativeSeparators(path));
    QCOMPARE(b.status(), QStringLiteral("OK"));
    QCOMPARE(readFile(path), QByteArray("abc"));
}

void TestScriptWindow::downScriptLengths_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("lengthAndCount"); // offsets 2-3 and 10-11
    QTest::addColumn<QString>("memo");

    QTest::newRow("247 bytes") << patterned(247) << hex("FF 00 F7 00") << QString::fromLatin1(patterned(247));
    QTest::newRow("248 bytes") << patterned(248) << hex("00 01 F8 00") << QString::fromLatin1(patterned(248));
    QTest::newRow("986 bytes") << patterned(986) << hex("E2 03 DA 03") << QString::fromLatin1(patterned(986));
    QByteArray withZero = patterned(20);
    withZero[5] = '\0';
    QTest::newRow("zero byte inside") << withZero << hex("1C 00 14 00") << QString::fromLatin1(patterned(5));
    QTest::newRow("Windows-1251 text") << QByteArray("\xef\xf0\xe8\xe2\xe5\xf2") << hex("0E 00 06 00")
                                       << QStringLiteral("привет");
}

void TestScriptWindow::downScriptLengths()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, lengthAndCount);
    QFETCH(QString, memo);

    Bench b;
    START_OR_SKIP(b);
    const QString path = b.path("long.scr");
    QVERIFY(writeFile(path, script));
    b.f.seam.openAnswers << path;
    b.form().DownScrClick();

    const QList<QByteArray> frames = b.received();
    QCOMPARE(frames.size(), 1);
    const QByteArray& frame = frames.front();
    const int n = int(script.size());
    QCOMPARE(frame.size(), n + 14);
    QCOMPARE(frame.left(2), hex("05 64"));
    QCOMPARE(frame.mid(2, 2), lengthAndCount.left(2));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    QVERIFY(ChecksumMatches(bytes, 4));
    QCOMPARE(frame.mid(6, 4), hex("0C 0C 00 00"));
    QCOMPARE(frame.mid(10, 2), lengthAndCount.mid(2));
    QCOMPARE(frame.mid(12, n), script);
    QVERIFY(ChecksumMatches(bytes + 6, std::size_t(n) + 6));
    QCOMPARE(b.script(), script);
    QCOMPARE(b.form().Memo1->toPlainText(), memo);
    QCOMPARE(b.status(), QStringLiteral("OK"));
}

void TestScriptWindow::downScriptRefused_data()
{
    QTest::addColumn<QByteArray>("content");   // "<missing>": no such file
    QTest::addColumn<QString>("memo");          // "<kept>": Memo1 unchanged

    QTest::newRow("987 bytes") << patterned(987)
                               << "Script not sent: the file holds 987 bytes, at most 986 fit in one request";
    QTest::newRow("60000 bytes") << patterned(60000)
                                 << "Script not sent: the file holds 60000 bytes, at most 986 fit in one request";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("no such file") << QByteArray("<missing>") << "<kept>";
}

void TestScriptWindow::downScriptRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, memo);

    Bench b;
    START_OR_SKIP(b);
    const QString path = b.path("refused.scr");
    const bool missing = content == "<missing>";
    if (!missing)
        QVERIFY(writeFile(path, content));
    b.setScript("kept");
    b.form().Memo1->setPlainText(QStringLiteral("earlier"));
    b.form().Label2->setVisible(true);
    b.f.seam.openAnswers << path;
    b.form().DownScrClick();

    QVERIFY(b.received().isEmpty());
    QCOMPARE(b.script(), QByteArray("kept"));
    QCOMPARE(b.status(), QStringLiteral("NOT OK"));
    QCOMPARE(b.form().Memo1->toPlainText(), memo == "<kept>" ? QStringLiteral("earlier") : memo);
    QCOMPARE(b.form().windowTitle(), QDir::toNativeSeparators(path));
    QCOMPARE(QFileInfo::exists(path), !missing);
    if (!missing)
        QCOMPARE(readFile(path), content);
    QVERIFY(b.f.seam.messages.isEmpty());
}

void TestScriptWindow::downScriptCancelled()
{
    Bench b;
    START_OR_SKIP(b);
    const QString title = b.form().windowTitle();
    b.form().Memo1->setPlainText(QStringLiteral("earlier"));
    b.form().Label2->setVisible(true);
    b.form().DownScrClick(); // no answer queued: the dialog is cancelled
    QCOMPARE(b.f.seam.openCount, 1);
    QVERIFY(b.received().isEmpty());
    QCOMPARE(b.status(), QStringLiteral("OK"));
    QCOMPARE(b.form().windowTitle(), title);
    QCOMPARE(b.form().Memo1->toPlainText(), QStringLiteral("earlier"));
}

void TestScriptWindow::upScriptWorkedExample()
{
    Bench b;
    START_OR_SKIP(b);
    b.setScript("hello\r\nworld");
    const QString path = b.path("back.log");
    QVERIFY(writeFile(path, "an older and longer file that is replaced"));
    b.f.seam.saveAnswers << path;
    b.form().Label5->setVisible(true);
    b.form().ButtonUpClick();

    QCOMPARE(b.f.seam.lastSaveSuffix, QStringLiteral("log"));
    QCOMPARE(b.f.seam.lastFilter, QString());
    QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 0E 06 00 00 00 00 89 35")});
    QCOMPARE(b.form().Memo1->toPlainText(), QStringLiteral("hello\nworld"));
    QCOMPARE(readFile(path), QByteArray("hello\r\nworld"));
    QCOMPARE(b.form().windowTitle(), QDir::toNativeSeparators(path));
    QCOMPARE(b.status(), QString());
}

void TestScriptWindow::upScriptReplies_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("memo");

    QTest::newRow("10-byte reply (no script)") << QByteArray() << false << "earlier";
    QTest::newRow("11-byte reply (one byte)") << QByteArray("Z") << true << "Z";
    QTest::newRow("zero byte inside") << QByteArray("ab\0cd", 5) << true << "ab";
    QTest::newRow("986-byte script") << patterned(986) << true << QString::fromLatin1(patterned(986));
}

void TestScriptWindow::upScriptReplies()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, ok);
    QFETCH(QString, memo);

    Bench b;
    START_OR_SKIP(b);
    b.setScript(script);
    const QString title = b.form().windowTitle();
    b.form().Memo1->setPlainText(QStringLiteral("earlier"));
    const QString path = b.path("up.log");
    b.f.seam.saveAnswers << path;
    b.form().ButtonUpClick();

    QCOMPARE(b.received().size(), 1);
    QCOMPARE(b.form().Memo1->toPlainText(), memo);
    if (ok) {
        QCOMPARE(readFile(path), script);
        QCOMPARE(b.form().windowTitle(), QDir::toNativeSeparators(path));
        QCOMPARE(b.status(), QString());
    } else {
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(b.form().windowTitle(), title);
        QCOMPARE(b.status(), QStringLiteral("NOT OK"));
    }
}

void TestScriptWindow::upScriptCancelled()
{
    Bench b;
    START_OR_SKIP(b);
    b.setScript("abc");
    b.form().Label2->setVisible(true);
    b.form().Memo1->setPlainText(QStringLiteral("earlier"));
    b.form().ButtonUpClick();
    QCOMPARE(b.f.seam.saveCount, 1);
    QVERIFY(b.received().isEmpty());
    QCOMPARE(b.status(), QString());
    QCOMPARE(b.form().Memo1->toPlainText(), QStringLiteral("earlier"));
}

void TestScriptWindow::upScriptFileCannotBeCreated()
{
    Bench b;
    START_OR_SKIP(b);
    b.setScript("abc");
    const QString path = b.path("no-such-folder/up.log");
    b.f.seam.saveAnswers << path;
    b.form().ButtonUpClick();
    QCOMPARE(b.received().size(), 1);
    QCOMPARE(b.form().Memo1->toPlainText(), QString());
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(b.f.seam.messages.isEmpty());
    QCOMPARE(b.status(), QString());
}

void TestScriptWindow::clrScript_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("ДА") << 1;
    QTest::newRow("НЕТ") << 2;
    QTest::newRow("Esc") << 0;
}

void TestScriptWindow::clrScript()
{
    QFETCH(int, answer);
    Bench b;
    START_OR_SKIP(b);
    b.form().Label5->setVisible(true);
    b.f.seam.confirmAnswers << answer;
    b.form().Down_testikClick();
    QCOMPARE(b.f.seam.confirmCount, 1);
    if (answer == 1) {
        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 19 06 00 00 00 00 8A 12")});
        QCOMPARE(b.status(), QStringLiteral("OK"));
    } else {
        QVERIFY(b.received().isEmpty());
        QCOMPARE(b.status(), QStringLiteral("NOT OK")); // kept as it was
    }
}

void TestScriptWindow::noPortGivesNotOk_data()
{
    QTest::addColumn<QString>("handler");
    QTest::newRow("Down script") << "DownScrClick";
    QTest::newRow("Up script") << "ButtonUpClick";
    QTest::newRow("Clr script") << "Down_testikClick";
    QTest::newRow("Down script, silent controller") << "silent DownScrClick";
    QTest::newRow("Clr script, silent controller") << "silent Down_testikClick";
}

void TestScriptWindow::noPortGivesNotOk()
{
    QFETCH(QString, handler);
    Bench b;
    const bool silent = handler.startsWith(QStringLiteral("silent "));
    if (silent) {
        START_OR_SKIP(b);
        b.silence();
        handler = handler.mid(7);
    }
    const QString path = b.path("any.scr");
    QVERIFY(writeFile(path, "abc"));
    b.f.seam.openAnswers << path;
    b.f.seam.saveAnswers << b.path("up.log");
    b.f.seam.confirmAnswers << 1;
    b.form().Label2->setVisible(true);
    QVERIFY(QMetaObject::invokeMethod(&b.form(), handler.toLatin1().constData()));
    QCOMPARE(b.status(), QStringLiteral("NOT OK"));
    QVERIFY(!QFileInfo::exists(b.path("up.log")));
    if (silent)
        QCOMPARE(b.received().size(), 1);
}

QTEST_MAIN(TestScriptWindow)
#include "tst_script_window.moc"
