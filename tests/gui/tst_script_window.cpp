// Script transfer in the real window against the emulated controller in memory,
// on a virtual clock with the system's timings: Down script, Up script and Clr
// script (hidden controls, reached through their slots) with their requests on
// the wire, the time they take, the Status pair, Memo1, the caption and the files.
#include "protocol/checksum.h"
#include "tests/support/window_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;

namespace {

struct Bench : MemoryWindow {
    void setScript(const QByteArray& script)
    {
        state([&](sim::ControllerState& s) { s.script = script; });
    }
    QByteArray script() const { return line.controller.state().script; }
    QString title() { return form().windowTitle(); }
};

} // namespace

class TestScriptWindow : public QObject {
    Q_OBJECT

private slots:
    // One data request carries the whole script; its 16-bit length and count fields
    // are filled whole. The file (read-only here) is neither changed nor touched.
    void downScript_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("lengthAndCount"); // offsets 2-3 and 10-11
        QTest::addColumn<QString>("memo");

        QTest::newRow("abc") << QByteArray("abc") << hex("0B 00 03 00") << "abc";
        QTest::newRow("247 bytes") << letters(247) << hex("FF 00 F7 00") << QString::fromLatin1(letters(247));
        QTest::newRow("248 bytes") << letters(248) << hex("00 01 F8 00") << QString::fromLatin1(letters(248));
        QTest::newRow("986 bytes") << letters(986) << hex("E2 03 DA 03") << QString::fromLatin1(letters(986));
        QByteArray withZero = letters(20);
        withZero[5] = '\0';
        QTest::newRow("zero byte inside") << withZero << hex("1C 00 14 00") << "abcde";
        QTest::newRow("Windows-1251 text")
            << QByteArray("\xef\xf0\xe8\xe2\xe5\xf2") << hex("0E 00 06 00") << QStringLiteral("привет");
        QTest::newRow("UTF-8 behind a byte order mark") << QByteArray("\xef\xbb\xbf\xd0\xbf\xd1\x80\xd0\xb8")
                                                        << hex("11 00 09 00") << QChar(0xFEFF) + QStringLiteral("при");
    }

    void downScript()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, lengthAndCount);
        QFETCH(QString, memo);

        Bench b;
        QVERIFY(b.start());
        const QString path = b.path("down.scr");
        QVERIFY(writeFile(path, script));
        QFile::setPermissions(path, QFileDevice::ReadOwner);
        const QDateTime modified = QFileInfo(path).lastModified();
        b.f.seam.openAnswers << path;
        b.form().DownScrClick();

        QCOMPARE(b.f.seam.lastOpenSuffix, QStringLiteral("scr"));
        QCOMPARE(b.f.seam.lastFilter, QStringLiteral("|scr"));
        const QList<QByteArray> frames = b.received();
        QCOMPARE(frames.size(), 1);
        const QByteArray& frame = frames.front();
        const int n = int(script.size());
        QCOMPARE(frame.size(), n + 14);
        QCOMPARE(frame.left(4), hex("05 64") + lengthAndCount.left(2));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
        QVERIFY(ChecksumMatches(bytes, 4));
        QCOMPARE(frame.mid(6, 6), hex("0C 0C 00 00") + lengthAndCount.mid(2));
        QCOMPARE(frame.mid(12, n), script);
        QVERIFY(ChecksumMatches(bytes + 6, std::size_t(n) + 6));
        QCOMPARE(b.script(), script);
        QCOMPARE(b.now(), 70ms); // the 10 ms first-byte pause and the 60 ms idle gap
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText(), memo);
        QCOMPARE(b.title(), QDir::toNativeSeparators(path));
        QCOMPARE(b.status(), QStringLiteral("OK"));
        QCOMPARE(readFile(path), script);
        QCOMPARE(QFileInfo(path).lastModified(), modified);
    }

    // Nothing is sent: a refused file gives NOT OK and names itself in the
    // caption (one too long for a request also in Memo1); a cancelled dialog
    // leaves everything as it was.
    void downScriptRefused_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<missing>": no such file; "<cancelled>": no file chosen
        QTest::addColumn<QString>("memo"); // "<kept>": Memo1 unchanged

        QTest::newRow("987 bytes") << letters(987)
                                   << "Script not sent: the file holds 987 bytes, at most 986 fit in one request";
        QTest::newRow("60000 bytes") << letters(60000)
                                     << "Script not sent: the file holds 60000 bytes, at most 986 fit in one request";
        QTest::newRow("empty file") << QByteArray() << "";
        QTest::newRow("no such file") << QByteArray("<missing>") << "<kept>";
        QTest::newRow("dialog cancelled") << QByteArray("<cancelled>") << "<kept>";
    }

    void downScriptRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, memo);
        const bool cancelled = content == "<cancelled>", missing = content == "<missing>" || cancelled;

        Bench b;
        QVERIFY(b.start());
        const QString title = b.title();
        const QString path = b.path("refused.scr");
        if (!missing)
            QVERIFY(writeFile(path, content));
        b.setScript("kept");
        widget<QPlainTextEdit>(b.form(), "Memo1")->setPlainText(QStringLiteral("earlier"));
        widget<QLabel>(b.form(), "Label2")->setVisible(true);
        if (!cancelled)
            b.f.seam.openAnswers << path;
        b.form().DownScrClick();

        QCOMPARE(b.f.seam.openCount, 1);
        QVERIFY(b.received().isEmpty());
        QCOMPARE(b.now(), 0ms);
        QCOMPARE(b.script(), QByteArray("kept"));
        QCOMPARE(b.status(), cancelled ? QStringLiteral("OK") : QStringLiteral("NOT OK"));
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText(),
                 memo == "<kept>" ? QStringLiteral("earlier") : memo);
        QCOMPARE(b.title(), cancelled ? title : QDir::toNativeSeparators(path));
        QCOMPARE(readFile(path), missing ? QByteArray("<unreadable>") : content);
        QVERIFY(b.f.seam.messages.isEmpty());
    }

    // The reply's payload after its 10 bytes of frame goes to Memo1 and replaces the
    // chosen file; a reply of 10 bytes holds no script and writes nothing.
    void upScript_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("memo");

        QTest::newRow("hello CR LF world") << QByteArray("hello\r\nworld") << "hello\nworld";
        QTest::newRow("10-byte reply (no script)") << QByteArray() << "earlier";
        QTest::newRow("11-byte reply (one byte)") << QByteArray("Z") << "Z";
        QTest::newRow("zero byte inside") << QByteArray("ab\0cd", 5) << "ab";
        QTest::newRow("986-byte script") << letters(986) << QString::fromLatin1(letters(986));
    }

    void upScript()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, memo);
        const bool ok = !script.isEmpty();

        Bench b;
        QVERIFY(b.start());
        b.setScript(script);
        const QString title = b.title();
        widget<QPlainTextEdit>(b.form(), "Memo1")->setPlainText(QStringLiteral("earlier"));
        widget<QLabel>(b.form(), "Label5")->setVisible(ok);
        const QString path = b.path("up.log");
        if (ok)
            QVERIFY(writeFile(path, "an older and longer file that is replaced"));
        b.f.seam.saveAnswers << path;
        b.form().ButtonUpClick();

        QCOMPARE(b.f.seam.lastSaveSuffix, QStringLiteral("log"));
        QCOMPARE(b.f.seam.lastFilter, QString());
        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 0E 06 00 00 00 00 89 35")});
        QCOMPARE(b.now(), 70ms);
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText(), memo);
        QCOMPARE(readFile(path), ok ? script : QByteArray("<unreadable>"));
        QCOMPARE(b.title(), ok ? QDir::toNativeSeparators(path) : title);
        QCOMPARE(b.status(), ok ? QString() : QStringLiteral("NOT OK"));
    }

    void upScriptCancelled()
    {
        Bench b;
        QVERIFY(b.start());
        b.setScript("abc");
        widget<QLabel>(b.form(), "Label2")->setVisible(true);
        widget<QPlainTextEdit>(b.form(), "Memo1")->setPlainText(QStringLiteral("earlier"));
        b.form().ButtonUpClick();
        QCOMPARE(b.f.seam.saveCount, 1);
        QVERIFY(b.received().isEmpty());
        QCOMPARE(b.status(), QString());
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText(), QStringLiteral("earlier"));
    }

    void upScriptFileCannotBeCreated()
    {
        Bench b;
        QVERIFY(b.start());
        b.setScript("abc");
        const QString path = b.path("no-such-folder/up.log");
        b.f.seam.saveAnswers << path;
        b.form().ButtonUpClick();
        QCOMPARE(b.received().size(), 1);
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText(), QString());
        QVERIFY(!QFileInfo::exists(path));
        // Said, with the path and the reason.
        QCOMPARE(b.f.seam.messages,
                 QStringList{QStringLiteral("Cannot create %1: ").arg(QDir::toNativeSeparators(path))
                             + test::missingFolderReason()});
        QCOMPARE(b.status(), QString());
    }

    void clrScript_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("ДА") << 1;
        QTest::newRow("НЕТ") << 2;
    }

    void clrScript()
    {
        QFETCH(int, answer);
        Bench b;
        QVERIFY(b.start());
        widget<QLabel>(b.form(), "Label5")->setVisible(true);
        b.f.seam.confirmAnswers << answer;
        b.form().Down_testikClick();
        QCOMPARE(b.f.seam.confirmCount, 1);
        if (answer == 1) {
            QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 19 06 00 00 00 00 8A 12")});
            QCOMPARE(b.now(), 70ms);
            QCOMPARE(b.status(), QStringLiteral("OK"));
        } else {
            QVERIFY(b.received().isEmpty());
            QCOMPARE(b.status(), QStringLiteral("NOT OK")); // kept as it was
        }
    }

    // No port, or a controller that does not answer: NOT OK, and no file written.
    // Silence is waited for through 201 first-byte rounds of 10 + 55 ms; with
    // no port each round's wait ends at once, leaving its 10 ms pause.
    void failures_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("took"); // virtual milliseconds
        const std::pair<const char*, const char*> handlers[] = {
            {"Down script", "DownScrClick"}, {"Up script", "ButtonUpClick"}, {"Clr script", "Down_testikClick"}};
        for (const auto& [name, handler] : handlers) {
            QTest::addRow("%s, no port", name) << handler << false << 201 * 10;
            QTest::addRow("%s, silent controller", name) << handler << true << 201 * 65;
        }
    }

    void failures()
    {
        QFETCH(QString, handler);
        QFETCH(bool, silent);
        QFETCH(int, took);
        Bench b;
        if (silent) {
            QVERIFY(b.start());
            b.fault(sim::FaultKind::Silence);
        }
        QVERIFY(writeFile(b.path("any.scr"), "abc"));
        b.f.seam.openAnswers << b.path("any.scr");
        b.f.seam.saveAnswers << b.path("up.log");
        b.f.seam.confirmAnswers << 1;
        widget<QLabel>(b.form(), "Label2")->setVisible(true);
        QVERIFY(QMetaObject::invokeMethod(&b.form(), handler.toLatin1().constData()));
        QCOMPARE(b.status(), QStringLiteral("NOT OK"));
        QVERIFY(!QFileInfo::exists(b.path("up.log")));
        QCOMPARE(b.received().size(), silent ? 1 : 0);
        QCOMPARE(b.now(), std::chrono::milliseconds(took));
    }
};

QTEST_MAIN(TestScriptWindow)
#include "tst_script_window.moc"
