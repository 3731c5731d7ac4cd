// The configuration-link handlers in the real window against the emulated
// controller in memory, on a virtual clock with the system's timings: status
// query, Set test, Reboot, Upload, Upload Test Config, Down test, Open cfg and
// Save cfg, reached through their buttons (the status query through Ctrl+T, Down
// test through its slot), with their messages, the time they take, the Activity
// label, the Diagnostic memo, Memo and the files; one upload over a
// pseudo-terminal in real time.
#include "app/config_diff_dialog.h"
#include "protocol/config_link.h"
#include "tests/support/window_fixture.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QDir>
#include <QShortcut>
#include <QTest>
#include <QTextDocument>

#include <utility>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

using namespace tessavin;
using tessavin::test::hex;
using tessavin::test::letters;
using tessavin::test::press;
using tessavin::test::readFile;
using tessavin::test::widget;
using tessavin::test::writeFile;
using namespace std::chrono_literals;

namespace {

// Records what the Activity label showed when each message box came up.
struct WatchingSeam : test::ScriptedSeam {
    QLabel* label = nullptr;
    QStringList labelAtMessage;
    void showMessage(QWidget* parent, const QString& text, const QString& details) override
    {
        labelAtMessage << label->text();
        ScriptedSeam::showMessage(parent, text, details);
    }
};

// The window on either line, the Activity label watched at every message.
template <typename Window>
struct BenchOn : Window {
    using Window::f;
    using Window::form;
    template <typename... Args>
    explicit BenchOn(Args&&... args) : Window(std::forward<Args>(args)...)
    {
        seam.label = widget<QLabel>(form(), "Label");
        form().setSeam(&seam);
    }
    WatchingSeam seam;

    // The trace lines of the Diagnostic memo, after its first line (the version).
    QStringList diagnostic() const
    {
        const QString text = f.form2->Memo->toPlainText().section(QLatin1Char('\n'), 1);
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
};
// The controller in memory, on a virtual clock, at the system's timings.
using Bench = BenchOn<test::MemoryWindow>;
// The controller on a pseudo-terminal, in real time.
using PtyBench = BenchOn<test::SimWindow>;

// Makes a file that this process cannot open for writing: read-only permissions,
// and where they do not stop this process (it runs as root), the immutable flag.
class UnwritableFile {
public:
    explicit UnwritableFile(const QString& path) : path_(path)
    {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
#ifdef __linux__
        if (!unwritable())
            immutable_ = setImmutable(true);
#endif
    }
    ~UnwritableFile()
    {
#ifdef __linux__
        if (immutable_)
            setImmutable(false);
#endif
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    bool unwritable() const { return !QFile(path_).open(QIODevice::ReadWrite); }

private:
#ifdef __linux__
    bool setImmutable(bool on) const
    {
        const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            ::close(fd);
        return done;
    }
    bool immutable_ = false;
#endif
    QString path_;
};

// The three trace lines of one transaction: its length, the whole frame in hex,
// and the reply's length and first two bytes.
QStringList traced(const QByteArray& frame, const QByteArray& reply)
{
    const auto byte = [&](int i) { return i < reply.size() ? static_cast<std::uint8_t>(reply[i]) : 0; };
    return {QStringLiteral("bool Send =%1").arg(frame.size()), QString::fromLatin1(frame.toHex(' ').toUpper()) + ' ',
            QStringLiteral("bool Send, ReadBuf=%1 %2 %3").arg(reply.size()).arg(byte(0)).arg(byte(1))};
}

const QByteArray kStatusFrame = hex("05 64 03 0B 01 06 00 00 00 37 C8 1C");
const QByteArray kSetTestFrame = hex("05 64 03 0B 01 06 00 00 00 36 09 DC");
const QByteArray kRebootFrame = hex("05 64 03 0B 01 06 00 00 00 63 C9 E3");
const QByteArray kStartFrame = hex("05 64 03 0B 01 06 00 00 00 15 48 05");
const QByteArray kStopFrame = hex("05 64 03 0B 01 06 00 00 00 17 C9 C4");
const QByteArray kControllerOk = sim::ConfigReply(0);

const QString kOk = QStringLiteral("       OK");
const QString kNoPort = QStringLiteral("       COM?");
const QString kTransferFailed = QStringLiteral("      NOT OK");
const QString kCommandFailed = QStringLiteral("      NOT OK ");

// Reaches a command as a person does: the status query through its Ctrl+T
// shortcut, a button by pressing it, Down test (no control) through its slot.
void run(TForm1& w, const QString& control)
{
    if (control == QLatin1String("Ctrl+T")) {
        auto* shortcut = w.findChild<QShortcut*>(QStringLiteral("StatusQueryShortcut"));
        QVERIFY(shortcut);
        QCOMPARE(shortcut->key(), QKeySequence(QStringLiteral("Ctrl+T")));
        emit shortcut->activated();
    } else if (auto* button = w.findChild<QPushButton*>(control)) {
        press(button);
    } else {
        QVERIFY2(QMetaObject::invokeMethod(&w, control.toLatin1().constData()), qPrintable(control));
    }
}

// The exchanges of a 237-byte upload, whose chunks come as 100, 100, 37 and 0
// bytes: the frames the controller receives and every trace line.
struct UploadExchanges {
    QList<QByteArray> frames;
    QStringList trace;
};
UploadExchanges upload237(bool testConfig, const QByteArray& config)
{
    const QByteArray command = testConfig ? hex("05 64 03 0B 01 06 00 00 00 18 89 C0")
                                          : hex("05 64 03 0B 01 06 00 00 00 3D 48 1B");
    const QList<QByteArray> chunkRequests{
        hex("05 64 03 0B 01 11 00 00 00 01 00 09 11"), hex("05 64 03 0B 01 11 00 64 00 01 00 16 21"),
        hex("05 64 03 0B 01 11 00 C8 00 01 00 37 71"), hex("05 64 03 0B 01 11 00 ED 00 01 00 3C 7D")};
    UploadExchanges out{QList<QByteArray>{command} + chunkRequests, traced(command, kControllerOk)};
    const int offsets[] = {0, 100, 200, 237};
    for (int i = 0; i < 4; ++i) {
        out.trace << "Comm ->(9) " + QString::fromLatin1(chunkRequests[i].mid(4).toHex().toUpper());
        const int n = i < 3 ? std::min(100, 237 - offsets[i]) : 0;
        out.trace += traced(chunkRequests[i], sim::ConfigReply(0, config.mid(offsets[i], n)));
        if (i < 3)
            out.trace << QStringLiteral("Upload ->(%1) ").arg(offsets[i + 1]) << "UP_NEXT ->(17) ";
    }
    return out;
}
const QByteArray kConfig237 = "{\n  \"name\": \"" + letters(237 - 17) + "\"\n}\n";

// When each frame was written, in virtual milliseconds.
QList<qint64> writeTimes(const Bench& b)
{
    QList<qint64> out;
    for (const MemoryPort::Written& w : b.line.port->writtenAt())
        out << w.at.count();
    return out;
}

} // namespace

class TestConfigWindow : public QObject {
    Q_OBJECT
private slots:
    // ---- device control commands ----

    // The status query (Ctrl+T: it has no control in the window) and Set test:
    // message, frame, trace, the label's marks, and the time taken at the system's
    // timings: a reply seen after the 10 ms first-byte pause ends with the 60 ms
    // idle gap; silence lasts 201 first-byte rounds of 10 + 55 ms.
    void commands_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        QTest::newRow("status 01 00") << "Ctrl+T" << 0 << false << kStatusFrame << "       OK";
        QTest::newRow("status 01 01") << "Ctrl+T" << 1 << false << kStatusFrame << "   NOT OK = bad json";
        QTest::newRow("status 01 02") << "Ctrl+T" << 2 << false << kStatusFrame << "   NOT OK = no memory";
        QTest::newRow("status 01 03") << "Ctrl+T" << 3 << false << kStatusFrame << "   NOT OK = no file";
        // A status the controller does not define is a damaged reply: a failed query.
        QTest::newRow("status 01 07") << "Ctrl+T" << 7 << false << kStatusFrame << "      NOT OK = -1";
        QTest::newRow("status, silence") << "Ctrl+T" << 0 << true << kStatusFrame << "      NOT OK = -1";
        QTest::newRow("Set test") << "Set_Test" << 0 << false << kSetTestFrame << kOk;
        QTest::newRow("Set test, silence") << "Set_Test" << 0 << true << kSetTestFrame << kCommandFailed;
    }
    void commands()
    {
        QFETCH(QString, control);
        QFETCH(int, status);
        QFETCH(bool, silent);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        Bench b;
        QVERIFY(b.start());
        b.state([&](sim::ControllerState& s) { s.statusCode = status; });
        if (silent)
            b.fault(sim::FaultKind::Silence);
        widget<QLabel>(b.form(), "Label")->setText(QStringLiteral(" .  + "));
        run(b.form(), control);
        QCOMPARE(b.seam.messages, QStringList{message});
        QCOMPARE(b.received(), QList<QByteArray>{frame});
        QCOMPARE(b.now(), silent ? 13065ms : 70ms);
        QCOMPARE(b.form().session().link.lastFirstByteRounds(), silent ? 201 : 1);
        if (control == QLatin1String("Set_Test"))
            QVERIFY(b.line.controller.state().testMode); // a lost reply does not undo it
        // While the message is up the label shows this command's marks only.
        QCOMPARE(b.seam.labelAtMessage, QStringList{silent ? " . " : " .  + "});
        QCOMPARE(widget<QLabel>(b.form(), "Label")->text(), QString());
        QCOMPARE(b.diagnostic(), traced(frame, silent ? QByteArray() : sim::ConfigReply(std::uint8_t(status))));
        QVERIFY(!widget<QLabel>(b.form(), "ok")->isHidden());
    }

    // Answered or not, the port is closed after a reboot; a silent controller is
    // waited for 13,065 ms, as for any command.
    void reboot_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answered") << false;
        QTest::newRow("silent") << true;
    }
    void reboot()
    {
        QFETCH(bool, silent);
        Bench b;
        QVERIFY(b.start());
        if (silent)
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configCommand(cfg::kReboot));
        TForm1& w = b.form();
        press(widget<QPushButton>(w, "BuReboot"));
        QCOMPARE(b.seam.messages, QStringList{silent ? kCommandFailed : kOk});
        QCOMPARE(b.line.controller.state().rebootCount, 1);
        QCOMPARE(b.now(), silent ? 13065ms : 70ms);
        QCOMPARE(w.session().link.lastFirstByteRounds(), silent ? 201 : 1);
        QCOMPARE(b.diagnostic(), traced(kRebootFrame, silent ? QByteArray() : kControllerOk));
        QVERIFY(!w.session().link.isOpen());
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QCOMPARE(widget<QLabel>(w, "Label")->text(), QString());
        press(widget<QPushButton>(w, "Set_Test"));
        QCOMPARE(b.seam.messages.last(), kNoPort);
        QCOMPARE(b.received(), QList<QByteArray>{kRebootFrame});
    }

    // A command pressed while another waits for its reply does nothing: while a
    // reply comes after 150 ms, every other command control is used, each at its
    // own moment: in the first-byte pauses and waits, and in the idle gap that
    // ends the reply.
    void commandDuringExchange_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("during the status query") << "Ctrl+T" << kStatusFrame;
        QTest::newRow("during Set test") << "Set_Test" << kSetTestFrame;
    }
    void commandDuringExchange()
    {
        QFETCH(QString, first);
        QFETCH(QByteArray, frame);
        Bench b;
        QVERIFY(b.start());
        b.line.turnaround = 150ms;
        TForm1& w = b.form();
        widget<QPlainTextEdit>(w, "Memo")->setPlainText(QStringLiteral("kept"));
        QStringList others{"Ctrl+T", "Set_Test", "BuReboot", "Upl", "Upl_test", "Ope", "Sav", "OpenCom"};
        others.removeOne(first);
        const QList<qint64> moments{5, 30, 70, 100, 135, 155, 200};
        QCOMPARE(others.size(), moments.size());
        QList<qint64> usedAt;
        for (int i = 0; i < others.size(); ++i)
            b.line.clock->at(std::chrono::milliseconds(moments[i]), [&, control = others[i]] {
                usedAt << b.now().count();
                run(w, control);
            });
        run(w, first);

        QCOMPARE(usedAt, moments);
        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(b.received(), QList<QByteArray>{frame});
        // The first byte, due at 150 ms, is taken in the third first-byte round.
        QCOMPARE(b.now(), 150ms + 60ms);
        const sim::ControllerState& s = b.line.controller.state();
        QCOMPARE(s.setTestCount, first == QLatin1String("Set_Test") ? 1 : 0);
        QCOMPARE(s.rebootCount, 0);
        QCOMPARE(b.seam.openCount + b.seam.saveCount, 0);
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(b.line.port->opens(), 1);
        QVERIFY(w.session().link.isOpen());
        QVERIFY(!w.exchangeInProgress());
    }

    // ---- uploads ----

    // 237 bytes come in chunks of 100, 100, 37 and 0: the exact requests, 70 ms
    // apart, every trace line, Memo, and the label's marks of all five exchanges.
    void upload_data()
    {
        QTest::addColumn<bool>("testConfig");
        QTest::newRow("Upload (61)") << false;
        QTest::newRow("Upload Test Config (24)") << true;
    }
    void upload()
    {
        QFETCH(bool, testConfig);
        Bench b;
        QVERIFY(b.start());
        b.state([&](sim::ControllerState& s) { (testConfig ? s.testConfiguration : s.configuration) = kConfig237; });
        widget<QPlainTextEdit>(b.form(), "Memo")->setPlainText(QStringLiteral("old text"));
        press(testConfig ? widget<QPushButton>(b.form(), "Upl_test") : widget<QPushButton>(b.form(), "Upl"));

        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo")->toPlainText(), QString::fromLatin1(kConfig237));
        const UploadExchanges expected = upload237(testConfig, kConfig237);
        QCOMPARE(b.received(), expected.frames);
        QCOMPARE(b.diagnostic(), expected.trace);
        QCOMPARE(writeTimes(b), (QList<qint64>{0, 70, 140, 210, 280}));
        QCOMPARE(b.seam.labelAtMessage, QStringList{QStringLiteral(" .  + ").repeated(5)});
        QCOMPARE(widget<QLabel>(b.form(), "Label")->text(), QString());
    }

    // The same upload over a pseudo-terminal: the real serial port end to end.
    void uploadOverAPseudoTerminal()
    {
        PtyBench b;
        SKIP_UNLESS_STARTED(b.start());
        b.state([](sim::ControllerState& s) { s.configuration = kConfig237; });
        press(widget<QPushButton>(b.form(), "Upl"));
        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo")->toPlainText(), QString::fromLatin1(kConfig237));
        const UploadExchanges expected = upload237(false, kConfig237);
        QCOMPARE(b.received(), expected.frames);
        QCOMPARE(b.diagnostic(), expected.trace);
    }

    // ---- the download ----

    // Memo goes out in 40-byte data frames between START and STOP: the exact
    // frames and every trace line.
    void downTest_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QByteArray>>("dataFrames");
        const QByteArray text = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWX";
        const QByteArray first = hex("05 64 03 0B 01 10 00 00 00 28") + text.left(40) + hex("26 26");
        QTest::newRow("40 bytes") << text.left(40) << QList<QByteArray>{first};
        QTest::newRow("41 bytes") << text << QList<QByteArray>{first, hex("05 64 03 0B 01 10 00 28 00 01 58 00 9A")};
    }
    void downTest()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QByteArray>, dataFrames);
        Bench b;
        QVERIFY(b.start());
        widget<QPlainTextEdit>(b.form(), "Memo")->setPlainText(QString::fromLatin1(bytes));
        b.seam.askAnswers << true; // not JSON: sent once the user says yes
        b.form().Down_testClick();
        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(b.line.controller.state().configuration, bytes);
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo")->toPlainText(), QString::fromLatin1(bytes));
        QCOMPARE(b.received(), QList<QByteArray>{kStartFrame} + dataFrames + QList<QByteArray>{kStopFrame});
        QStringList expected = traced(kStartFrame, kControllerOk) << "Command START Send ok";
        for (int i = 0; i < dataFrames.size(); ++i) {
            const QByteArray& frame = dataFrames[i];
            const int n = int(frame.size()) - 12;
            expected << QStringLiteral("DOWN_NEXT   adr=%1 n=%2").arg(40 * i).arg(n)
                     << QStringLiteral("Comm ->(%1) ").arg(n + 8)
                    + QString::fromLatin1(frame.mid(4).toHex(' ').toUpper()) + ' '
                     << QStringLiteral("Command NEXT Send length = %1").arg(n + 12);
            expected += traced(frame, kControllerOk) << "Command NEXT Send ok";
        }
        expected += traced(kStopFrame, kControllerOk) << "Command STOP Send ok!!!";
        QCOMPARE(b.diagnostic(), expected);
        QCOMPARE(widget<QLabel>(b.form(), "Label")->text(), QString());
    }

    // Memo's text that is not JSON goes only after a yes to a question naming
    // the line and column; JSON goes unasked, exactly as before.
    void downTestAsksForNonJson_data()
    {
        QTest::addColumn<QString>("memo");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("question"); // empty: none asked
        const QString broken = QStringLiteral("{\n  \"a\": 1\n  \"b\": 2\n}");
        const QString asked = QStringLiteral(
            "The configuration is not valid JSON:\nline 3, column 3: missing comma\n\nSend it anyway?");
        QTest::newRow("JSON: sent unasked") << "{\n  \"a\": 1\n}" << false << "";
        QTest::newRow("missing comma, no: nothing sent") << broken << false << asked;
        QTest::newRow("missing comma, yes: sent") << broken << true << asked;
    }
    void downTestAsksForNonJson()
    {
        QFETCH(QString, memo);
        QFETCH(bool, yes);
        QFETCH(QString, question);
        Bench b;
        QVERIFY(b.start());
        const QByteArray stored = b.line.controller.state().configuration;
        widget<QPlainTextEdit>(b.form(), "Memo")->setPlainText(memo);
        b.seam.askAnswers << yes;
        b.form().Down_testClick();
        QCOMPARE(b.seam.questions, question.isEmpty() ? QStringList() : QStringList{question});
        const bool sent = question.isEmpty() || yes;
        QCOMPARE(b.seam.messages, sent ? QStringList{kOk} : QStringList());
        QCOMPARE(b.received().size(), sent ? 3 : 0); // START, one NEXT, STOP
        QCOMPARE(b.line.controller.state().configuration, sent ? memo.toUtf8().replace("\n", "\r\n") : stored);
        QCOMPARE(widget<QLabel>(b.form(), "Label")->text(), QString());
    }

    // "Compare with controller…" closes Memo's context menu, after the standard
    // entries: the controller's configuration against Memo in a dialog, a row a
    // difference, the controller's values red and Memo's green; Memo unchanged.
    void compareWithController()
    {
        Bench b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        b.state([](sim::ControllerState& s) { s.configuration = "{\"baud\": 9600, \"debug\": true}"; });
        const QString memo = QStringLiteral("{\"baud\": 19200, \"alarms\": [1]}");
        widget<QPlainTextEdit>(w, "Memo")->setPlainText(memo);
        const std::unique_ptr<QMenu> menu = w.configMemoMenu();
        const QList<QAction*> actions = menu->actions();
        QVERIFY(actions.size() > 2);
        QCOMPARE(actions.last()->text(), QStringLiteral("Compare with controller…"));
        QStringList rows;
        b.seam.onDialog = [&](QDialog& dialog) {
            const auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("Differences"));
            const auto colour = [](const QTableWidgetItem* item) {
                const QColor c = item->background().color();
                return c == ConfigDiffDialog::kControllerColor ? "red"
                    : c == ConfigDiffDialog::kMemoColor        ? "green"
                                                               : "none";
            };
            for (int r = 0; r < table->rowCount(); ++r)
                rows << QStringList{table->item(r, 0)->text(), table->item(r, 1)->text(), table->item(r, 2)->text(),
                                    colour(table->item(r, 2)), table->item(r, 3)->text(), colour(table->item(r, 3))}
                            .join(QLatin1Char('|'));
        };
        actions.last()->trigger();
        QCOMPARE(rows,
                 (QStringList{"~|/baud|9600|red|19200|green", "+|/alarms||none|[1]|green", "-|/debug|true|red||none"}));
        QCOMPARE(b.seam.messages, QStringList());
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), memo);
    }

    // ---- failures ----

    // With the port closed, every command in turn says so at once: nothing is
    // sent, traced or waited for, and an upload still empties Memo first.
    void noPort()
    {
        Bench b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        press(widget<QPushButton>(w, "Button7")); // Close
        const QString kept = QStringLiteral("{\"kept\": true}");
        QStringList memoAfter;
        for (const char* control : {"Ctrl+T", "Set_Test", "BuReboot", "Upl", "Upl_test", "Down_testClick"}) {
            widget<QPlainTextEdit>(w, "Memo")->setPlainText(kept);
            widget<QLabel>(w, "Label")->setText(QStringLiteral(" . "));
            run(w, QLatin1String(control));
            memoAfter << widget<QPlainTextEdit>(w, "Memo")->toPlainText();
            QCOMPARE(widget<QLabel>(w, "Label")->text(), QString());
        }
        QCOMPARE(b.seam.messages, QStringList(6, kNoPort));
        QCOMPARE(b.seam.labelAtMessage, QStringList(6, QString()));
        QCOMPARE(memoAfter, (QStringList{kept, kept, kept, QString(), QString(), kept}));
        QVERIFY(b.received().isEmpty());
        QCOMPARE(b.now(), 0ms);
        QCOMPARE(b.diagnostic(), QStringList());
    }

    // Transfers that fail or are refused: the message, what reached the
    // controller and how long it took, the last trace line, Memo (an upload
    // empties it first), the Activity label empty again, and no configuration
    // stored.
    void failures_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("took"); // virtual milliseconds
        QTest::addColumn<QString>("lastTrace"); // empty: nothing traced
        QTest::addColumn<QString>("details"); // behind the message's details button
        const QString unconfirmed = QStringLiteral(
            "the controller's answer was damaged (bad checksum); the command may or may not have taken effect");
        QTest::newRow("Upload, command silent")
            << "Upl"
            << "command silent" << kTransferFailed << 1 << 13065 << "bool Send, ReadBuf=0 0 0"
            << "no reply";
        // From a controller that sends checksums, two bytes are a reply cut short.
        QTest::newRow("Upload, first chunk 01 00")
            << "Upl"
            << "first chunk 01 00" << kTransferFailed << 2 << 140 << "bool Send, ReadBuf=2 1 0"
            << "chunk at offset 0: bad checksum";
        // 100 bytes announced, 29 came: a failed upload, nothing of it shown.
        QTest::newRow("Upload, chunk short of its count")
            << "Upl"
            << "short chunk" << kTransferFailed << 2 << 140 << "bool Send, ReadBuf=32 1 0"
            << "chunk at offset 0: reply shorter than its stated length";
        // The command's reply showed the checksum: a chunk whose checksum fails is
        // damaged, and without retries the upload ends there.
        QTest::newRow("Upload, chunk checksum fails")
            << "Upl"
            << "chunk checksum" << kTransferFailed << 2 << 140 << "bool Send, ReadBuf=105 1 0"
            << "chunk at offset 0: bad checksum";
        // 196 chunks of 255 bytes arrive; the 197th (20 bytes) would go past 49,999.
        QTest::newRow("Upload, 50,000 bytes")
            << "Upl"
            << "too large" << kTransferFailed << 1 + 197 << 198 * 70 << "Upload ->(50000) does not fit 49999 bytes"
            << "";
        QTest::newRow("Down test, empty Memo") << "Down_testClick"
                                               << "" << kTransferFailed << 0 << 0 << ""
                                               << "";
        QTest::newRow("Down test, 50,000 bytes")
            << "Down_testClick"
            << "large Memo"
            << "Too large: 50000 bytes; a configuration holds at most 49999 bytes." << 0 << 0 << ""
            << "";
        QTest::newRow("Down test, NEXT silent: no STOP")
            << "Down_testClick"
            << "NEXT silent" << kTransferFailed << 2 << 70 + 13065 << "Command NEXT Send not ok"
            << "";
        QTest::newRow("Down test, NEXT reply damaged: unconfirmed, no STOP")
            << "Down_testClick"
            << "NEXT damaged" << kTransferFailed << 2 << 140 << "Command NEXT Send not ok" << unconfirmed;
        QTest::newRow("Set test, reply damaged: unconfirmed")
            << "Set_Test"
            << "set test damaged" << kCommandFailed << 1 << 70 << "bool Send, ReadBuf=5 1 0" << unconfirmed;
    }
    void failures()
    {
        QFETCH(QString, control);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(int, frames);
        QFETCH(int, took);
        QFETCH(QString, lastTrace);
        QFETCH(QString, details);
        Bench b;
        QVERIFY(b.start());
        const QByteArray stored = b.line.controller.state().configuration;
        const QString memo = setup.isEmpty()                    ? QString()
            : setup == "large Memo"                             ? QString::fromLatin1(letters(50000))
            : setup == "NEXT silent" || setup == "NEXT damaged" ? QString::fromLatin1(letters(41))
                                                                : QStringLiteral("{\"kept\": true}");
        widget<QPlainTextEdit>(b.form(), "Memo")->setPlainText(memo);
        if (setup == "command silent")
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configCommand(cfg::kUploadConfig));
        else if (setup == "first chunk 01 00")
            b.fault(sim::FaultKind::Truncated, sim::FaultTarget::configFunction(cfg::kFunctionRead), -1, 2);
        else if (setup == "short chunk")
            b.fault(sim::FaultKind::Truncated, sim::FaultTarget::configFunction(cfg::kFunctionRead), -1, 3 + 29);
        else if (setup == "NEXT silent")
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configFunction(cfg::kFunctionWrite));
        else if (setup == "NEXT damaged")
            b.fault(sim::FaultKind::BadBodyChecksum, sim::FaultTarget::configFunction(cfg::kFunctionWrite));
        else if (setup == "chunk checksum")
            b.fault(sim::FaultKind::BadBodyChecksum, sim::FaultTarget::configFunction(cfg::kFunctionRead));
        else if (setup == "set test damaged")
            b.fault(sim::FaultKind::BadBodyChecksum, sim::FaultTarget::configCommand(cfg::kSetTestMode));
        else if (setup == "too large")
            b.state([](sim::ControllerState& s) {
                s.configuration = letters(50000);
                s.chunkSize = 255;
            });
        widget<QLabel>(b.form(), "Label")->setText(QStringLiteral(" . "));
        b.seam.askAnswers << true; // a Memo that is not JSON is sent all the same
        run(b.form(), control);

        QCOMPARE(b.seam.messages, QStringList{message});
        QCOMPARE(b.seam.details, QStringList{details});
        if (frames == 0)
            QCOMPARE(b.seam.labelAtMessage, QStringList{QString()});
        QCOMPARE(b.received().size(), frames);
        QCOMPARE(b.now(), std::chrono::milliseconds(took));
        QCOMPARE(b.diagnostic().value(b.diagnostic().size() - 1), lastTrace);
        QCOMPARE(widget<QPlainTextEdit>(b.form(), "Memo")->toPlainText(),
                 control.startsWith(QLatin1String("Upl")) ? QString() : memo);
        QCOMPARE(widget<QLabel>(b.form(), "Label")->text(), QString());
        if (setup != "too large")
            QCOMPARE(b.line.controller.state().configuration, stored);
    }

    // ---- files ----

    void openSaveRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("shown");
        QTest::newRow("LF only") << QByteArray("{\n  \"a\": 1\n}\n") << QByteArray("{\r\n  \"a\": 1\r\n}\r\n")
                                 << "{\n  \"a\": 1\n}\n";
        QTest::newRow("CR LF") << QByteArray("{\r\n}") << QByteArray("{\r\n}") << "{\n}";
        QTest::newRow("UTF-8") << QByteArray("{\"имя\": \"Насос №4\"}\n") << QByteArray("{\"имя\": \"Насос №4\"}\r\n")
                               << QString::fromUtf8("{\"имя\": \"Насос №4\"}\n");
        QTest::newRow("Windows-1251") << QByteArray("{\"\xE8\xEC\xFF\": \"\xCD\xE0\xF1\xEE\xF1 \xB9\x34\"}\n")
                                      << QByteArray("{\"\xE8\xEC\xFF\": \"\xCD\xE0\xF1\xEE\xF1 \xB9\x34\"}\r\n")
                                      << QString::fromUtf8("{\"имя\": \"Насос №4\"}\n");
        QTest::newRow("Windows-1251 no-break space, 98")
            << QByteArray("a\xA0\x98\x62\r") << QByteArray("a\xA0\x98\x62\r\n")
            << QString::fromUtf8("a\u00A0\u0098b\n");
        QTest::newRow("UTF-8 U+FDD0, U+FDD1") << QByteArray("a\xEF\xB7\x90"
                                                            "b\xEF\xB7\x91")
                                              << QByteArray("a\xEF\xB7\x90"
                                                            "b\xEF\xB7\x91")
                                              << "a" + QString(QChar(0xDFD0)) + "b" + QChar(0xDFD1);
        QTest::newRow("UTF-8 byte order mark")
            << QByteArray("\xEF\xBB\xBF{}") << QByteArray("\xEF\xBB\xBF{}") << QString(QChar(0xFEFF)) + "{}";
    }
    void openSaveRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        QFETCH(QString, shown);
        Bench b;
        TForm1& w = b.form();
        const QString in = b.path("in.cfg");
        const QString out = b.path("out.cfg");
        QVERIFY(writeFile(in, file));
        b.seam.openAnswers << in;
        b.seam.saveAnswers << out << in;
        press(widget<QPushButton>(w, "Ope"));
        QCOMPARE(b.seam.lastOpenSuffix, QStringLiteral("json"));
        QCOMPARE(b.seam.lastFilter, QStringLiteral("cfg|*.cfg"));
        QCOMPARE(w.windowTitle(), in);
        // The memo's own text, no-break spaces included.
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->document()->toRawText().replace(QChar::ParagraphSeparator,
                                                                                    QLatin1Char('\n')),
                 shown);
        QCOMPARE(w.session().transfer.length, file.size());
        QCOMPARE(readFile(in), file);
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(b.seam.lastSaveSuffix, QStringLiteral("json"));
        QCOMPARE(readFile(out), saved);
        QCOMPARE(w.session().transfer.length, saved.size());
        // Saving over the file it came from rewrites it the same way.
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(readFile(in), saved);
        QVERIFY(b.seam.messages.isEmpty());
        QCOMPARE(w.windowTitle(), in);
    }

    void openEdgeCases_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing: created empty") << "missing";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("zero byte inside") << "zero";
        QTest::newRow("read-only") << "read-only";
        QTest::newRow("50,000 bytes refused") << "large";
    }
    void openEdgeCases()
    {
        QFETCH(QString, kind);
        Bench b;
        TForm1& w = b.form();
        // Memo and the Transfer buffer hold an earlier configuration.
        const QString earlier = b.path("earlier.cfg");
        QVERIFY(writeFile(earlier, "{\"earlier\": 1}"));
        b.seam.openAnswers << earlier;
        press(widget<QPushButton>(w, "Ope"));
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), QStringLiteral("{\"earlier\": 1}"));

        const QString path = b.path("c.cfg");
        QByteArray content;
        if (kind == QLatin1String("zero"))
            content = QByteArray("{\"a\"\0: 1}", 9);
        else if (kind == QLatin1String("read-only"))
            content = "{\"locked\": 1}";
        else if (kind == QLatin1String("large"))
            content = letters(50000);
        if (kind != QLatin1String("missing"))
            QVERIFY(writeFile(path, content));
        std::optional<UnwritableFile> locked;
        if (kind == QLatin1String("read-only")) {
            locked.emplace(path);
            if (!locked->unwritable())
                QSKIP("[root] this process can write a read-only file here");
        }
        b.seam.openAnswers << path;
        press(widget<QPushButton>(w, "Ope"));
        QCOMPARE(w.windowTitle(), path);
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(),
                 kind == QLatin1String("zero") ? QStringLiteral("{\"a\"") : QString());
        QVERIFY(QFile::exists(path));
        QCOMPARE(readFile(path), content);
        QStringList messages;
        if (kind == QLatin1String("large"))
            messages << "Too large: 50000 bytes; a configuration holds at most 49999 bytes.";
        else if (kind == QLatin1String("zero")) // shown cut, and said to be cut
            messages << QDir::toNativeSeparators(path)
                    + ": a zero byte at offset 4 cuts the text there; save the file as UTF-8";
        QCOMPARE(b.seam.messages, messages);
    }

    // Save cfg that cannot write its file says so, with the path and the reason.
    void saveCfgThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing folder") << "missing/x.json"
                                        << "Cannot create %1: " + test::missingFolderReason();
#ifdef Q_OS_LINUX
        QTest::newRow("full disk") << "/dev/full"
                                   << "Cannot write %1: No space left on device";
#endif
    }
    void saveCfgThatCannotBeWritten()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        Bench b;
        const QString target = path.startsWith('/') ? path : b.path(qPrintable(path));
        widget<QPlainTextEdit>(b.form(), "Memo")->setPlainText(QStringLiteral("{\"a\": 1}"));
        b.seam.saveAnswers << target;
        press(widget<QPushButton>(b.form(), "Sav"));
        QCOMPARE(b.seam.messages, QStringList{message.arg(QDir::toNativeSeparators(target))});
    }

    void cancelledDialogs()
    {
        Bench b;
        TForm1& w = b.form();
        widget<QPlainTextEdit>(w, "Memo")->setPlainText(QStringLiteral("kept"));
        const QString title = w.windowTitle();
        press(widget<QPushButton>(w, "Ope"));
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(b.seam.openCount, 1);
        QCOMPARE(b.seam.saveCount, 1);
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), QStringLiteral("kept"));
    }

    // Text keeps the encoding it came in while it is edited; text typed into an
    // emptied Memo is UTF-8.
    void encodingOfEditedText()
    {
        Bench b;
        TForm1& w = b.form();
        QVERIFY(writeFile(b.path("in.cfg"), "\xE8\xEC\xFF"));
        b.seam.openAnswers << b.path("in.cfg");
        b.seam.saveAnswers << b.path("edited.cfg") << b.path("typed.cfg");
        press(widget<QPushButton>(w, "Ope"));
        widget<QPlainTextEdit>(w, "Memo")->moveCursor(QTextCursor::End);
        widget<QPlainTextEdit>(w, "Memo")->insertPlainText(QStringLiteral("\nдатчик"));
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(readFile(b.path("edited.cfg")), QByteArray("\xE8\xEC\xFF\r\n\xE4\xE0\xF2\xF7\xE8\xEA"));
        press(widget<QPushButton>(w, "Button1")); // Clear
        widget<QPlainTextEdit>(w, "Memo")->insertPlainText(QStringLiteral("имя"));
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(readFile(b.path("typed.cfg")), QByteArray("имя"));
    }

    // An upload is shown and saved like a file: Windows-1251 stays Windows-1251,
    // and the download sends the same bytes back, lines ending in CR LF.
    void uploadSaveDownloadWindows1251()
    {
        Bench b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        const QByteArray config("{\"\xE8\xEC\xFF\": 1}\r\n");
        b.state([&](sim::ControllerState& s) { s.configuration = config; });
        press(widget<QPushButton>(w, "Upl"));
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), QString::fromUtf8("{\"имя\": 1}\n"));
        b.seam.saveAnswers << b.path("out.cfg");
        press(widget<QPushButton>(w, "Sav"));
        QCOMPARE(readFile(b.path("out.cfg")), config);
        b.state([&](sim::ControllerState& s) { s.configuration.clear(); });
        w.Down_testClick();
        QCOMPARE(b.seam.messages, (QStringList{kOk, kOk}));
        QCOMPARE(b.seam.questions, QStringList()); // JSON, though not UTF-8
        QCOMPARE(b.line.controller.state().configuration, config);
    }
};

QTEST_MAIN(TestConfigWindow)
#include "tst_config_window.moc"
