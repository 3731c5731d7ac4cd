// The archive download in the real window against the emulated controller over a
// pseudo-terminal: the begin step, the slots each choice reads, the lines in
// Memo1 and in the file, the shift to the computer's local time, EdVal for one
// record, and the ends by silence, short records and impossible stamps.
#include "controller_thread.h"
#include "pseudo_terminal.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <atomic>
#include <cstring>
#include <thread>

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

QByteArray stamp(int yearByte, int month, int day, int hour, int minute, int second, float value)
{
    QByteArray r(10, '\0');
    const int fields[] = {yearByte, month, day, hour, minute, second};
    for (int i = 0; i < 6; ++i)
        r[i] = static_cast<char>(fields[i]);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i)
        r[6 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return r;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
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

// The computer's zone for one test, as a POSIX TZ rule (no zone data needed).
class ZoneForTest {
public:
    explicit ZoneForTest(const QByteArray& rule) : had_(qEnvironmentVariableIsSet("TZ")), saved_(qgetenv("TZ"))
    {
        qputenv("TZ", rule);
    }
    ~ZoneForTest()
    {
        if (had_)
            qputenv("TZ", saved_);
        else
            qunsetenv("TZ");
    }

private:
    bool had_;
    QByteArray saved_;
};

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
    void archive(const std::function<void(sim::Archive&)>& change)
    {
        sim.withController([&](sim::Controller& c) { change(c.state().archive); });
    }
    void record(int index, const QByteArray& bytes)
    {
        archive([&](sim::Archive& a) { std::memcpy(a.records[static_cast<std::size_t>(index)].data(), bytes.constData(), 10); });
    }
    void fault(sim::FaultKind kind, std::uint8_t command)
    {
        sim::Fault fault;
        fault.kind = kind;
        fault.target = sim::FaultTarget::registerCommand(command);
        sim.withController([&](sim::Controller& c) { c.addFault(fault); });
    }
    // Ticks one choice box the way a click does (the others are unticked).
    void choose(QCheckBox* box)
    {
        for (QCheckBox* b : {form().Last10, form().Last100, form().Last500, form().Index, form().ONE})
            b->setChecked(b == box);
    }
    std::vector<int> requestedIndexes() const
    {
        std::vector<int> indexes;
        for (const auto& frame : sim.frames())
            if (frame.direction == sim::Direction::Received && frame.bytes.size() == 14
                && static_cast<std::uint8_t>(frame.bytes[6]) == reg::kArchiveRecord)
                indexes.push_back(static_cast<std::uint8_t>(frame.bytes[8])
                                  | (static_cast<std::uint8_t>(frame.bytes[9]) << 8));
        return indexes;
    }
    QStringList memoLines() const { return form1Memo().split(QLatin1Char('\n')); }
    QString form1Memo() const { return f.form1->Memo1->toPlainText(); }
};

#define START_OR_SKIP(bench)                                  \
    do {                                                      \
        if (!(bench).start())                                 \
            QSKIP("no pseudo-terminal can be had here");      \
    } while (false)

std::vector<int> indexRuns(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> v;
    for (const auto& [from, to] : runs)
        for (int i = from; i <= to; ++i)
            v.push_back(i);
    return v;
}

// A controller that answers every archive record request with a valid frame
// whose payload is too short for a record.
class ShortRecordPeer {
public:
    bool start()
    {
        if (!pty_.open())
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    ~ShortRecordPeer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    QString slavePath() const { return pty_.slavePath(); }
    std::atomic<int> recordRequests{0};

private:
    void run()
    {
        QByteArray pending;
        while (!stop_) {
            pending += pty_.read(5ms);
            while (pending.size() >= 14) {
                const QByteArray request = pending.left(14);
                pending.remove(0, 14);
                const auto command = static_cast<std::uint8_t>(request[6]);
                if (command == reg::kArchiveBegin) {
                    pty_.write(sim::RegisterReply(command, 6, QByteArray("\x05\x00", 2)));
                } else if (command == reg::kArchiveRecord) {
                    ++recordRequests;
                    pty_.write(sim::RegisterReply(command, 6, QByteArray("\x18\x03\x05\x0e\x07\x09\x00\x00", 8)));
                }
            }
        }
    }
    sim::PseudoTerminal pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

} // namespace

Q_DECLARE_METATYPE(std::vector<int>)

class TestArchiveWindow : public QObject {
    Q_OBJECT

private slots:
    void beginStep();
    void slotsOfEachChoice_data();
    void slotsOfEachChoice();
    void workedRecordInMemoAndFile();
    void shiftedToTheComputersZone_data();
    void shiftedToTheComputersZone();
    void impossibleStampEndsTheDownload_data();
    void impossibleStampEndsTheDownload();
    void shortRecordIsAFailedRead();
    void oneRecordSetsEdVal_data();
    void oneRecordSetsEdVal();
    void silenceInOneMode();
    void silenceMidwayKeepsWhatWasRead();
    void nothingTickedReadsNothing();
    void countFieldNotAnInteger();
};

void TestArchiveWindow::beginStep()
{
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) { a.begin = 291; });
    b.form().Memo1->setPlainText(QStringLiteral("earlier text"));
    b.form().ButBegRetroClick();
    QCOMPARE(b.form1Memo(), QStringLiteral("OK=291"));
    QVERIFY(b.form().Label2->isVisibleTo(&b.form()));
    QVERIFY(b.form().Label5->isHidden());
    const auto frames = b.sim.frames();
    QVERIFY(!frames.empty());
    QCOMPARE(frames.front().bytes.toHex(' '), QByteArray("05 64 08 00 46 f7 5b 06 00 00 00 00 85 30"));

    b.fault(sim::FaultKind::Silence, reg::kArchiveBegin);
    b.form().ButBegRetroClick();
    QCOMPARE(b.form1Memo(), QStringLiteral("OK=0"));
    QVERIFY(b.form().Label2->isHidden());
    QVERIFY(b.form().Label5->isVisibleTo(&b.form()));
}

void TestArchiveWindow::slotsOfEachChoice_data()
{
    QTest::addColumn<int>("begin");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("count");
    QTest::addColumn<std::vector<int>>("indexes");

    QTest::newRow("B=10 Last10") << 10 << "Last10" << "" << indexRuns({{0, 9}});
    QTest::newRow("B=0 Last10") << 0 << "Last10" << "" << indexRuns({{990, 999}});
    QTest::newRow("B=5 Last10") << 5 << "Last10" << "" << indexRuns({{996, 1000}, {0, 4}});
    QTest::newRow("B=5 Index 10") << 5 << "Index" << "10" << indexRuns({{995, 1000}, {0, 3}});
}

void TestArchiveWindow::slotsOfEachChoice()
{
    QFETCH(int, begin);
    QFETCH(QString, box);
    QFETCH(QString, count);
    QFETCH(std::vector<int>, indexes);

    Bench b;
    START_OR_SKIP(b);
    b.archive([begin](sim::Archive& a) {
        a.fillDefault(1001);
        a.begin = begin;
    });
    b.choose(b.form().findChild<QCheckBox*>(box));
    if (!count.isEmpty())
        b.form().Beg->setText(count);
    b.form().ButContRetroClick();

    QCOMPARE(b.requestedIndexes(), indexes);
    const QStringList lines = b.memoLines();
    QCOMPARE(lines.size(), int(indexes.size()) + 1);
    QCOMPARE(lines.front(), QStringLiteral("OK=%1").arg(begin));
    for (std::size_t i = 0; i < indexes.size(); ++i)
        QCOMPARE(lines[int(i) + 1].left(6), QStringLiteral("%1 ").arg(indexes[i], 5));
    QCOMPARE(b.form().Edi->text(), QString::number(indexes.back()));
    // Ended by count: neither half of the Status pair.
    QVERIFY(b.form().Label2->isHidden());
    QVERIFY(b.form().Label5->isHidden());
}

void TestArchiveWindow::workedRecordInMemoAndFile()
{
    // The system's own timing, and a computer on UTC.
    ZoneForTest zone("UTC0");
    Bench b(LinkTiming{});
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) { a.begin = 8; });
    b.record(7, QByteArray::fromHex("180305 0e0709 00004841"));
    const QString path = b.f.dir.filePath(QStringLiteral("archive.ret"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older, longer file that the download replaces\r\n");
    }
    b.f.seam.saveAnswers << path;
    b.form().chFile->setChecked(true);
    b.choose(b.form().Index);
    b.form().Beg->setText(QStringLiteral("1"));
    b.form().ButContRetroClick();

    QCOMPARE(b.f.seam.lastSaveSuffix, QStringLiteral("ret"));
    QCOMPARE(b.form1Memo(), QStringLiteral("OK=8\n    7 2024:03:05 14:07:09:  12.500"));
    QCOMPARE(readFile(path), QByteArray("2024:03:05 14:07:09:  12.500\r\n"));
    QVERIFY(!heldOpen(path));
    QCOMPARE(b.form().Edi->text(), QStringLiteral("7"));
    QCOMPARE(b.requestedIndexes(), std::vector<int>{7});
}

void TestArchiveWindow::shiftedToTheComputersZone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("line");

    QTest::newRow("3 h east, 31 Dec 2024 23:30") << QByteArray("<+03>-3") << stamp(24, 12, 31, 23, 30, 0, 1.25f)
                                                 << "    0 2025:01:01 02:30:00:   1.250";
    QTest::newRow("3 h east, 28 Feb 2024 23:00") << QByteArray("<+03>-3") << stamp(24, 2, 28, 23, 0, 0, 1.25f)
                                                 << "    0 2024:02:29 02:00:00:   1.250";
    QTest::newRow("3 h east, same day") << QByteArray("<+03>-3") << stamp(24, 3, 5, 14, 7, 9, 12.5f)
                                        << "    0 2024:03:05 17:07:09:  12.500";
    QTest::newRow("5 h west, same day") << QByteArray("<-05>5") << stamp(24, 3, 5, 14, 7, 9, 12.5f)
                                        << "    0 2024:03:05 09:07:09:  12.500";
    QTest::newRow("5 h west, back over the year start") << QByteArray("<-05>5") << stamp(25, 1, 1, 2, 0, 0, -7.9f)
                                                        << "    0 2024:12:31 21:00:00:  -7.900";
    QTest::newRow("5:30 east, over midnight") << QByteArray("<+0530>-5:30") << stamp(24, 3, 5, 18, 45, 10, 0.0f)
                                              << "    0 2024:03:06 00:15:10:   0.000";
    QTest::newRow("year byte 0 stays unshifted") << QByteArray("<+03>-3") << stamp(0, 12, 31, 23, 30, 0, 1.25f)
                                                 << "    0    0:12:31 23:30:00:   1.250";
}

void TestArchiveWindow::shiftedToTheComputersZone()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, record);
    QFETCH(QString, line);

    ZoneForTest computer(zone);
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) { a.begin = 1; });
    b.record(0, record);
    b.choose(b.form().Index);
    b.form().Beg->setText(QStringLiteral("1"));
    b.form().ButContRetroClick();
    QCOMPARE(b.memoLines().value(1), line);
}

void TestArchiveWindow::impossibleStampEndsTheDownload_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("third");
    QTest::addColumn<QString>("message");

    QTest::newRow("hour 24") << QByteArray("UTC0") << stamp(24, 3, 5, 24, 0, 0, 1.0f)
                             << "Invalid argument to time encode";
    QTest::newRow("second 60") << QByteArray("<-05>5") << stamp(24, 3, 5, 10, 0, 60, 1.0f)
                               << "Invalid argument to time encode";
    QTest::newRow("31 Feb over midnight") << QByteArray("<+03>-3") << stamp(24, 2, 31, 23, 0, 0, 1.0f)
                                          << "Invalid argument to date encode";
    QTest::newRow("month 13 back over midnight") << QByteArray("<-05>5") << stamp(24, 13, 1, 1, 0, 0, 1.0f)
                                                 << "Invalid argument to date encode";
}

void TestArchiveWindow::impossibleStampEndsTheDownload()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, third);
    QFETCH(QString, message);

    ZoneForTest computer(zone);
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) {
        a.begin = 0;
        a.fillDefault(10); // 1 March 2024 from 00:00, hourly; begin 10
    });
    b.record(2, third);
    const QString path = b.f.dir.filePath(QStringLiteral("cut.ret"));
    b.f.seam.saveAnswers << path;
    b.form().chFile->setChecked(true);
    b.choose(b.form().Last10);
    b.form().ButContRetroClick();

    QCOMPARE(b.f.seam.messages, QStringList{message});
    QCOMPARE(b.requestedIndexes(), indexRuns({{0, 2}}));
    const QStringList lines = b.memoLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[1].startsWith(QStringLiteral("    0 ")));
    QVERIFY(lines[2].startsWith(QStringLiteral("    1 ")));
    const QList<QByteArray> written = readFile(path).split('\n');
    QCOMPARE(written.size(), 3); // two lines and nothing after the last LF
    QCOMPARE(lines[1].mid(6) + QStringLiteral("\r"), QString::fromLatin1(written[0]));
    QVERIFY(!heldOpen(path));
}

void TestArchiveWindow::shortRecordIsAFailedRead()
{
    ShortRecordPeer peer;
    if (!peer.start())
        QSKIP("no pseudo-terminal can be had here");
    test::WindowFixture f(quick());
    f.form1->Edit1->setText(peer.slavePath());
    f.form1->OpenComClick();
    QVERIFY(f.form1->session().link.isOpen());
    for (QCheckBox* box : {f.form1->Last10, f.form1->Last100, f.form1->Last500, f.form1->Index, f.form1->ONE})
        box->setChecked(box == f.form1->Last10);
    f.form1->ButContRetroClick();
    QCOMPARE(peer.recordRequests.load(), 1);
    QCOMPARE(f.form1->Memo1->toPlainText(), QStringLiteral("OK=5"));
    QVERIFY(f.form1->Label5->isVisibleTo(f.form1.get()));
    QVERIFY(f.form1->Label2->isHidden());
}

void TestArchiveWindow::oneRecordSetsEdVal_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("12.5") << 12.5f << "12";
    QTest::newRow("-7.9") << -7.9f << "-7";
}

void TestArchiveWindow::oneRecordSetsEdVal()
{
    QFETCH(float, value);
    QFETCH(QString, shown);

    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) { a.begin = 10; });
    b.record(3, stamp(24, 3, 5, 14, 7, 9, value));
    const QString path = b.f.dir.filePath(QStringLiteral("one.ret"));
    b.f.seam.saveAnswers << path;
    b.form().chFile->setChecked(true);
    b.choose(b.form().ONE);
    b.form().EdONE->setText(QStringLiteral("3"));
    b.form().ButContRetroClick();

    QCOMPARE(b.form().EdVal->text(), shown);
    QCOMPARE(b.requestedIndexes(), std::vector<int>{3});
    QCOMPARE(b.form1Memo(), QStringLiteral("OK=10"));
    QCOMPARE(readFile(path), QByteArray());
    QVERIFY(b.form().Label2->isHidden());
    QVERIFY(b.form().Label5->isHidden());
}

void TestArchiveWindow::silenceInOneMode()
{
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) {
        a.begin = 0;
        a.fillDefault(10);
    });
    b.fault(sim::FaultKind::Silence, reg::kArchiveRecord);
    b.form().EdVal->setText(QStringLiteral("41"));
    b.choose(b.form().ONE);
    b.form().ButContRetroClick();
    QVERIFY(b.form().Label5->isVisibleTo(&b.form()));
    QVERIFY(b.form().Label2->isHidden());
    QCOMPARE(b.form().EdVal->text(), QStringLiteral("41"));
    QCOMPARE(b.form1Memo(), QStringLiteral("OK=10"));
}

void TestArchiveWindow::silenceMidwayKeepsWhatWasRead()
{
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) {
        a.begin = 0;
        a.fillDefault(10);
    });
    const QString path = b.f.dir.filePath(QStringLiteral("part.ret"));
    b.f.seam.saveAnswers << path;
    b.form().chFile->setChecked(true);
    b.choose(b.form().Last10);
    // The controller falls silent once four records have gone out.
    bool faulted = false;
    QObject watcher;
    connect(b.form().Memo1, &QPlainTextEdit::textChanged, &watcher, [&] {
        if (!faulted && b.form().Memo1->blockCount() == 5) {
            faulted = true;
            b.fault(sim::FaultKind::Silence, reg::kArchiveRecord);
        }
    });
    b.form().ButContRetroClick();
    QCOMPARE(b.memoLines().size(), 5);
    QCOMPARE(readFile(path).count('\n'), 4);
    QVERIFY(!heldOpen(path));
    QVERIFY(b.form().Label5->isVisibleTo(&b.form()));
}

void TestArchiveWindow::nothingTickedReadsNothing()
{
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) {
        a.begin = 0;
        a.fillDefault(10);
    });
    b.choose(nullptr);
    b.form().ButContRetroClick();
    QVERIFY(b.requestedIndexes().empty());
    QCOMPARE(b.memoLines().value(0), QStringLiteral("OK=10"));
    QVERIFY(b.form().Label2->isHidden());
    QVERIFY(b.form().Label5->isHidden());
}

void TestArchiveWindow::countFieldNotAnInteger()
{
    Bench b;
    START_OR_SKIP(b);
    b.archive([](sim::Archive& a) {
        a.begin = 0;
        a.fillDefault(10);
    });
    const QString path = b.f.dir.filePath(QStringLiteral("none.ret"));
    b.f.seam.saveAnswers << path;
    b.form().chFile->setChecked(true);
    b.choose(b.form().Index);
    b.form().Beg->setText(QStringLiteral("3x"));
    b.form().ButContRetroClick();
    QCOMPARE(b.f.seam.messages, QStringList{QStringLiteral("'3x' is not a valid integer value")});
    QVERIFY(b.requestedIndexes().empty());
    QCOMPARE(readFile(path), QByteArray());
    QVERIFY(!heldOpen(path));
}

QTEST_MAIN(TestArchiveWindow)
#include "tst_archive_window.moc"
