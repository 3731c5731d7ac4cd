// "LOG" pressed in the real window against the emulated controller in memory,
// on a virtual clock with the system's timings: the three questions and their
// Memo1 lines, the records chosen by each box, the presentation in Memo1 and in
// the saved file, Stop, a failed record, closing the window mid-download, the
// port opened on demand, typed numbers that are not integers, the frame log of a
// download in JSON Lines, and one download over a pseudo-terminal in real time.
#include "app/demo.h"
#include "sim/live_line.h"
#include "util/settings_file.h"
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <utility>

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;

namespace {

QByteArray slotRecord(int i) { return sim::MakeLogRecord('<', 2024, 1, 2, 3, 4, 5, "slot " + QByteArray::number(i)); }
QString slotLine(int i) { return QStringLiteral("<2024.01.02-03:04:05 slot %1").arg(i); }

// The window, the controller, and the port field naming the controller's line
// (the port is opened on demand).
struct Bench : MemoryWindow {
    using MemoryWindow::MemoryWindow;
    bool start() { return MemoryWindow::start(false); }
    void tick(QCheckBox* box)
    {
        box->setChecked(false);
        box->click(); // ticked through its handler: the others are unticked
    }
    // Ring of `capacity` slots whose record i says "slot i".
    void ring(int capacity, int count, int begin)
    {
        state([&](sim::ControllerState& s) {
            s.eventLog.reset(capacity);
            for (int i = 0; i < capacity; ++i)
                s.eventLog.records[static_cast<std::size_t>(i)] = slotRecord(i);
            s.eventLog.count = count;
            s.eventLog.begin = begin;
        });
    }
    // The command byte of every request, in order.
    QList<QByteArray> commands() const
    {
        QList<QByteArray> out;
        for (const QByteArray& f : received())
            out << f.mid(6, 1).toHex();
        return out;
    }
    QList<int> recordIndexes() const { return requestedIndexes(received(), 0x1A); }
};

QStringList memoLines(const TForm1& form)
{
    return widget<QPlainTextEdit>(form, "Memo1")->toPlainText().split(QLatin1Char('\n'));
}

} // namespace

class LogDownloadTest : public QObject {
    Q_OBJECT

private slots:
    void questionsComeFirst_data()
    {
        QTest::addColumn<bool>("max");
        QTest::addColumn<QStringList>("head");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::newRow("Max ticked") << true << QStringList{"MAX=1500", "N=150", "OK=150"}
                                    << QList<QByteArray>{"1d", "1c", "19", "1a", "1a"};
        QTest::newRow("Max not ticked") << false << QStringList{"N=150", "OK=150"}
                                        << QList<QByteArray>{"1c", "19", "1a", "1a"};
    }

    void questionsComeFirst()
    {
        QFETCH(bool, max);
        QFETCH(QStringList, head);
        QFETCH(QList<QByteArray>, commands);

        Bench b;
        QVERIFY(b.start());
        b.ring(1500, 150, 150);
        TForm1& w = b.form();
        widget<QPlainTextEdit>(w, "Memo1")->setPlainText("earlier text");
        widget<QCheckBox>(w, "Max")->setChecked(max);
        widget<QLineEdit>(w, "Beg")->setText("2");
        press(widget<QPushButton>(w, "ButContLog"));

        QCOMPARE(memoLines(w), head + (QStringList{slotLine(148), slotLine(149)}));
        QCOMPARE(b.commands(), commands);
        QCOMPARE(w.session().capacity, max ? 1500 : 2000);
        QVERIFY(widget<QLabel>(w, "Label2")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label5")->isHidden());
        QVERIFY(!widget<QLabel>(w, "ok")->isHidden()); // opened on demand
        QVERIFY(b.f.seam.messages.isEmpty());
    }

    void capacityLineReplacesEarlierText()
    {
        Bench b;
        QVERIFY(b.start());
        b.ring(1500, 20, 20);
        TForm1& w = b.form();
        press(widget<QPushButton>(w, "OpenCom"));
        widget<QPlainTextEdit>(w, "Memo1")->setPlainText("one\ntwo");
        w.ButBegLogClick();
        QCOMPARE(memoLines(w), (QStringList{"one", "two", "OK=20"}));
        QVERIFY(!widget<QLabel>(w, "Label2")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label5")->isHidden());
        w.ButCountLogClick();
        QCOMPARE(memoLines(w), (QStringList{"one", "two", "OK=20", "N=20"}));
        w.ButMaxLogClick();
        QCOMPARE(memoLines(w), QStringList{"MAX=1500"});

        // A failed question shows 0, and "OK" all the same.
        b.fault(sim::FaultKind::Silence, sim::FaultTarget::any(), 1);
        w.ButBegLogClick();
        QCOMPARE(memoLines(w), (QStringList{"MAX=1500", "OK=0"}));
        QCOMPARE(w.session().begin, 0);
        QVERIFY(!widget<QLabel>(w, "Label2")->isHidden());
    }

    void choice_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("begin");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("indexes");

        QTest::newRow("Last100, C 150 B 150") << 2000 << 150 << 150 << "Last100"
                                              << "" << range(50, 149);
        QTest::newRow("Last10, full 2000-ring at B 3") << 2000 << 2000 << 3 << "Last10"
                                                       << "" << range(1993, 1999) + range(0, 2);
        QTest::newRow("Last10, C 5") << 2000 << 5 << 5 << "Last10"
                                     << "" << range(0, 4);
        QTest::newRow("Last500, C 40") << 2000 << 40 << 40 << "Last500"
                                       << "" << range(0, 39);
        QTest::newRow("Index, Beg 30, C 20") << 2000 << 20 << 20 << "Index"
                                             << "30" << range(0, 19);
        QTest::newRow("Index, Beg 4, full ring at B 2") << 2000 << 2000 << 2 << "Index"
                                                        << "4" << QList<int>{1998, 1999, 0, 1};
        QTest::newRow("ONE, EdONE 3") << 2000 << 150 << 150 << "ONE"
                                      << "3" << QList<int>{3};
        // The low 16 bits of the largest int; the loop's index must not overflow after it.
        QTest::newRow("ONE, EdONE 2147483647") << 65536 << 150 << 150 << "ONE"
                                               << "2147483647" << QList<int>{65535};
        QTest::newRow("none ticked") << 2000 << 150 << 150 << ""
                                     << "" << QList<int>{};
    }

    // The requested slots, their lines, and the progress bar under Memo1 only
    // while records are read (each line appears before its count is taken).
    void choice()
    {
        QFETCH(int, capacity);
        QFETCH(int, count);
        QFETCH(int, begin);
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QList<int>, indexes);

        Bench b;
        QVERIFY(b.start());
        b.ring(capacity, count, begin);
        TForm1& w = b.form();
        if (box.isEmpty())
            widget<QCheckBox>(w, "Index")->click(); // unticks the last ticked box: none is left
        else
            b.tick(w.findChild<QCheckBox*>(box));
        (box == "ONE" ? widget<QLineEdit>(w, "EdONE") : widget<QLineEdit>(w, "Beg"))->setText(typed);
        QList<int> progress;
        bool shownWhileReading = true;
        QObject::connect(widget<QPlainTextEdit>(w, "Memo1"), &QPlainTextEdit::blockCountChanged, [&](int blocks) {
            if (blocks > 2) { // after the N= and OK= lines
                shownWhileReading = shownWhileReading && !widget<QProgressBar>(w, "Progress")->isHidden();
                progress << widget<QProgressBar>(w, "Progress")->value();
            }
        });
        QVERIFY(widget<QProgressBar>(w, "Progress")->isHidden());
        press(widget<QPushButton>(w, "ButContLog"));

        QCOMPARE(b.recordIndexes(), indexes);
        QStringList expected{QStringLiteral("N=%1").arg(count), QStringLiteral("OK=%1").arg(begin)};
        for (int i : indexes)
            expected << slotLine(i);
        if (indexes.isEmpty())
            expected << QStringLiteral("No record choice ticked (10, 100, 500, последних or 1): nothing read.");
        QCOMPARE(memoLines(w), expected);
        QVERIFY(widget<QLabel>(w, "Label2")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label5")->isHidden());
        QVERIFY(widget<QProgressBar>(w, "Progress")->isHidden());
        if (!indexes.isEmpty()) {
            QVERIFY(shownWhileReading);
            QCOMPARE(progress, range(0, int(indexes.size()) - 1));
            QCOMPARE(widget<QProgressBar>(w, "Progress")->maximum(), indexes.size());
        }
    }

    void recordExamplesInMemoAndFile()
    {
        Bench b;
        QVERIFY(b.start());
        b.state([](sim::ControllerState& s) {
            s.eventLog.reset(2000);
            for (const char* r :
                 {"<2024/01/02 03:04:05 \r\nOK\r\n", ">2024/01/02 03:04:05 AT+X\r", "#2024-01-02 03:04:05 power on",
                  "<2024/01/02 03:04:05 ab\rcd", ">20", "<2024/01/02 03:04:05 \xcf\xf0\xe8\xe2\xe5\xf2"})
                s.eventLog.appendText(r);
        });
        TForm1& w = b.form();
        widget<QCheckBox>(w, "chFile")->setChecked(true);
        const QString path = b.path("events.log");
        b.f.seam.saveAnswers << path;
        press(widget<QPushButton>(w, "ButContLog"));

        QCOMPARE(b.f.seam.saveCount, 1);
        QCOMPARE(b.f.seam.lastSaveSuffix, QStringLiteral("log"));
        QCOMPARE(readFile(path),
                 QByteArray("<2024.01.02-03:04:05 OK \r\n"
                            ">2024.01.02-03:04:05 AT+X\r\r\n"
                            " 2024.01.02-03:04:05 power on\r\n"
                            "<2024.01.02-03:04:05 abcd\r\n"
                            ">00\r\n"
                            "<2024.01.02-03:04:05 \xcf\xf0\xe8\xe2\xe5\xf2\r\n"));
        // The CR kept in the '>' record breaks its memo line: an empty line follows it.
        QCOMPARE(memoLines(w),
                 (QStringList{"N=6", "OK=6", "<2024.01.02-03:04:05 OK ", ">2024.01.02-03:04:05 AT+X", "",
                              " 2024.01.02-03:04:05 power on", "<2024.01.02-03:04:05 abcd", ">00",
                              QStringLiteral("<2024.01.02-03:04:05 Привет")}));
        QCOMPARE(widget<QLineEdit>(w, "Edi")->text(), QStringLiteral("5")); // the ordinal of the last '>' record read
    }

    // A download ends early: Stop pressed or the window closed while a record is
    // awaited, or a record request that fails. Memo1 and the file keep every line
    // read until then, and no record is asked for after a failed one.
    void endsEarly_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"Stop", "window closed", "silence", "bad body checksum", "empty slot"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }

    void endsEarly()
    {
        QFETCH(QString, how);
        const bool fails = how != "Stop" && how != "window closed";
        Bench b;
        QVERIFY(b.start());
        b.ring(2000, 10, 10);
        if (how == "empty slot")
            b.state([](sim::ControllerState& s) { s.eventLog.records[3].clear(); });
        TForm1& w = b.form();
        b.tick(widget<QCheckBox>(w, "Last10"));
        widget<QCheckBox>(w, "chFile")->setChecked(true);
        const QString path = b.path("ended.log");
        b.f.seam.saveAnswers << path;
        QStringList shownAtClose;
        bool acted = false;
        QObject::connect(widget<QPlainTextEdit>(w, "Memo1"), &QPlainTextEdit::blockCountChanged, [&](int blocks) {
            if (blocks != 2 + 3 || std::exchange(acted, true))
                return;
            if (how == "Stop") // clicked while the download runs, as a person would
                QTimer::singleShot(0, widget<QPushButton>(w, "Button8"), &QPushButton::click);
            else if (how == "window closed")
                QTimer::singleShot(0, &w, [&] {
                    shownAtClose = memoLines(w).mid(2);
                    w.close();
                });
            else if (how != "empty slot")
                b.fault(how == "silence" ? sim::FaultKind::Silence : sim::FaultKind::BadBodyChecksum,
                        sim::FaultTarget::registerCommand(0x1A), 1);
        });
        press(widget<QPushButton>(w, "ButContLog"));

        const QStringList shown = how == "window closed" ? shownAtClose : memoLines(w).mid(2);
        QCOMPARE(readFile(path), (shown.join("\r\n") + "\r\n").toLatin1());
        QVERIFY(widget<QProgressBar>(w, "Progress")->isHidden());
        if (how == "window closed") {
            // The process would end in the close; here the download goes on
            // without its file and its port.
            QCOMPARE(b.f.exits, 1);
            QCOMPARE(shown.size(), 3);
            QVERIFY(widget<QLabel>(w, "ok")->isHidden());
            return;
        }
        // Every record asked for was shown, but for the one that failed.
        QVERIFY(shown.size() >= 3 && shown.size() < 10);
        QCOMPARE(b.recordIndexes(), range(0, int(shown.size()) - (fails ? 0 : 1)));
        QVERIFY(widget<QLabel>(w, "Label2")->isHidden());
        QCOMPARE(widget<QLabel>(w, "Label5")->isHidden(), !fails);
        if (how == "Stop") { // the next download clears the flag and runs whole
            b.line.clearFrames();
            press(widget<QPushButton>(w, "ButContLog"));
            QCOMPARE(b.recordIndexes(), range(0, 9));
        }
    }

    // A file that cannot be created, or that fills up, is said; the records are
    // still shown.
    void fileThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing folder") << "missing/x.log"
                                        << "Cannot create %1: " + test::missingFolderReason();
#ifdef Q_OS_LINUX
        QTest::newRow("full disk") << "/dev/full"
                                   << "Cannot write %1: No space left on device";
#endif
    }
    void fileThatCannotBeWritten()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        Bench b;
        QVERIFY(b.start());
        b.ring(2000, 3, 3);
        TForm1& w = b.form();
        b.tick(widget<QCheckBox>(w, "Last10"));
        widget<QCheckBox>(w, "chFile")->setChecked(true);
        const QString target = path.startsWith('/') ? path : b.path(qPrintable(path));
        b.f.seam.saveAnswers << target;
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(b.f.seam.messages, QStringList{message.arg(QDir::toNativeSeparators(target))});
        QCOMPARE(memoLines(w), (QStringList{"N=3", "OK=3", slotLine(0), slotLine(1), slotLine(2)}));
    }

    void notAnInteger_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::newRow("Beg 3x") << "Index"
                                << "3x";
        QTest::newRow("EdONE 1.5") << "ONE"
                                   << "1.5";
    }

    void notAnInteger()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);

        Bench b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        b.tick(w.findChild<QCheckBox*>(box));
        (box == "Index" ? widget<QLineEdit>(w, "Beg") : widget<QLineEdit>(w, "EdONE"))->setText(typed);
        widget<QCheckBox>(w, "chFile")->setChecked(true);
        const QString path = b.path("empty.log");
        b.f.seam.saveAnswers << path;
        press(widget<QPushButton>(w, "ButContLog"));

        QCOMPARE(b.f.seam.messages, QStringList{QStringLiteral("'%1' is not a valid integer value").arg(typed)});
        QCOMPARE(b.commands(), (QList<QByteArray>{"1c", "19"}));
        QCOMPARE(readFile(path), QByteArray());
        QVERIFY(widget<QProgressBar>(w, "Progress")->isHidden());
        QVERIFY(!w.exchangeInProgress());
    }

    void failedOpenReportsAndGoesOn()
    {
        Bench b;
        b.line.port->refuseOpen({PortOpenError::Kind::NoSuchDevice, {}, {}});
        WindowFixture& f = b.f;
        TForm1& w = *f.form1;
        widget<QLineEdit>(w, "Edit1")->setText("/dev/tessavin-no-such-port");
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(f.seam.messages, QStringList{QStringLiteral("   COM порт ???")});
        // Why, behind the message's details and in the Diagnostic window.
        QCOMPARE(f.seam.details, QStringList{QStringLiteral("no such device /dev/tessavin-no-such-port")});
        QCOMPARE(f.form2->Memo->toPlainText().split('\n').last(), f.seam.details.first());
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        // The questions fail and read 0; a count of 0 reads no record.
        QCOMPARE(memoLines(w), (QStringList{"N=0", "OK=0"}));
        QVERIFY(widget<QLabel>(w, "Label2")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label5")->isHidden());

        // ONE still asks for its record, which fails.
        widget<QCheckBox>(w, "ONE")->click();
        press(widget<QPushButton>(w, "ButContLog"));
        QVERIFY(!widget<QLabel>(w, "Label5")->isHidden());

        // A baud rate that is not a number ends the download, as it ends Open.
        f.seam.messages.clear();
        widget<QPlainTextEdit>(w, "Memo1")->setPlainText("kept");
        widget<QLineEdit>(w, "Boud")->setText("fast");
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(f.seam.messages, QStringList{QStringLiteral("'fast' is not a valid integer value")});
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo1")->toPlainText(), QStringLiteral("kept"));
    }

    // Each reply ends only after the 60 ms idle gap, and the first byte is looked
    // for after a 10 ms pause: an immediate reply puts requests 70 ms apart.
    void requestsFollowTheTimingRules()
    {
        Bench b;
        QVERIFY(b.start());
        b.ring(2000, 3, 3);
        TForm1& w = b.form();
        b.tick(widget<QCheckBox>(w, "Last10"));
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(memoLines(w), (QStringList{"N=3", "OK=3", slotLine(0), slotLine(1), slotLine(2)}));
        const auto& written = b.line.port->writtenAt();
        QCOMPARE(written.size(), std::size_t{5});
        for (std::size_t i = 1; i < written.size(); ++i)
            QCOMPARE(written[i].at - written[i - 1].at, 70ms);
    }

    // Fast replies from the settings file ([link] fast=true) or from --fast:
    // each reply ends when its stated length is in and the next request waits
    // the 2 ms guard gap, so an immediate reply puts requests 2 ms apart. The
    // window reads the key at start and writes it back unchanged. With a record
    // reply spoilt once, [link] retries=1 asks for it again; without the key
    // the download ends there.
    void fastRepliesFromTheSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("option");
        QTest::addColumn<int>("spacing");
        QTest::addColumn<bool>("spoilt");
        QTest::newRow("no [link] section") << QByteArray("[log]\nport=7\n") << false << 70 << false;
        QTest::newRow("fast=false") << QByteArray("[link]\nfast=false\n") << false << 70 << false;
        QTest::newRow("fast=true") << QByteArray("[link]\nfast=true\n") << false << 2 << false;
        QTest::newRow("--fast, no file") << QByteArray() << true << 2 << false;
        QTest::newRow("--fast, fast=false") << QByteArray("[link]\nfast=false\n") << true << 2 << false;
        // A value that cannot be read is said, and its default (standard replies) kept.
        QTest::newRow("fast=bogus") << QByteArray("[link]\nfast=bogus\n") << false << 70 << false;
        QTest::newRow("no retries, spoilt reply") << QByteArray("[link]\nfast=true\n") << false << 2 << true;
        QTest::newRow("retries=1, spoilt reply") << QByteArray("[link]\nfast=true\nretries=1\n") << false << 2 << true;
    }
    void fastRepliesFromTheSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, option);
        QFETCH(int, spacing);
        QFETCH(bool, spoilt);
        sim::MemoryLine line;
        line.controller.state().eventLog.reset(2000);
        for (int i = 0; i < 3; ++i)
            line.controller.state().eventLog.appendText(slotRecord(i));
        if (spoilt)
            line.controller.addFault({sim::FaultKind::BadBodyChecksum, sim::FaultTarget::registerCommand(0x1A), 1});
        QTemporaryDir dir;
        const QString settings = dir.filePath("log.log");
        if (!file.isEmpty())
            QVERIFY(writeFile(settings, file));
        AppOptions options;
        options.settingsDir = dir.path();
        options.fallbackSettingsDir = dir.filePath("user");
        options.port = line.port;
        options.clock = line.clock;
        options.exitProcess = [] {};
        options.fastReplies = option;
        TForm1 w(options);
        ScriptedSeam seam;
        w.setSeam(&seam);
        widget<QLineEdit>(w, "Edit1")->setText("controller");
        widget<QCheckBox>(w, "Last10")->click();
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(seam.messages,
                 file.contains("bogus")
                     ? QStringList{QDir::toNativeSeparators(settings) + ": [link] fast=bogus: neither true nor false"}
                     : QStringList{});

        const auto& written = line.port->writtenAt();
        if (spoilt && !file.contains("retries=1")) {
            QCOMPARE(memoLines(w), (QStringList{"N=3", "OK=3"}));
            QCOMPARE(written.size(), std::size_t{3});
            QVERIFY(!widget<QLabel>(w, "Label5")->isHidden());
            return;
        }
        QCOMPARE(memoLines(w), (QStringList{"N=3", "OK=3", slotLine(0), slotLine(1), slotLine(2)}));
        QCOMPARE(written.size(), std::size_t{spoilt ? 6u : 5u});
        if (spoilt)
            QCOMPARE(written[2].bytes, written[3].bytes); // the same request again
        for (std::size_t i = 1; i < written.size(); ++i)
            QCOMPARE(written[i].at - written[i - 1].at, std::chrono::milliseconds(spacing));
        w.FormClose();
        QCOMPARE(ReadSettings(settings).fastText == QLatin1String("true"), file.contains("fast=true"));
    }

    // "--trace FILE": three questions, ten record requests and their thirteen
    // replies, each a JSON object with its exact bytes, in the order they passed.
    void traceOfATenRecordDownload()
    {
        Bench b;
        QVERIFY(b.start());
        b.ring(2000, 25, 25);
        TForm1& w = b.form();
        widget<QCheckBox>(w, "Max")->setChecked(true);
        b.tick(widget<QCheckBox>(w, "Last10"));
        JsonLinesTrace trace;
        QVERIFY(trace.open(b.path("trace.jsonl"), w.session().link.frameLog()));
        press(widget<QPushButton>(w, "ButContLog"));

        const QList<QByteArray> lines = readFile(b.path("trace.jsonl")).trimmed().split('\n');
        QCOMPARE(lines.size(), 26);
        QList<QByteArray> expected; // request, reply, request, ...
        for (const sim::LoggedFrame& frame : b.line.frames())
            expected << frame.bytes;
        QCOMPARE(expected.size(), 26);
        QCOMPARE(expected[0].toHex(' ').toUpper(), QByteArray("05 64 08 00 46 F7 1D 06 00 00 00 00 8B 96"));
        QCOMPARE(expected[6].toHex(' ').toUpper(),
                 QByteArray("05 64 08 00 46 F7 1A 06 0F 00 01 00 88 A5")); // record 15
        for (int i = 0; i < lines.size(); ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            const bool sent = i % 2 == 0;
            QCOMPARE(o.value("link").toString(), QStringLiteral("register"));
            QCOMPARE(o.value("dir").toString(), sent ? QStringLiteral("tx") : QStringLiteral("rx"));
            QCOMPARE(o.value("hex").toString(), QString::fromLatin1(expected[i].toHex(' ').toUpper()));
            QCOMPARE(o.value("len").toInt(), expected[i].size());
            QCOMPARE(o.value("verdict").toString(), sent ? QString() : QStringLiteral("ok"));
            QVERIFY(QDateTime::fromString(o.value("t").toString(), Qt::ISODateWithMs).isValid());
        }

        // A failed exchange leaves its verdict: the next download's first question is unanswered.
        b.fault(sim::FaultKind::Silence, sim::FaultTarget::any(), 1);
        press(widget<QPushButton>(w, "ButContLog"));
        const QJsonObject failed
            = QJsonDocument::fromJson(readFile(b.path("trace.jsonl")).split('\n').value(27)).object();
        QCOMPARE(failed.value("dir").toString(), QStringLiteral("rx"));
        QCOMPARE(failed.value("verdict").toString(), QStringLiteral("no reply"));
    }

    // The same download over a pseudo-terminal with the real port and the system's
    // timings, replies paced at 38400 baud: requests at least the idle gap apart.
    void downloadOverAPseudoTerminal()
    {
        SimWindow b(LinkTiming{});
        SKIP_UNLESS_STARTED(b.start(false));
        b.state([](sim::ControllerState& s) {
            s.eventLog.reset(2000);
            for (int i = 0; i < 3; ++i)
                s.eventLog.appendText(slotRecord(i));
        });
        b.sim.setLineSettings(
            {38400, std::chrono::milliseconds(8), std::chrono::milliseconds(0), std::chrono::milliseconds(100)});
        TForm1& w = b.form();
        widget<QCheckBox>(w, "Last10")->click();
        press(widget<QPushButton>(w, "ButContLog"));
        QCOMPARE(memoLines(w), (QStringList{"N=3", "OK=3", slotLine(0), slotLine(1), slotLine(2)}));
        const auto frames = b.sim.frames();
        std::vector<sim::SimClock::time_point> sent;
        for (const auto& f : frames)
            if (f.direction == sim::Direction::Received)
                sent.push_back(f.firstByte);
        QCOMPARE(sent.size(), std::size_t{5});
        for (std::size_t i = 1; i < sent.size(); ++i)
            QVERIFY(sent[i] - sent[i - 1] >= 60ms);
    }

    // The controller of "tessavin --demo" answers, where this system runs it (on
    // a pseudo-terminal, or inside the program where there are none), and so
    // does the one inside the program everywhere: LOG reads its newest ten records.
    void theDemoControllerAnswersALog_data()
    {
        QTest::addColumn<bool>("insideTheProgram");
        QTest::newRow("the demo") << false;
        QTest::newRow("inside the program") << true;
    }
    void theDemoControllerAnswersALog()
    {
        QFETCH(bool, insideTheProgram);
        Demo demo;
        AppOptions options;
        demo.prepare(options);
        if (insideTheProgram)
            options.port = std::make_shared<sim::LiveLine>();
        WindowFixture f(options);
        TForm1& w = *f.form1;
        if (insideTheProgram)
            widget<QLineEdit>(w, "Edit1")->setText(QStringLiteral("demo"));
        else
            SKIP_UNLESS_STARTED(demo.attach(w, nullptr));
        press(widget<QPushButton>(w, "OpenCom"));
        widget<QCheckBox>(w, "Last10")->click();
        press(widget<QPushButton>(w, "ButContLog"));
        const QStringList lines = widget<QPlainTextEdit>(w, "Memo1")->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 2), (QStringList{"N=150", "OK=150"}));
        QVERIFY2(lines.value(2).contains(" #141 ") && lines.last().contains(" #150 "), qPrintable(lines.join('\n')));
    }
};

QTEST_MAIN(LogDownloadTest)
#include "tst_log_download.moc"
