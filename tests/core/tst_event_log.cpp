// The event log: record presentation (bytes in, line and file bytes out), the
// choice of the first record and the number of records, and the record loop
// against the emulated controller.
#include "controller_thread.h"
#include "event_log.h"
#include "log_presentation.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessavin;
using namespace std::chrono_literals;

namespace {

LogLine present(const QByteArray& record)
{
    return PresentLogRecord(reinterpret_cast<const std::uint8_t*>(record.constData()),
                            static_cast<std::size_t>(record.size()));
}

LinkTiming quickTiming()
{
    LinkTiming t;
    t.firstBytePause = 1ms;
    t.firstByteWait = 20ms;
    t.firstByteTries = 5;
    t.idleGap = 15ms;
    t.pumpSlice = 5ms;
    return t;
}

// The record stored in slot i of the test rings: its index is its message.
QByteArray slotRecord(int i)
{
    return sim::MakeLogRecord('<', 2024, 1, 2, 3, 4, 5, "slot " + QByteArray::number(i));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The index fields of the record requests the controller received, in order.
QList<int> requestedIndexes(const sim::ControllerThread& sim)
{
    QList<int> out;
    for (const auto& f : sim.frames())
        if (f.direction == sim::Direction::Received && f.bytes.size() >= 12 && std::uint8_t(f.bytes[6]) == 0x1A)
            out << (std::uint8_t(f.bytes[8]) | (std::uint8_t(f.bytes[9]) << 8));
    return out;
}

QList<int> range(int from, int to)
{
    QList<int> out;
    for (int i = from; i <= to; ++i)
        out << i;
    return out;
}

} // namespace

class EventLogTest : public QObject {
    Q_OBJECT

private slots:
    void presentation_data();
    void presentation();
    void longRecordsAreKeptWhole();
    void zeroByteInsideARecord();
    void span_data();
    void span();

    void stopEndsTheLoopBeforeTheNextRequest();
    void failedRecordKeepsWhatWasRead_data();
    void failedRecordKeepsWhatWasRead();

private:
    bool startSim(sim::ControllerThread& sim, Session& session);
};

void EventLogTest::presentation_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("file");   // what the file receives
    QTest::addColumn<QString>("memo");      // what Memo1 shows
    QTest::addColumn<bool>("marked");

    QTest::newRow("'<' record with CR LF inside and at the end")
        << QByteArray("<2024/01/02 03:04:05 \r\nOK\r\n") << QByteArray("<2024.01.02-03:04:05 OK \r\n")
        << QStringLiteral("<2024.01.02-03:04:05 OK ") << false;
    QTest::newRow("'>' record ending in one CR")
        << QByteArray(">2024/01/02 03:04:05 AT+X\r") << QByteArray(">2024.01.02-03:04:05 AT+X\r\r\n")
        << QStringLiteral(">2024.01.02-03:04:05 AT+X\r") << true;
    QTest::newRow("'#' record") << QByteArray("#2024-01-02 03:04:05 power on")
                                << QByteArray(" 2024.01.02-03:04:05 power on\r\n")
                                << QStringLiteral(" 2024.01.02-03:04:05 power on") << false;
    QTest::newRow("'<' record with a lone CR") << QByteArray("<2024/01/02 03:04:05 ab\rcd")
                                               << QByteArray("<2024.01.02-03:04:05 abcd\r\n")
                                               << QStringLiteral("<2024.01.02-03:04:05 abcd") << false;
    QTest::newRow("3-byte record >20") << QByteArray(">20") << QByteArray(">00\r\n") << QStringLiteral(">00") << true;
    QTest::newRow("'>' record keeps CR LF inside")
        << QByteArray(">2024/01/02 03:04:05 a\r\nb") << QByteArray(">2024.01.02-03:04:05 a\r\nb\r\n")
        << QStringLiteral(">2024.01.02-03:04:05 a\r\nb") << true;
    QTest::newRow("two CR LF in a row: doubled CR closed up, then the first CR dropped")
        << QByteArray("<2024/01/02 03:04:05 x\r\n\r\ny") << QByteArray("<2024.01.02-03:04:05 xy\r\n")
        << QStringLiteral("<2024.01.02-03:04:05 xy") << false;
    QTest::newRow("CR CR without LF: first dropped, second a blank")
        << QByteArray("<2024/01/02 03:04:05 a\r\rb") << QByteArray("<2024.01.02-03:04:05 a b\r\n")
        << QStringLiteral("<2024.01.02-03:04:05 a b") << false;
    QTest::newRow("three lone CRs") << QByteArray("<2024/01/02 03:04:05 a\rb\rc\rd")
                                    << QByteArray("<2024.01.02-03:04:05 ab c d\r\n")
                                    << QStringLiteral("<2024.01.02-03:04:05 ab c d") << false;
    QTest::newRow("LF in a separator counts for closing up CR pairs")
        << QByteArray("<2024\n01/02 03:04:05 a\r\rb") << QByteArray("<2024.01.02-03:04:05 ab\r\n")
        << QStringLiteral("<2024.01.02-03:04:05 ab") << false;
    QTest::newRow("blank-padded fields") << QByteArray("<  24/ 1/ 2  3: 4: 5 x")
                                         << QByteArray("<0024.01.02-03:04:05 x\r\n")
                                         << QStringLiteral("<0024.01.02-03:04:05 x") << false;
    QTest::newRow("fields with no number") << QByteArray(">abcd/ef/gh ij:kl:mn x")
                                           << QByteArray(">0000.00.00-00:00:00 x\r\n")
                                           << QStringLiteral(">0000.00.00-00:00:00 x") << true;
    QTest::newRow("digits then letters") << QByteArray("<20x4/1a/02 03:04:05 x")
                                         << QByteArray("<0020.01.02-03:04:05 x\r\n")
                                         << QStringLiteral("<0020.01.02-03:04:05 x") << false;
    QTest::newRow("negative month reads as 65535, prefix cut at 21")
        << QByteArray("<2024/-1/02 03:04:05 x") << QByteArray("<2024.65535.02-03:04:x\r\n")
        << QStringLiteral("<2024.65535.02-03:04:x") << false;
    QTest::newRow("exactly 21 bytes") << QByteArray("<2024/01/02 03:04:05 ") << QByteArray("<2024.01.02-03:04:05 \r\n")
                                      << QStringLiteral("<2024.01.02-03:04:05 ") << false;
    QTest::newRow("10-byte record") << QByteArray("<2024/01/0") << QByteArray("<2024.01.0\r\n")
                                    << QStringLiteral("<2024.01.0") << false;
    QTest::newRow("1-byte record") << QByteArray("<") << QByteArray("<\r\n") << QStringLiteral("<") << false;
    QTest::newRow("Windows-1251 text") << QByteArray("<2024/01/02 03:04:05 \xcf\xf0\xe8\xe2\xe5\xf2")
                                       << QByteArray("<2024.01.02-03:04:05 \xcf\xf0\xe8\xe2\xe5\xf2\r\n")
                                       << QStringLiteral("<2024.01.02-03:04:05 Привет") << false;
    QTest::newRow("UTF-8 text") << QByteArray("<2024/01/02 03:04:05 Привет") << QByteArray("<2024.01.02-03:04:05 Привет\r\n")
                                << QStringLiteral("<2024.01.02-03:04:05 Привет") << false;
}

void EventLogTest::presentation()
{
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, file);
    QFETCH(QString, memo);
    QFETCH(bool, marked);

    const LogLine line = present(record);
    QCOMPARE(line.fileBytes, file);
    QCOMPARE(LogMemoText(line), memo);
    QCOMPARE(line.marked, marked);
    QCOMPARE(line.fileBytes.size(), line.line.size() + 2);
    if (marked)
        QCOMPARE(line.line.size(), record.size()); // '>' lines have the record's length
}

void EventLogTest::longRecordsAreKeptWhole()
{
    for (int length : {179, 180, 200, 500, 990}) {
        QByteArray message(length - 21, '\0');
        for (int i = 0; i < message.size(); ++i)
            message[i] = static_cast<char>('a' + i % 26);
        const QByteArray record = "<2024/01/02 03:04:05 " + message;
        const LogLine line = present(record);
        QCOMPARE(line.fileBytes, "<2024.01.02-03:04:05 " + message + "\r\n");
        QCOMPARE(LogMemoText(line).size(), length);
    }
}

void EventLogTest::zeroByteInsideARecord()
{
    const QByteArray text = QByteArray("2024/01/02 03:04:05 ab\0cd\r\n", 27);
    // A '>' record goes to the file with all its bytes; the memo stops at the zero.
    const LogLine marked = present(">" + text);
    QCOMPARE(marked.fileBytes, QByteArray(">2024.01.02-03:04:05 ab\0cd\r\n\r\n", 30));
    QCOMPARE(LogMemoText(marked), QStringLiteral(">2024.01.02-03:04:05 ab"));
    // Other records end at the zero byte, and their LFs after it do not count.
    const LogLine plain = present("<" + text);
    QCOMPARE(plain.fileBytes, QByteArray("<2024.01.02-03:04:05 ab\r\n"));
    QCOMPARE(LogMemoText(plain), QStringLiteral("<2024.01.02-03:04:05 ab"));
}

void EventLogTest::span_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("begin");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("records");

    const int last10 = int(LogChoice::Last10), last100 = int(LogChoice::Last100), last500 = int(LogChoice::Last500);
    const int index = int(LogChoice::Index), one = int(LogChoice::One), none = int(LogChoice::None);
    QTest::newRow("Last100, M 2000 C 150 B 150") << last100 << 0 << 150 << 150 << 2000 << 50 << 100;
    QTest::newRow("Last10, full 2000-ring at B 3: wraps") << last10 << 0 << 3 << 2000 << 2000 << 1993 << 10;
    QTest::newRow("Last10, C 5") << last10 << 0 << 5 << 5 << 2000 << 0 << 5;
    QTest::newRow("Last10, C 10 = N: from 0") << last10 << 0 << 10 << 10 << 2000 << 0 << 10;
    QTest::newRow("Last500, full ring at B 600") << last500 << 0 << 600 << 2000 << 2000 << 100 << 500;
    QTest::newRow("Last500, C 0") << last500 << 0 << 0 << 0 << 2000 << 0 << 0;
    QTest::newRow("Last100, C over M 100: wrap adds C not M") << last100 << 0 << 20 << 150 << 100 << 70 << 100;
    QTest::newRow("Last10, not full and B below N: no wrap") << last10 << 0 << 3 << 50 << 2000 << -7 << 10;
    QTest::newRow("Index 30, C 20 < M") << index << 30 << 20 << 20 << 2000 << 0 << 20;
    QTest::newRow("Index 20 = C, not full: from 0") << index << 20 << 20 << 20 << 2000 << 0 << 20;
    QTest::newRow("Index 2000 = C, full ring at B 3: back from B") << index << 2000 << 3 << 2000 << 2000 << 3 << 2000;
    QTest::newRow("Index 30, full ring at B 3") << index << 30 << 3 << 2000 << 2000 << 1973 << 30;
    QTest::newRow("Index 2001 > C, full ring") << index << 2001 << 3 << 2000 << 2000 << 0 << 2000;
    QTest::newRow("Index 0") << index << 0 << 20 << 20 << 2000 << 20 << 0;
    QTest::newRow("Index -5: nothing") << index << -5 << 20 << 20 << 2000 << 25 << -5;
    QTest::newRow("ONE 3") << one << 3 << 150 << 150 << 2000 << 3 << 1;
    QTest::newRow("ONE 5000, beyond the ring") << one << 5000 << 150 << 150 << 2000 << 5000 << 1;
    QTest::newRow("none ticked") << none << 0 << 150 << 150 << 2000 << 0 << 0;
}

void EventLogTest::span()
{
    QFETCH(int, choice);
    QFETCH(int, number);
    QFETCH(int, begin);
    QFETCH(int, count);
    QFETCH(int, capacity);
    QFETCH(int, first);
    QFETCH(int, records);

    const LogSpan s = ChooseLogSpan(LogChoice(choice), number, begin, count, capacity);
    QCOMPARE(s.first, first);
    QCOMPARE(s.count, records);
}

bool EventLogTest::startSim(sim::ControllerThread& sim, Session& session)
{
    QString error;
    if (!sim.start(&error))
        return false;
    return session.link.OpenPort(sim.slavePath(), 38400, &error);
}

void EventLogTest::stopEndsTheLoopBeforeTheNextRequest()
{
    sim::ControllerThread sim;
    Session session(quickTiming());
    if (!startSim(sim, session))
        QSKIP("no pseudo-terminal");
    sim.withController([&](sim::Controller& c) {
        auto& log = c.state().eventLog;
        log.reset(2000);
        for (int i = 0; i < 20; ++i)
            log.appendText(i % 2 ? slotRecord(i) : sim::MakeLogRecord('>', 2024, 1, 2, 3, 4, 5, "AT" + QByteArray::number(i)));
    });

    QTemporaryDir dir;
    OutputFile file;
    QVERIFY(file.create(dir.filePath("stop.log")));
    QList<int> ordinals;
    int shown = 0;
    LogRecordSink sink;
    sink.show = [&](const LogLine&) {
        if (++shown == 3)
            session.stopFlag = 1; // as the Stop button does while the loop waits
    };
    sink.marked = [&](int ordinal) { ordinals << ordinal; };
    const LogLoopResult result = RunLogRecordLoop(session, {0, 20}, 2000, sink, &file);

    QCOMPARE(result.end, LogLoopEnd::Stopped);
    QCOMPARE(result.read, 3);
    QCOMPARE(requestedIndexes(sim), range(0, 2));
    QCOMPARE(ordinals, (QList<int>{1, 3})); // the '>' records' ordinals within the download
    QCOMPARE(readFile(dir.filePath("stop.log")),
             QByteArray(">2024.01.02-03:04:05 AT0\r\n<2024.01.02-03:04:05 slot 1\r\n>2024.01.02-03:04:05 AT2\r\n"));
}

void EventLogTest::failedRecordKeepsWhatWasRead_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("silence") << int(sim::FaultKind::Silence);
    QTest::newRow("bad body checksum") << int(sim::FaultKind::BadBodyChecksum);
    QTest::newRow("bad header checksum") << int(sim::FaultKind::BadHeaderChecksum);
    QTest::newRow("empty slot: empty payload") << -1;
}

void EventLogTest::failedRecordKeepsWhatWasRead()
{
    QFETCH(int, fault);

    sim::ControllerSettings settings;
    settings.logRecords = 0;
    sim::ControllerThread sim(settings);
    Session session(quickTiming());
    if (!startSim(sim, session))
        QSKIP("no pseudo-terminal");
    sim.withController([&](sim::Controller& c) {
        for (int i = 0; i < 10; ++i)
            c.state().eventLog.appendText(slotRecord(i));
        if (fault < 0)
            c.state().eventLog.records[3].clear();
    });

    QTemporaryDir dir;
    OutputFile file;
    QVERIFY(file.create(dir.filePath("fail.log")));
    int shown = 0;
    LogRecordSink sink;
    sink.show = [&](const LogLine&) {
        if (++shown == 3 && fault >= 0)
            sim.withController([&](sim::Controller& c) {
                c.addFault({sim::FaultKind(fault), sim::FaultTarget::registerCommand(0x1A), 1});
            });
    };
    const LogLoopResult result = RunLogRecordLoop(session, {0, 10}, 2000, sink, &file);

    QCOMPARE(result.end, LogLoopEnd::RecordFailed);
    QCOMPARE(result.read, 3);
    QCOMPARE(requestedIndexes(sim), range(0, 3)); // no request after the failed one
    QCOMPARE(readFile(dir.filePath("fail.log")), QByteArray("<2024.01.02-03:04:05 slot 0\r\n<2024.01.02-03:04:05 slot 1\r\n"
                                                            "<2024.01.02-03:04:05 slot 2\r\n"));
}

QTEST_GUILESS_MAIN(EventLogTest)
#include "tst_event_log.moc"
