// The event log: record presentation (bytes in, line and file bytes out), the
// choice of the first record and the number of records, and read requests sent
// again over a faulty line (the emulated controller in memory). The record loop
// is otherwise tested through the window.
#include "features/config/config_commands.h"
#include "features/event_log.h"
#include "features/log_presentation.h"
#include "sim/memory_line.h"
#include "features/script_transfer.h"
#include "features/service_commands.h"
#include "sim/sim_options.h"
#include "tests/support/test_support.h"

#include <QTest>

#include <limits>

using namespace tessavin;

class EventLogTest : public QObject {
    Q_OBJECT

private slots:
    void presentation_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QByteArray>("file"); // what the file receives
        QTest::addColumn<QString>("memo"); // what Memo1 shows
        QTest::addColumn<bool>("marked");

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
        QTest::newRow("blank-padded fields")
            << QByteArray("<  24/ 1/ 2  3: 4: 5 x") << QByteArray("<0024.01.02-03:04:05 x\r\n")
            << QStringLiteral("<0024.01.02-03:04:05 x") << false;
        QTest::newRow("fields with no number")
            << QByteArray(">abcd/ef/gh ij:kl:mn x") << QByteArray(">0000.00.00-00:00:00 x\r\n")
            << QStringLiteral(">0000.00.00-00:00:00 x") << true;
        QTest::newRow("digits then letters")
            << QByteArray("<20x4/1a/02 03:04:05 x") << QByteArray("<0020.01.02-03:04:05 x\r\n")
            << QStringLiteral("<0020.01.02-03:04:05 x") << false;
        QTest::newRow("negative month reads as 65535, prefix cut at 21")
            << QByteArray("<2024/-1/02 03:04:05 x") << QByteArray("<2024.65535.02-03:04:x\r\n")
            << QStringLiteral("<2024.65535.02-03:04:x") << false;
        QTest::newRow("exactly 21 bytes")
            << QByteArray("<2024/01/02 03:04:05 ") << QByteArray("<2024.01.02-03:04:05 \r\n")
            << QStringLiteral("<2024.01.02-03:04:05 ") << false;
        QTest::newRow("10-byte record") << QByteArray("<2024/01/0") << QByteArray("<2024.01.0\r\n")
                                        << QStringLiteral("<2024.01.0") << false;
        QTest::newRow("1-byte record") << QByteArray("<") << QByteArray("<\r\n") << QStringLiteral("<") << false;
        QTest::newRow("UTF-8 text") << QByteArray("<2024/01/02 03:04:05 Привет")
                                    << QByteArray("<2024.01.02-03:04:05 Привет\r\n")
                                    << QStringLiteral("<2024.01.02-03:04:05 Привет") << false;
        // A '>' record goes to the file with all its bytes; the memo stops at a zero.
        // Other records end at the zero byte, and their LFs after it do not count.
        const QByteArray withZero("2024/01/02 03:04:05 ab\0cd\r\n", 27);
        QTest::newRow("'>' record, zero byte inside")
            << ">" + withZero << QByteArray(">2024.01.02-03:04:05 ab\0cd\r\n\r\n", 30)
            << QStringLiteral(">2024.01.02-03:04:05 ab") << true;
        QTest::newRow("'<' record, zero byte inside") << "<" + withZero << QByteArray("<2024.01.02-03:04:05 ab\r\n")
                                                      << QStringLiteral("<2024.01.02-03:04:05 ab") << false;
        // Longer records than any fixed working area would hold are kept whole.
        for (int length : {180, 990}) {
            const QByteArray message = test::letters(length - 21);
            QTest::addRow("%d-byte record", length)
                << "<2024/01/02 03:04:05 " + message << "<2024.01.02-03:04:05 " + message + "\r\n"
                << QString::fromLatin1("<2024.01.02-03:04:05 " + message) << false;
        }
    }

    void presentation()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, file);
        QFETCH(QString, memo);
        QFETCH(bool, marked);

        const LogLine line = PresentLogRecord(reinterpret_cast<const std::uint8_t*>(record.constData()),
                                              static_cast<std::size_t>(record.size()));
        QCOMPARE(line.fileBytes, file);
        QCOMPARE(LogMemoText(line), memo);
        QCOMPARE(line.marked, marked);
        QCOMPARE(line.fileBytes.size(), line.line.size() + 2);
        if (marked)
            QCOMPARE(line.line.size(), record.size()); // '>' lines have the record's length
    }

    void span_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("begin");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("records");

        const int last10 = int(RecordChoice::Last10), last100 = int(RecordChoice::Last100),
                  last500 = int(RecordChoice::Last500);
        const int index = int(RecordChoice::Index), one = int(RecordChoice::One), none = int(RecordChoice::None);
        QTest::newRow("Last10, C 10 = N: from 0") << last10 << 0 << 10 << 10 << 2000 << 0 << 10;
        QTest::newRow("Last500, full ring at B 600") << last500 << 0 << 600 << 2000 << 2000 << 100 << 500;
        QTest::newRow("Last500, C 0") << last500 << 0 << 0 << 0 << 2000 << 0 << 0;
        QTest::newRow("Last100, C over M 100: wrap adds C not M") << last100 << 0 << 20 << 150 << 100 << 70 << 100;
        QTest::newRow("Last10, not full and B below N: no wrap") << last10 << 0 << 3 << 50 << 2000 << -7 << 10;
        QTest::newRow("Index 20 = C, not full: from 0") << index << 20 << 20 << 20 << 2000 << 0 << 20;
        QTest::newRow("Index 2000 = C, full ring at B 3: back from B")
            << index << 2000 << 3 << 2000 << 2000 << 3 << 2000;
        QTest::newRow("Index 30, full ring at B 3") << index << 30 << 3 << 2000 << 2000 << 1973 << 30;
        QTest::newRow("Index 2001 > C, full ring") << index << 2001 << 3 << 2000 << 2000 << 0 << 2000;
        QTest::newRow("Index 0") << index << 0 << 20 << 20 << 2000 << 20 << 0;
        QTest::newRow("Index -5: nothing") << index << -5 << 20 << 20 << 2000 << 25 << 0;
        QTest::newRow("ONE 5000, beyond the ring") << one << 5000 << 150 << 150 << 2000 << 5000 << 1;
        QTest::newRow("none ticked") << none << 0 << 150 << 150 << 2000 << 0 << 0;
        const int from = int(RecordChoice::From);
        QTest::newRow("From 140, not full at B 150") << from << 140 << 150 << 150 << 2000 << 140 << 10;
        QTest::newRow("From 150 = B, not full: nothing") << from << 150 << 150 << 150 << 2000 << 150 << 0;
        QTest::newRow("From 1990, full ring at B 3: wraps") << from << 1990 << 3 << 2000 << 2000 << 1990 << 13;
        QTest::newRow("From 3 = B, full ring: all of it") << from << 3 << 3 << 2000 << 2000 << 3 << 2000;
        QTest::newRow("From 2000, beyond the ring: nothing") << from << 2000 << 3 << 2000 << 2000 << 2000 << 0;
    }

    void span()
    {
        QFETCH(int, choice);
        QFETCH(int, number);
        QFETCH(int, begin);
        QFETCH(int, count);
        QFETCH(int, capacity);
        QFETCH(int, first);
        QFETCH(int, records);

        const RecordSpan s = ChooseLogSpan(RecordChoice(choice), number, begin, count, capacity);
        QCOMPARE(static_cast<qlonglong>(s.first), static_cast<qlonglong>(first));
        QCOMPARE(s.count, records);
    }

    // Numbers typed at the ends of int, ring C 20 = B 20: begin - number does not
    // overflow, and a negative count never comes out.
    void spanAtIntLimits_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("number");
        QTest::addColumn<qlonglong>("first");
        QTest::addColumn<int>("records");
        const int index = int(RecordChoice::Index), one = int(RecordChoice::One);
        QTest::newRow("Index -2147483648: nothing") << index << std::numeric_limits<int>::min() << 2147483668LL << 0;
        QTest::newRow("Index 2147483647: all 20") << index << std::numeric_limits<int>::max() << 0LL << 20;
        QTest::newRow("ONE 2147483647") << one << std::numeric_limits<int>::max() << 2147483647LL << 1;
    }

    void spanAtIntLimits()
    {
        QFETCH(int, choice);
        QFETCH(int, number);
        QFETCH(qlonglong, first);
        QFETCH(int, records);
        const RecordSpan s = ChooseLogSpan(RecordChoice(choice), number, 20, 20, 2000);
        QCOMPARE(static_cast<qlonglong>(s.first), first);
        QCOMPARE(s.count, records);
    }

    // Five records read with a fault on the line: repeats of the failed read, each
    // marked in the frame log, and every record shown once as the ring holds it.
    // A lost reply costs its first-byte wait: the retry wait (16 rounds of 65 ms)
    // once the controller has answered, the whole 13,065 ms for the first
    // request on the port and for a request's last try.
    void retries_data()
    {
        QTest::addColumn<QString>("fault"); // as tessavin-sim takes it
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("read");
        QTest::addColumn<int>("repeats"); // requests sent again
        QTest::addColumn<int>("waited"); // milliseconds lost to silence
        QTest::newRow("dropped reply, 1 retry") << "silence:reg=0x1A,times=1" << 1 << 5 << 1 << 1040;
        QTest::newRow("bad body checksum, 1 retry") << "bad-body:reg=0x1A,times=1" << 1 << 5 << 1 << 0;
        QTest::newRow("cut reply twice, 2 retries") << "truncated:reg=0x1A,times=2" << 2 << 5 << 2 << 0;
        QTest::newRow("dropped count reply, 1 retry") << "silence:reg=0x1C,times=1" << 1 << 5 << 1 << 13065;
        QTest::newRow("dropped twice, 1 retry: the last try waits it all")
            << "silence:reg=0x1A,times=2" << 1 << 0 << 1 << 1040 + 13065;
        QTest::newRow("retries 0: the first failure ends it") << "bad-body:reg=0x1A,times=1" << 0 << 0 << 0 << 0;
        QTest::newRow("three failures, 2 retries: ends") << "bad-header:reg=0x1A,times=3" << 2 << 0 << 2 << 0;
    }

    void retries()
    {
        QFETCH(QString, fault);
        QFETCH(int, retries);
        QFETCH(int, read);
        QFETCH(int, repeats);
        QFETCH(int, waited);
        sim::MemoryLine line;
        line.controller.addFault(*sim::ParseFault(fault));
        Session session({}, line.port, line.clock);
        session.retries = retries;
        int marked = 0;
        session.link.frameLog().attach([&](const FrameRecord& r) { marked += r.retry > 0 ? 1 : 0; });
        session.link.openPort(QStringLiteral("controller"), 38400);
        DownloadSteps<LogLine> steps;
        steps.choose = [] { return RecordPick{RecordChoice::Index, 5}; };
        QList<QByteArray> shown;
        steps.sink.show = [&](const LogLine& l) { shown << l.record; };
        const DownloadOutcome outcome = DownloadEventLog(session, false, steps);
        // Each exchange that came takes well under 100 ms.
        const auto took = line.clock->now().count();
        QVERIFY2(took >= waited && took < waited + 1000, qPrintable(QString::number(took)));

        QCOMPARE(outcome.end, read == 5 ? DownloadEnd::Completed : DownloadEnd::RecordFailed);
        QCOMPARE(outcome.read, read);
        QCOMPARE(marked, repeats);
        QCOMPARE(session.retried, repeats > 0 ? 1 : 0);
        QCOMPARE(line.received().size(), 2 + std::max(read, 1) + repeats);
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(shown[i], line.controller.state().eventLog.at(145 + i));
    }

    // Requests that change the controller go once, whatever the retries: a lost
    // reply does not tell whether the change was made.
    void changingRequestsGoOnce_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("operation");
        QTest::newRow("clear log") << "silence:reg=0x1B" << 0;
        QTest::newRow("start logging") << "silence:reg=0x33" << 1;
        QTest::newRow("registration") << "silence:reg=0x5D" << 2;
        QTest::newRow("set test mode") << "silence:cfg=0x36" << 3;
        QTest::newRow("reboot") << "silence:cfg=0x63" << 4;
        // A damaged reply leaves the command unconfirmed: neither done nor repeated.
        QTest::newRow("clear log, bad body checksum") << "bad-body:reg=0x1B" << 0;
        QTest::newRow("start logging, cut reply") << "truncated:reg=0x33" << 1;
        QTest::newRow("set test mode, bad checksum") << "bad-body:cfg=0x36" << 3;
        QTest::newRow("clear script, bad header checksum") << "bad-header:reg=0x19" << 5;
    }

    void changingRequestsGoOnce()
    {
        QFETCH(QString, fault);
        QFETCH(int, operation);
        sim::MemoryLine line;
        line.controller.addFault(*sim::ParseFault(fault));
        Session session({}, line.port, line.clock);
        session.retries = 3;
        session.link.openPort(QStringLiteral("controller"), 38400);
        const LinkError error = operation == 0 ? SendSwitchCommand(session, SwitchCommand::ClearLog)
            : operation == 1                   ? SendSwitchCommand(session, SwitchCommand::StartLogging)
            : operation == 2                   ? SendSwitchCommand(session, SwitchCommand::Registration)
            : operation == 3                   ? SetTestMode(session)
            : operation == 4                   ? RebootController(session)
                                               : ClearScript(session);
        QVERIFY(error != LinkError::None);
        QCOMPARE(ReplyDamaged(error), !fault.startsWith(QLatin1String("silence")));
        QCOMPARE(line.received().size(), 1);
        QCOMPARE(session.retried, 0);
    }
};

QTEST_GUILESS_MAIN(EventLogTest)
#include "tst_event_log.moc"
