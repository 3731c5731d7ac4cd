// The configuration-link handlers in the real window against the emulated
// controller over a pseudo-terminal: status query, Set test, Reboot, Upload,
// Upload Test Config, Down test, Open cfg and Save cfg, with their messages, the
// Activity label, the Diagnostic memo, Memo and the files.
#include "config_link.h"
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

using namespace tessavin;
using tessavin::test::hex;
using tessavin::test::letters;
using tessavin::test::readFile;
using tessavin::test::writeFile;
using namespace std::chrono_literals;

namespace {

// Records what the Activity label showed when each message box came up.
struct WatchingSeam : test::ScriptedSeam {
    QLabel* label = nullptr;
    QStringList labelAtMessage;
    void showMessage(QWidget* parent, const QString& text) override
    {
        labelAtMessage << label->text();
        ScriptedSeam::showMessage(parent, text);
    }
};

struct Bench : test::SimWindow {
    explicit Bench(LinkTiming timing = test::quickTiming()) : SimWindow(timing)
    {
        seam.label = form().Label;
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

#define START_OR_SKIP(bench) SKIP_UNLESS_STARTED((bench).start())

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

} // namespace

class TestConfigWindow : public QObject {
    Q_OBJECT
private slots:
    // ---- device control commands ----

    // The status query (through its Ctrl+T shortcut: it has no control in the
    // window) and Set test: message, frame, trace, and the label's marks.
    void commands_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        QTest::newRow("status 01 00") << "" << 0 << false << kStatusFrame << "       OK";
        QTest::newRow("status 01 01") << "" << 1 << false << kStatusFrame << "   NOT OK = bad json";
        QTest::newRow("status 01 02") << "" << 2 << false << kStatusFrame << "   NOT OK = no memory";
        QTest::newRow("status 01 03") << "" << 3 << false << kStatusFrame << "   NOT OK = no file";
        QTest::newRow("status 01 07") << "" << 7 << false << kStatusFrame << "   NOT OK = ";
        QTest::newRow("status, silence") << "" << 0 << true << kStatusFrame << "      NOT OK = -1";
        QTest::newRow("Set test") << "Set_TestClick" << 0 << false << kSetTestFrame << kOk;
        QTest::newRow("Set test, silence") << "Set_TestClick" << 0 << true << kSetTestFrame << kCommandFailed;
    }
    void commands()
    {
        QFETCH(QString, handler);
        QFETCH(int, status);
        QFETCH(bool, silent);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        Bench b;
        START_OR_SKIP(b);
        b.state([&](sim::ControllerState& s) { s.statusCode = status; });
        if (silent)
            b.fault(sim::FaultKind::Silence);
        b.form().Label->setText(QStringLiteral(" .  + "));
        if (handler.isEmpty()) {
            auto* shortcut = b.form().findChild<QShortcut*>(QStringLiteral("StatusQueryShortcut"));
            QVERIFY(shortcut);
            QCOMPARE(shortcut->key(), QKeySequence(QStringLiteral("Ctrl+T")));
            emit shortcut->activated();
        } else {
            QVERIFY(QMetaObject::invokeMethod(&b.form(), handler.toLatin1().constData()));
            QVERIFY(b.sim.stateSnapshot().testMode); // a lost reply does not undo it
        }
        QCOMPARE(b.seam.messages, QStringList{message});
        QCOMPARE(b.received(), QList<QByteArray>{frame});
        // While the message is up the label shows this command's marks only.
        QCOMPARE(b.seam.labelAtMessage, QStringList{silent ? " . " : " .  + "});
        QCOMPARE(b.form().Label->text(), QString());
        QCOMPARE(b.diagnostic(), traced(frame, silent ? QByteArray() : sim::ConfigReply(std::uint8_t(status))));
        QVERIFY(!b.form().ok->isHidden());
    }

    // Answered or not, the port is closed after a reboot. A silent controller is
    // waited for with the system's own first-byte rule: 201 rounds of 10 + 55 ms.
    void reboot_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answered") << false;
        QTest::newRow("silent, default timing") << true;
    }
    void reboot()
    {
        QFETCH(bool, silent);
        Bench b(silent ? LinkTiming{} : test::quickTiming());
        START_OR_SKIP(b);
        if (silent)
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configCommand(cfg::kReboot));
        QElapsedTimer timer;
        timer.start();
        b.form().BuRebootClick();
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(b.seam.messages, QStringList{silent ? kCommandFailed : kOk});
        QCOMPARE(b.sim.stateSnapshot().rebootCount, 1);
        if (silent) {
            QCOMPARE(b.form().session().link.lastFirstByteRounds(), 201);
            QVERIFY2(elapsed >= 201 * 65 - 500, qPrintable(QString::number(elapsed)));
            QCOMPARE(b.diagnostic().last(), QStringLiteral("bool Send, ReadBuf=0 0 0"));
        }
        QVERIFY(!b.form().session().link.isOpen());
        QVERIFY(b.form().ok->isHidden());
        QCOMPARE(b.form().Label->text(), QString());
        b.form().Set_TestClick();
        QCOMPARE(b.seam.messages.last(), kNoPort);
        QCOMPARE(b.received(), QList<QByteArray>{kRebootFrame});
    }

    // A command pressed while another waits for its reply does nothing.
    void commandDuringExchange()
    {
        LinkTiming timing = test::quickTiming();
        timing.firstByteTries = 20;
        Bench b(timing);
        START_OR_SKIP(b);
        auto line = b.sim.lineSettings();
        line.turnaround = 150ms;
        b.sim.setLineSettings(line);
        QTimer::singleShot(40, &b.form(), [&b] { b.form().Set_Test->click(); });
        emit b.form().findChild<QShortcut*>(QStringLiteral("StatusQueryShortcut"))->activated(); // Ctrl+T
        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(b.received(), QList<QByteArray>{kStatusFrame});
        QCOMPARE(b.sim.stateSnapshot().setTestCount, 0);
    }

    // ---- uploads ----

    // 237 bytes come in chunks of 100, 100, 37 and 0: the exact requests, every
    // trace line, Memo, and the label's marks of all five exchanges.
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
        START_OR_SKIP(b);
        const QByteArray config = "{\n  \"name\": \"" + letters(237 - 17) + "\"\n}\n";
        b.state([&](sim::ControllerState& s) { (testConfig ? s.testConfiguration : s.configuration) = config; });
        b.form().Memo->setPlainText(QStringLiteral("old text"));
        testConfig ? b.form().Upl_testClick() : b.form().UplClick();

        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(b.form().Memo->toPlainText(), QString::fromLatin1(config));
        const QByteArray command = testConfig ? hex("05 64 03 0B 01 06 00 00 00 18 89 C0")
                                              : hex("05 64 03 0B 01 06 00 00 00 3D 48 1B");
        const QList<QByteArray> chunkRequests{hex("05 64 03 0B 01 11 00 00 00 01 00 09 11"),
                                              hex("05 64 03 0B 01 11 00 64 00 01 00 16 21"),
                                              hex("05 64 03 0B 01 11 00 C8 00 01 00 37 71"),
                                              hex("05 64 03 0B 01 11 00 ED 00 01 00 3C 7D")};
        QCOMPARE(b.received(), QList<QByteArray>{command} + chunkRequests);
        QStringList expected = traced(command, kControllerOk);
        const int offsets[] = {0, 100, 200, 237};
        for (int i = 0; i < 4; ++i) {
            expected << "Comm ->(9) " + QString::fromLatin1(chunkRequests[i].mid(4).toHex().toUpper());
            const int n = i < 3 ? std::min(100, 237 - offsets[i]) : 0;
            expected += traced(chunkRequests[i], sim::ConfigReply(0, config.mid(offsets[i], n)));
            if (i < 3)
                expected << QStringLiteral("Upload ->(%1) ").arg(offsets[i + 1]) << "UP_NEXT ->(17) ";
        }
        QCOMPARE(b.diagnostic(), expected);
        QCOMPARE(b.seam.labelAtMessage, QStringList{QStringLiteral(" .  + ").repeated(5)});
        QCOMPARE(b.form().Label->text(), QString());
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
        START_OR_SKIP(b);
        b.form().Memo->setPlainText(QString::fromLatin1(bytes));
        b.form().Down_testClick();
        QCOMPARE(b.seam.messages, QStringList{kOk});
        QCOMPARE(b.sim.stateSnapshot().configuration, bytes);
        QCOMPARE(b.form().Memo->toPlainText(), QString::fromLatin1(bytes));
        QCOMPARE(b.received(), QList<QByteArray>{kStartFrame} + dataFrames + QList<QByteArray>{kStopFrame});
        QStringList expected = traced(kStartFrame, kControllerOk) << "Command START Send ok";
        for (int i = 0; i < dataFrames.size(); ++i) {
            const QByteArray& frame = dataFrames[i];
            const int n = int(frame.size()) - 12;
            expected << QStringLiteral("DOWN_NEXT   adr=%1 n=%2").arg(40 * i).arg(n)
                     << QStringLiteral("Comm ->(%1) ").arg(n + 8) + QString::fromLatin1(frame.mid(4).toHex(' ').toUpper()) + ' '
                     << QStringLiteral("Command NEXT Send length = %1").arg(n + 12);
            expected += traced(frame, kControllerOk) << "Command NEXT Send ok";
        }
        expected += traced(kStopFrame, kControllerOk) << "Command STOP Send ok!!!";
        QCOMPARE(b.diagnostic(), expected);
        QCOMPARE(b.form().Label->text(), QString());
    }

    // ---- failures ----

    // Commands and transfers that fail or are refused: the message, what reached
    // the controller, the last trace line, Memo (an upload empties it first), the
    // Activity label empty again, and no configuration stored.
    void failures_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("lastTrace"); // empty: nothing traced
        for (const char* name : {"TestClick", "Set_TestClick", "BuRebootClick", "UplClick", "Upl_testClick", "Down_testClick"})
            QTest::addRow("%s, no port", name) << name << "no port" << kNoPort << 0 << "";
        QTest::newRow("Upload, command silent") << "UplClick" << "command silent" << kTransferFailed << 1
                                                << "bool Send, ReadBuf=0 0 0";
        QTest::newRow("Upload, first chunk 01 00") << "UplClick" << "first chunk 01 00" << kTransferFailed << 2
                                                   << "bool Send, ReadBuf=2 1 0";
        // 196 chunks of 255 bytes arrive; the 197th (20 bytes) would go past 49,999.
        QTest::newRow("Upload, 50,000 bytes") << "UplClick" << "too large" << kTransferFailed << 1 + 197
                                              << "Upload ->(50000) does not fit 49999 bytes";
        QTest::newRow("Down test, empty Memo") << "Down_testClick" << "" << kTransferFailed << 0 << "";
        QTest::newRow("Down test, 50,000 bytes") << "Down_testClick" << "large Memo"
                                                 << "Too large: 50000 bytes; a configuration holds at most 49999 bytes."
                                                 << 0 << "";
        QTest::newRow("Down test, NEXT silent: no STOP") << "Down_testClick" << "NEXT silent" << kTransferFailed << 2
                                                         << "Command NEXT Send not ok";
    }
    void failures()
    {
        QFETCH(QString, handler);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(int, frames);
        QFETCH(QString, lastTrace);
        LinkTiming timing = test::quickTiming();
        timing.idleGap = 5ms; // the too-large upload takes 198 exchanges
        Bench b(timing);
        START_OR_SKIP(b);
        const QByteArray stored = b.sim.stateSnapshot().configuration;
        const QString memo = setup.isEmpty()              ? QString()
                             : setup == "large Memo"      ? QString::fromLatin1(letters(50000))
                             : setup == "NEXT silent"     ? QString::fromLatin1(letters(41))
                                                          : QStringLiteral("{\"kept\": true}");
        b.form().Memo->setPlainText(memo);
        if (setup == "no port")
            b.form().Button7Click(); // Close
        else if (setup == "command silent")
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configCommand(cfg::kUploadConfig));
        else if (setup == "first chunk 01 00")
            b.fault(sim::FaultKind::Truncated, sim::FaultTarget::configFunction(cfg::kFunctionRead), -1, 2);
        else if (setup == "NEXT silent")
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::configFunction(cfg::kFunctionWrite));
        else if (setup == "too large")
            b.state([](sim::ControllerState& s) {
                s.configuration = letters(50000);
                s.chunkSize = 255;
            });
        b.form().Label->setText(QStringLiteral(" . "));
        QVERIFY(QMetaObject::invokeMethod(&b.form(), handler.toLatin1().constData()));

        QCOMPARE(b.seam.messages, QStringList{message});
        if (frames == 0) {
            QCOMPARE(b.seam.labelAtMessage, QStringList{QString()});
            QTest::qWait(50);
        }
        QCOMPARE(b.received().size(), frames);
        QCOMPARE(b.diagnostic().value(b.diagnostic().size() - 1), lastTrace);
        QCOMPARE(b.form().Memo->toPlainText(), handler.startsWith(QLatin1String("Upl")) ? QString() : memo);
        QCOMPARE(b.form().Label->text(), QString());
        if (setup != "too large")
            QCOMPARE(b.sim.stateSnapshot().configuration, stored);
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
        QTest::newRow("Windows-1251 no-break space, 98") << QByteArray("a\xA0\x98\x62\r") << QByteArray("a\xA0\x98\x62\r\n")
                                                         << QString::fromUtf8("a\u00A0\u0098b\n");
        QTest::newRow("UTF-8 byte order mark") << QByteArray("\xEF\xBB\xBF{}") << QByteArray("\xEF\xBB\xBF{}")
                                               << QString(QChar(0xFEFF)) + "{}";
    }
    void openSaveRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        QFETCH(QString, shown);
        Bench b;
        const QString in = b.path("in.cfg");
        const QString out = b.path("out.cfg");
        QVERIFY(writeFile(in, file));
        b.seam.openAnswers << in;
        b.seam.saveAnswers << out << in;
        b.form().OpeClick();
        QCOMPARE(b.seam.lastOpenSuffix, QStringLiteral("json"));
        QCOMPARE(b.seam.lastFilter, QStringLiteral("cfg|*.cfg"));
        QCOMPARE(b.form().windowTitle(), in);
        // The memo's own text, no-break spaces included.
        QCOMPARE(b.form().Memo->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')), shown);
        QCOMPARE(b.form().session().transfer.length, file.size());
        QCOMPARE(readFile(in), file);
        b.form().SavClick();
        QCOMPARE(b.seam.lastSaveSuffix, QStringLiteral("json"));
        QCOMPARE(readFile(out), saved);
        QCOMPARE(b.form().session().transfer.length, saved.size());
        // Saving over the file it came from rewrites it the same way.
        b.form().SavClick();
        QCOMPARE(readFile(in), saved);
        QVERIFY(b.seam.messages.isEmpty());
        QCOMPARE(b.form().windowTitle(), in);
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
        // Memo and the Transfer buffer hold an earlier configuration.
        const QString earlier = b.path("earlier.cfg");
        QVERIFY(writeFile(earlier, "{\"earlier\": 1}"));
        b.seam.openAnswers << earlier;
        b.form().OpeClick();
        QCOMPARE(b.form().Memo->toPlainText(), QStringLiteral("{\"earlier\": 1}"));

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
                QSKIP("this process can write a read-only file here");
        }
        b.seam.openAnswers << path;
        b.form().OpeClick();
        QCOMPARE(b.form().windowTitle(), path);
        QCOMPARE(b.form().Memo->toPlainText(), kind == QLatin1String("zero") ? QStringLiteral("{\"a\"") : QString());
        QVERIFY(QFile::exists(path));
        QCOMPARE(readFile(path), content);
        QCOMPARE(b.seam.messages, kind == QLatin1String("large")
                                      ? QStringList{"Too large: 50000 bytes; a configuration holds at most 49999 bytes."}
                                      : QStringList());
    }

    void cancelledDialogs()
    {
        Bench b;
        b.form().Memo->setPlainText(QStringLiteral("kept"));
        const QString title = b.form().windowTitle();
        b.form().OpeClick();
        b.form().SavClick();
        QCOMPARE(b.seam.openCount, 1);
        QCOMPARE(b.seam.saveCount, 1);
        QCOMPARE(b.form().windowTitle(), title);
        QCOMPARE(b.form().Memo->toPlainText(), QStringLiteral("kept"));
    }

    // Text keeps the encoding it came in while it is edited; text typed into an
    // emptied Memo is UTF-8.
    void encodingOfEditedText()
    {
        Bench b;
        QVERIFY(writeFile(b.path("in.cfg"), "\xE8\xEC\xFF"));
        b.seam.openAnswers << b.path("in.cfg");
        b.seam.saveAnswers << b.path("edited.cfg") << b.path("typed.cfg");
        b.form().OpeClick();
        b.form().Memo->moveCursor(QTextCursor::End);
        b.form().Memo->insertPlainText(QStringLiteral("\nдатчик"));
        b.form().SavClick();
        QCOMPARE(readFile(b.path("edited.cfg")), QByteArray("\xE8\xEC\xFF\r\n\xE4\xE0\xF2\xF7\xE8\xEA"));
        b.form().Button1Click(); // Clear
        b.form().Memo->insertPlainText(QStringLiteral("имя"));
        b.form().SavClick();
        QCOMPARE(readFile(b.path("typed.cfg")), QByteArray("имя"));
    }

    // An upload is shown and saved like a file: Windows-1251 stays Windows-1251,
    // and the download sends the same bytes back, lines ending in CR LF.
    void uploadSaveDownloadWindows1251()
    {
        Bench b;
        START_OR_SKIP(b);
        const QByteArray config("{\"\xE8\xEC\xFF\": 1}\r\n");
        b.state([&](sim::ControllerState& s) { s.configuration = config; });
        b.form().UplClick();
        QCOMPARE(b.form().Memo->toPlainText(), QString::fromUtf8("{\"имя\": 1}\n"));
        b.seam.saveAnswers << b.path("out.cfg");
        b.form().SavClick();
        QCOMPARE(readFile(b.path("out.cfg")), config);
        b.state([&](sim::ControllerState& s) { s.configuration.clear(); });
        b.form().Down_testClick();
        QCOMPARE(b.seam.messages, (QStringList{kOk, kOk}));
        QCOMPARE(b.sim.stateSnapshot().configuration, config);
    }
};

QTEST_MAIN(TestConfigWindow)
#include "tst_config_window.moc"
