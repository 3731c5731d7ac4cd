// The archive download in the real window against the emulated controller in
// memory, on a virtual clock with the system's timings: the begin step, the slots
// each choice reads, the lines in Memo1 and in the file, the shift to the
// computer's local time, EdVal for one record, and the ends by silence (given up
// after 201 rounds of 10 + 55 ms), short records and impossible stamps. RETRO and
// its begin step have no reachable control: their handlers run as slots. Then
// the chart of the last download, its zoom, pan, hover and saved SVG.
#include "app/chart_window.h"
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QShortcut>
#include <QTest>
#include <QWheelEvent>

#include <chrono>
#include <cstring>

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;

namespace {

QByteArray stamp(int yearByte, int month, int day, int hour, int minute, int second, float value)
{
    QByteArray r(10, '\0');
    const int fields[] = {yearByte, month, day, hour, minute, second};
    for (int i = 0; i < 6; ++i)
        r[i] = static_cast<char>(fields[i]);
    std::memcpy(r.data() + 6, &value, 4); // little-endian, as the controller sends it
    return r;
}

// Whether this process still holds the file open (Linux only; elsewhere: no).
bool heldOpen(const QString& path)
{
#ifdef __linux__
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
#else
    Q_UNUSED(path);
#endif
    return false;
}

// The computer's zone for one test, as a TZ rule that both the POSIX and the
// Windows C library read ("TST-3": three hours east; no zone data needed).
class ZoneForTest {
public:
    explicit ZoneForTest(const QByteArray& rule)
        : rule_(rule)
        , had_(qEnvironmentVariableIsSet("TZ"))
        , saved_(qgetenv("TZ"))
    {
        qputenv("TZ", rule);
    }
    ~ZoneForTest() { had_ ? qputenv("TZ", saved_) : qunsetenv("TZ"); }

    // Whether the computer's clock keeps this zone now (Windows' asks the system
    // and does not read TZ).
    bool inEffect() const
    {
        QString rule = QString::fromLatin1(rule_);
        rule.remove(QRegularExpression(QStringLiteral("^[A-Z]+")));
        const bool east = rule.startsWith(QLatin1Char('-'));
        const QStringList hoursMinutes = rule.remove(QRegularExpression(QStringLiteral("^[-+]"))).split(':');
        const int offset = (hoursMinutes.value(0).toInt() * 3600 + hoursMinutes.value(1).toInt() * 60)
            * (east ? 1 : -1);
        return QDateTime::currentDateTime().offsetFromUtc() == offset;
    }

private:
    QByteArray rule_;
    bool had_;
    QByteArray saved_;
};

#define SKIP_UNLESS_ZONE(zone)                                                                                         \
    do {                                                                                                               \
        if (!(zone).inEffect())                                                                                        \
            QSKIP("[platform] the computer's clock does not take its zone from TZ here");                              \
    } while (false)

struct Bench : MemoryWindow {
    using MemoryWindow::MemoryWindow;
    // The archive's begin, and records by slot.
    void archive(int begin, int defaultRecords = 0, const QList<std::pair<int, QByteArray>>& records = {})
    {
        state([&](sim::ControllerState& s) {
            s.archive.begin = 0;
            s.archive.fillDefault(defaultRecords); // 1 March 2024 from 00:00, hourly
            s.archive.begin = begin;
            for (const auto& [slot, bytes] : records)
                std::copy_n(bytes.constData(), std::min<qsizetype>(bytes.size(), 10),
                            s.archive.records[static_cast<std::size_t>(slot)].data());
        });
    }
    // Ticks one choice box by clicking it (its handler unticks the others); none:
    // the ticked box is clicked off.
    void choose(QCheckBox* box)
    {
        if (!box) {
            for (QCheckBox* b : {widget<QCheckBox>(form(), "Last10"), widget<QCheckBox>(form(), "Last100"),
                                 widget<QCheckBox>(form(), "Last500"), widget<QCheckBox>(form(), "Index"),
                                 widget<QCheckBox>(form(), "ONE")})
                if (b->isChecked())
                    b->click();
            return;
        }
        box->setChecked(false);
        box->click();
    }
    // Saves to `name` when given (Файл clicked on), then RETRO.
    void download(const char* name = nullptr)
    {
        if (name)
            f.seam.saveAnswers << path(name);
        if (widget<QCheckBox>(form(), "chFile")->isChecked() != (name != nullptr))
            widget<QCheckBox>(form(), "chFile")->click();
        form().ButContRetroClick();
    }
    QList<int> indexes() const { return requestedIndexes(received(), reg::kArchiveRecord); }
    // How long ago the last request went out.
    std::chrono::milliseconds sinceLastRequest() const { return now() - line.port->writtenAt().back().at; }
};

// The window on a far end in memory that answers with hand-written replies.
struct PortHolder {
    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>(clock);
};
struct ScriptedWindow : PortHolder, WindowBench {
    ScriptedWindow() : WindowBench(LinkTiming{}, port, clock) { }
};

// No reply: the link gives up after 201 rounds of a 10 ms pause and a 55 ms wait.
constexpr std::chrono::milliseconds kSilence = 201 * (10ms + 55ms);

} // namespace

class TestArchiveWindow : public QObject {
    Q_OBJECT

private slots:
    void beginStep()
    {
        Bench b;
        QVERIFY(b.start());
        b.archive(291);
        widget<QPlainTextEdit>(b.form(), "Memo1")->setPlainText(QStringLiteral("earlier text"));
        b.form().ButBegRetroClick();
        QCOMPARE(b.memo1Lines(), QStringList{"OK=291"});
        QCOMPARE(b.status(), QStringLiteral("OK"));
        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 f7 5b 06 00 00 00 00 85 30")});

        b.fault(sim::FaultKind::Silence, sim::FaultTarget::registerCommand(reg::kArchiveBegin));
        b.form().ButBegRetroClick();
        QCOMPARE(b.memo1Lines(), QStringList{"OK=0"});
        QCOMPARE(b.status(), QStringLiteral("NOT OK"));
        QCOMPARE(b.sinceLastRequest().count(), kSilence.count());
    }

    void slotsOfEachChoice_data()
    {
        QTest::addColumn<int>("begin");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QList<int>>("indexes");

        QTest::newRow("B=10 Last10") << 10 << "Last10"
                                     << "" << range(0, 9);
        QTest::newRow("B=0 Last10") << 0 << "Last10"
                                    << "" << range(990, 999);
        QTest::newRow("B=5 Last10") << 5 << "Last10"
                                    << "" << range(996, 1000) + range(0, 4);
        QTest::newRow("B=5 Index 10") << 5 << "Index"
                                      << "10" << range(995, 1000) + range(0, 3);
    }

    void slotsOfEachChoice()
    {
        QFETCH(int, begin);
        QFETCH(QString, box);
        QFETCH(QString, count);
        QFETCH(QList<int>, indexes);

        Bench b;
        QVERIFY(b.start());
        b.archive(begin, 1001);
        b.choose(b.form().findChild<QCheckBox*>(box));
        if (!count.isEmpty())
            widget<QLineEdit>(b.form(), "Beg")->setText(count);
        b.download();

        QCOMPARE(b.indexes(), indexes);
        const QStringList lines = b.memo1Lines();
        QCOMPARE(lines.size(), indexes.size() + 1);
        QCOMPARE(lines.front(), QStringLiteral("OK=%1").arg(begin));
        for (int i = 0; i < indexes.size(); ++i)
            QCOMPARE(lines[i + 1].left(6), QStringLiteral("%1 ").arg(indexes[i], 5));
        QCOMPARE(widget<QLineEdit>(b.form(), "Edi")->text(), QString::number(indexes.back()));
        QCOMPARE(b.status(), QString()); // ended by count: neither half of the Status pair
    }

    void workedRecordInMemoAndFile()
    {
        ZoneForTest zone("UTC0"); // a computer on UTC
        SKIP_UNLESS_ZONE(zone);
        Bench b;
        QVERIFY(b.start());
        b.archive(8, 0, {{7, hex("180305 0e0709 00004841")}});
        QVERIFY(writeFile(b.path("archive.ret"), "an older, longer file that the download replaces\r\n"));
        b.choose(widget<QCheckBox>(b.form(), "Index"));
        widget<QLineEdit>(b.form(), "Beg")->setText(QStringLiteral("1"));
        b.download("archive.ret");

        QCOMPARE(b.f.seam.lastSaveSuffix, QStringLiteral("ret"));
        QCOMPARE(b.memo1Lines(), (QStringList{"OK=8", "    7 2024:03:05 14:07:09:  12.500"}));
        QCOMPARE(readFile(b.path("archive.ret")), QByteArray("2024:03:05 14:07:09:  12.500\r\n"));
        QVERIFY(!heldOpen(b.path("archive.ret")));
        QCOMPARE(widget<QLineEdit>(b.form(), "Edi")->text(), QStringLiteral("7"));
        QCOMPARE(b.indexes(), QList<int>{7});
    }

    // Dated records move by the computer's real UTC offset, signed, half-hour zones
    // too, across midnight, the year end and the leap day.
    void shiftedToTheComputersZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("line");

        QTest::newRow("3 h east, 31 Dec 2024 23:30")
            << QByteArray("TST-3") << stamp(24, 12, 31, 23, 30, 0, 1.25f) << "    0 2025:01:01 02:30:00:   1.250";
        QTest::newRow("3 h east, 28 Feb 2024 23:00")
            << QByteArray("TST-3") << stamp(24, 2, 28, 23, 0, 0, 1.25f) << "    0 2024:02:29 02:00:00:   1.250";
        QTest::newRow("5 h west, back over the year start")
            << QByteArray("TST5") << stamp(25, 1, 1, 2, 0, 0, -7.9f) << "    0 2024:12:31 21:00:00:  -7.900";
        QTest::newRow("5:30 east, over midnight")
            << QByteArray("TST-5:30") << stamp(24, 3, 5, 18, 45, 10, 0.0f) << "    0 2024:03:06 00:15:10:   0.000";
        QTest::newRow("year byte 0 stays unshifted")
            << QByteArray("TST-3") << stamp(0, 12, 31, 23, 30, 0, 1.25f) << "    0    0:12:31 23:30:00:   1.250";
    }

    void shiftedToTheComputersZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QByteArray, record);
        QFETCH(QString, line);

        ZoneForTest computer(zone);
        SKIP_UNLESS_ZONE(computer);
        Bench b;
        QVERIFY(b.start());
        b.archive(1, 0, {{0, record}});
        b.choose(widget<QCheckBox>(b.form(), "Index"));
        widget<QLineEdit>(b.form(), "Beg")->setText(QStringLiteral("1"));
        b.download();
        QCOMPARE(b.memo1Lines().value(1), line);
    }

    // The third record cannot be shown (an impossible stamp) or does not come:
    // the message, and the two lines before it stay in Memo1 and in the closed file.
    void endsMidway_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QByteArray>("third"); // empty: the controller falls silent
        QTest::addColumn<QString>("message");

        QTest::newRow("hour 24") << QByteArray("UTC0") << stamp(24, 3, 5, 24, 0, 0, 1.0f)
                                 << "Invalid argument to time encode";
        QTest::newRow("31 Feb over midnight")
            << QByteArray("TST-3") << stamp(24, 2, 31, 23, 0, 0, 1.0f) << "Invalid argument to date encode";
        QTest::newRow("silence") << QByteArray("UTC0") << QByteArray() << "";
    }
    void endsMidway()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QByteArray, third);
        QFETCH(QString, message);

        ZoneForTest computer(zone);
        SKIP_UNLESS_ZONE(computer);
        Bench b;
        QVERIFY(b.start());
        b.archive(10, 10, third.isEmpty() ? QList<std::pair<int, QByteArray>>{} : QList{std::pair{2, third}});
        b.choose(widget<QCheckBox>(b.form(), "Last10"));
        QObject watcher;
        connect(widget<QPlainTextEdit>(b.form(), "Memo1"), &QPlainTextEdit::blockCountChanged, &watcher,
                [&](int blocks) {
                    if (blocks == 3 && third.isEmpty())
                        b.fault(sim::FaultKind::Silence, sim::FaultTarget::registerCommand(reg::kArchiveRecord));
                });
        b.download("cut.ret");

        QCOMPARE(b.f.seam.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(b.indexes(), range(0, 2));
        const QStringList lines = b.memo1Lines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith(QStringLiteral("    0 ")));
        QVERIFY(lines[2].startsWith(QStringLiteral("    1 ")));
        const QList<QByteArray> written = readFile(b.path("cut.ret")).split('\n');
        QCOMPARE(written.size(), 3); // two lines and nothing after the last LF
        QCOMPARE(lines[1].mid(6) + QStringLiteral("\r"), QString::fromLatin1(written[0]));
        QVERIFY(!heldOpen(b.path("cut.ret")));
        if (message.isEmpty()) {
            QCOMPARE(b.status(), QStringLiteral("NOT OK"));
            QCOMPARE(b.sinceLastRequest().count(), kSilence.count());
        }
    }

    // A good reply whose payload is shorter than a record is a failed read: no
    // line, no further request.
    void shortRecordIsAFailedRead()
    {
        ScriptedWindow b;
        b.port->script({sim::RegisterReply(reg::kArchiveBegin, 6, hex("05 00")),
                        sim::RegisterReply(reg::kArchiveRecord, 6, hex("18 03 05 0e 07 09 00 00"))});
        TForm1& w = b.form();
        widget<QLineEdit>(w, "Edit1")->setText("controller");
        press(widget<QPushButton>(w, "OpenCom"));
        widget<QCheckBox>(w, "Last10")->click();
        w.ButContRetroClick();
        const QList<QByteArray> requests = b.port->written();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0], hex("05 64 08 00 46 f7 5b 06 00 00 00 00 85 30"));
        QCOMPARE(requestedIndexes(requests, reg::kArchiveRecord), QList<int>{996}); // the oldest of ten before 5
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo1")->toPlainText(), QStringLiteral("OK=5"));
        QCOMPARE(b.status(), QStringLiteral("NOT OK"));
    }

    // ONE writes no line and no file line; EdVal shows the value cut to an
    // integer, or keeps its text when the record does not come.
    void oneRecord_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("shown");
        QTest::newRow("12.5") << 12.5f << false << "12";
        QTest::newRow("-7.9") << -7.9f << false << "-7";
        QTest::newRow("silence") << 1.0f << true << "41";
    }
    void oneRecord()
    {
        QFETCH(float, value);
        QFETCH(bool, silent);
        QFETCH(QString, shown);

        Bench b;
        QVERIFY(b.start());
        b.archive(10, 0, {{3, stamp(24, 3, 5, 14, 7, 9, value)}});
        if (silent)
            b.fault(sim::FaultKind::Silence, sim::FaultTarget::registerCommand(reg::kArchiveRecord));
        widget<QLineEdit>(b.form(), "EdVal")->setText(QStringLiteral("41"));
        b.choose(widget<QCheckBox>(b.form(), "ONE"));
        widget<QLineEdit>(b.form(), "EdONE")->setText(QStringLiteral("3"));
        b.download("one.ret");

        QCOMPARE(widget<QLineEdit>(b.form(), "EdVal")->text(), shown);
        QCOMPARE(b.indexes(), QList<int>{3});
        QCOMPARE(b.memo1Lines(), QStringList{"OK=10"});
        QCOMPARE(readFile(b.path("one.ret")), QByteArray());
        QCOMPARE(b.status(), silent ? QStringLiteral("NOT OK") : QString());
    }

    void nothingTickedReadsNothing()
    {
        Bench b;
        QVERIFY(b.start());
        b.archive(10, 10);
        b.choose(nullptr);
        b.download();
        QVERIFY(b.indexes().isEmpty());
        QCOMPARE(b.memo1Lines(),
                 (QStringList{"OK=10", "No record choice ticked (10, 100, 500, последних or 1): nothing read."}));
        QCOMPARE(b.status(), QString());
    }

    void countFieldNotAnInteger()
    {
        Bench b;
        QVERIFY(b.start());
        b.archive(10, 10);
        b.choose(widget<QCheckBox>(b.form(), "Index"));
        widget<QLineEdit>(b.form(), "Beg")->setText(QStringLiteral("3x"));
        b.download("none.ret");
        QCOMPARE(b.f.seam.messages, QStringList{QStringLiteral("'3x' is not a valid integer value")});
        QVERIFY(b.indexes().isEmpty());
        QCOMPARE(readFile(b.path("none.ret")), QByteArray());
        QVERIFY(!heldOpen(b.path("none.ret")));
    }

    // Ctrl+G before any download says why there is no chart; after one, it shows
    // one point per record read, zooms about the wheel, pans by dragging, tells
    // the hovered record and saves the SVG that tessavin-cli would write. With
    // TESSAVIN_CHART_SCREENSHOT set, the window is also grabbed to that file.
    void chartOfTheLastDownload()
    {
        ZoneForTest zone("UTC0");
        SKIP_UNLESS_ZONE(zone);
        Bench b;
        QVERIFY(b.start());
        auto* shortcut = b.form().findChild<QShortcut*>(QStringLiteral("ChartShortcut"));
        QVERIFY(shortcut);
        emit shortcut->activated();
        QCOMPARE(b.f.seam.messages, QStringList{"No archive records to chart: read the archive first."});

        b.archive(100, 100);
        b.choose(widget<QCheckBox>(b.form(), "Last100"));
        b.download();
        emit shortcut->activated();
        auto* window = b.form().findChild<ArchiveChartWindow*>(QStringLiteral("ArchiveChart"));
        QVERIFY(window && window->isVisible());
        ArchiveChartView* view = window->view();
        const ChartLayout whole = view->chartLayout();
        QCOMPARE(int(whole.points.size()), 100);
        QCOMPARE(whole.newestPoint, 99);
        QCOMPARE(whole.lines.size(), std::size_t(1));

        const QPointF middle = whole.plot.center();
        QWheelEvent wheel(middle, view->mapToGlobal(middle), {}, {0, 240}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        const ChartSpan zoomed = view->span();
        QVERIFY(zoomed.to - zoomed.from < (whole.span.to - whole.span.from) * 2 / 3);
        QTest::mousePress(view, Qt::LeftButton, {}, middle.toPoint());
        QTest::mouseMove(view, (middle + QPointF(100, 0)).toPoint());
        QTest::mouseRelease(view, Qt::LeftButton, {}, (middle + QPointF(100, 0)).toPoint());
        QVERIFY(view->span().from < zoomed.from);
        QCOMPARE(view->span().to - view->span().from, zoomed.to - zoomed.from);

        view->showWholeSpan();
        hover(view, whole.points[99]);
        QCOMPARE(view->hoverText(), QStringLiteral("index 99  2024-03-05 03:00:00  %1").arg(samplesValue(*view, 99)));

        b.f.seam.saveAnswers << b.path("chart.svg");
        window->saveSvg();
        QCOMPARE(readFile(b.path("chart.svg")), ChartSvg(view->chartLayout(), view->samples()));
        if (const QString shot = qEnvironmentVariable("TESSAVIN_CHART_SCREENSHOT"); !shot.isEmpty()) {
            hover(view, whole.points[80]);
            QVERIFY(window->grab().save(shot));
        }
    }

private:
    static void hover(QWidget* view, const QPointF& at)
    {
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, {}, {});
        QApplication::sendEvent(view, &move);
    }
    static QString samplesValue(const ArchiveChartView& view, int i)
    {
        return QString::number(view.samples()[std::size_t(i)].value, 'f', 3);
    }
};

QTEST_MAIN(TestArchiveWindow)
#include "tst_archive_window.moc"
