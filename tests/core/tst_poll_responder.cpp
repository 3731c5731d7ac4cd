// Answering one poll: the date-and-time, coefficient and report answers built over
// the poll in the Frame buffer, the trace lines, fill bytes, polls left unanswered
// and fields that cannot be used.
#include "protocol/checksum.h"
#include "sim/controller_polls.h"
#include "features/poll_responder.h"
#include "tests/support/test_support.h"

#include <QTest>

#include <algorithm>

using namespace tessavin;
using tessavin::test::hex;

namespace {

// A buffer as the responder finds it: older traffic, then the poll over its start.
// A uniform older traffic looks the same after fill bytes have been dropped.
FrameBuffer bufferWith(const QByteArray& poll, bool uniform = false)
{
    FrameBuffer frame;
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(uniform ? 0x30 : 0x30 + i % 7);
    std::copy(poll.begin(), poll.end(), frame.begin());
    return frame;
}

QByteArray head(const FrameBuffer& frame, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n));
}

// A report poll from `address` for `strand` with three values given as their
// big-endian bytes at offsets 22, 26 and 30.
QByteArray reportPoll(std::uint8_t address, std::uint8_t strand, const QByteArray& values)
{
    QByteArray poll(36, '\0');
    poll[0] = char(0xAA);
    poll[1] = char(address);
    poll[2] = 36;
    poll[3] = 10;
    poll[4] = char(strand);
    poll.replace(22, 12, values);
    return poll;
}

struct Run {
    FrameBuffer frame;
    PollOutcome outcome;
    QStringList lines;
    QStringList events; // trace lines and pauses, in order
};

Run answer(const QByteArray& poll, const PollInputs& inputs, bool uniform = false)
{
    Run run{bufferWith(poll, uniform), {}, {}, {}};
    PollHooks hooks{[&run](const QString& line) {
                        run.lines << line;
                        run.events << line;
                    },
                    [&run] { run.events << QStringLiteral("pause"); }};
    run.outcome = AnswerPoll(run.frame, inputs, hooks);
    return run;
}

PollInputs fields(const QString& day, const QString& add1, const QString& add2, QTime time)
{
    return PollInputs{day, add1, add2, time, QStringLiteral(".")};
}

// The offsets a date-and-time answer sets; every other byte keeps the poll's.
bool setByDateAnswer(std::size_t i) { return i <= 4 || (i >= 56 && i <= 63) || i == 69 || i == 163 || i == 164; }

} // namespace

class TestPollResponder : public QObject {
    Q_OBJECT
private slots:
    void dateAndTime_data()
    {
        QTest::addColumn<QByteArray>("poll");
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("add1");
        QTest::addColumn<QString>("add2");
        QTest::addColumn<QTime>("local");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QTime>("device");
        QTest::addColumn<int>("dayByte");

        const QByteArray fromOne = hex("AA 01 08 01 11 22 5A 6B");
        QTest::newRow("AA 01 08 01, add1 -75")
            << fromOne << "28"
            << "-75"
            << "0" << QTime(10, 9, 0) << "1>   min: 7sec:45" << QTime(10, 7, 45) << 28;
        QTest::newRow("AA 01 08 01, add1 -75 past midnight")
            << fromOne << "28"
            << "-75"
            << "0" << QTime(0, 0, 30) << "1>   min: 59sec:15" << QTime(23, 59, 15) << 28;
        QTest::newRow("AA 01 08 01, add1 3599")
            << fromOne << "28"
            << "3599"
            << "0" << QTime(23, 30, 0) << "1>   min: 29sec:59" << QTime(0, 29, 59) << 28;
        QTest::newRow("AA 01 08 01, day 300") << fromOne << "300"
                                              << "0"
                                              << "0" << QTime(8, 5, 9) << "1>   min: 5sec:9" << QTime(8, 5, 9) << 44;
        QTest::newRow("AA 01 08 01, day -1") << fromOne << "-1"
                                             << "0"
                                             << "0" << QTime(8, 5, 9) << "1>   min: 5sec:9" << QTime(8, 5, 9) << 255;
        QTest::newRow("AA 02 08 01, add2 0")
            << hex("AA 02 08 01 00 00 00 00") << "28"
            << "-75"
            << "0" << QTime(17, 42, 3) << "2>   min: 42sec:3" << QTime(17, 42, 3) << 28;
        QTest::newRow("AA 02 08 01, add1 not read")
            << hex("AA 02 08 01") << "28"
            << "junk"
            << "120" << QTime(17, 42, 3) << "2>   min: 44sec:3" << QTime(17, 44, 3) << 28;
        QTest::newRow("AA 00 08 01, add2 -1")
            << hex("AA 00 08 01") << "28"
            << "0"
            << "-1" << QTime(17, 0, 0) << "0>   min: 59sec:59" << QTime(16, 59, 59) << 28;
        QTest::newRow("AA C8 08 01, add2 +61")
            << hex("AA C8 08 01") << "  7"
            << "0"
            << "+61" << QTime(6, 58, 59) << "200>   min: 0sec:0" << QTime(7, 0, 0) << 7;
    }
    void dateAndTime()
    {
        QFETCH(QByteArray, poll);
        QFETCH(QString, dayText);
        QFETCH(QString, add1);
        QFETCH(QString, add2);
        QFETCH(QTime, local);
        QFETCH(QString, line);
        QFETCH(QTime, device);
        QFETCH(int, dayByte);

        const Run run = answer(poll, fields(dayText, add1, add2, local));
        QVERIFY2(run.outcome.error.isEmpty(), qPrintable(run.outcome.error));
        QCOMPARE(run.lines, QStringList{line});
        QCOMPARE(run.outcome.answerLength, std::size_t(165));
        const QByteArray expectedHead = hex("55 00 A5 81 01").replace(1, 1, poll.mid(1, 1));
        QCOMPARE(head(run.frame, 5).toHex(' '), expectedHead.toHex(' '));
        QCOMPARE(int(run.frame[56]), 8);
        QCOMPARE(int(run.frame[57]), dayByte);
        QCOMPARE(int(run.frame[58]), 17);
        QCOMPARE(int(run.frame[59]), device.hour());
        QCOMPARE(int(run.frame[60]), device.minute());
        QCOMPARE(int(run.frame[61]), device.second());
        QCOMPARE(int(run.frame[62]), 9);
        QCOMPARE(int(run.frame[63]), 0x26);
        QCOMPARE(int(run.frame[69]), 0x0B);
        QVERIFY(ChecksumMatches(run.frame.data(), 163));
        const FrameBuffer before = bufferWith(poll);
        for (std::size_t i = 0; i < before.size(); ++i)
            if (!setByDateAnswer(i) && run.frame[i] != before[i])
                QFAIL(qPrintable(QStringLiteral("byte %1 changed").arg(i)));
    }

    void coefficients()
    {
        const QByteArray poll = hex("AA 02 08 02 10 20 30 40");
        const Run run = answer(poll, fields("28", "-75", "0", QTime(9, 0, 0)));
        QCOMPARE(run.outcome.answerLength, std::size_t(130));
        QCOMPARE(head(run.frame, 5).toHex(' '), QByteArray("55 ") + poll.mid(1, 1).toHex() + " 82 82 01");
        QCOMPARE(head(run.frame, 33).mid(21).toHex(' '), QByteArray("cd cc 4c 3f 00 00 00 40 00 00 80 3f"));
        QVERIFY(ChecksumMatches(run.frame.data(), 128));
        const FrameBuffer before = bufferWith(poll);
        for (std::size_t i = 5; i < 21; ++i)
            QCOMPARE(run.frame[i], before[i]);
        for (std::size_t i = 33; i < before.size(); ++i)
            if (i != 128 && i != 129)
                QCOMPARE(run.frame[i], before[i]);
    }

    void report_data()
    {
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QString>("decimalPoint");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("12.5, 0.8, -2") << hex("41 48 00 00 3F 4C CC CD C0 00 00 00") << "."
                                       << QStringList{"5,нитка 3  22>   f: 12.5", "5  26>   f: 0.800000011920929",
                                                      "5  30>   f: -2", "--->   min: 7sec:45"};
        QTest::newRow("12.5, 0.8, 1e20 with a comma")
            << hex("41 48 00 00 3F 4C CC CD 60 AD 78 EC") << ","
            << QStringList{"5,нитка 3  22>   f: 12,5", "5  26>   f: 0,800000011920929",
                           "5  30>   f: 1,00000002004088e+20", "--->   min: 7sec:45"};
    }
    void report()
    {
        QFETCH(QByteArray, values);
        QFETCH(QString, decimalPoint);
        QFETCH(QStringList, lines);
        // add2 shifts the device clock of the first line only; the last line is the
        // computer's own time.
        PollInputs inputs = fields("28", "0", "-60", QTime(10, 7, 45));
        inputs.decimalPoint = decimalPoint;
        const Run run = answer(reportPoll(5, 3, values), inputs);
        QCOMPARE(run.lines, QStringList{"5>   min: 6sec:45"} + lines);
        QCOMPARE(run.outcome.answerLength, std::size_t(6));
        QCOMPARE(head(run.frame, 6).toHex(' '), QByteArray("55 05 06 83 43 e8"));
        QCOMPARE(head(run.frame, 36).mid(6), reportPoll(5, 3, values).mid(6));
    }

    void fillBytes_data()
    {
        QTest::addColumn<QByteArray>("poll");
        QTest::addColumn<int>("fill");
        QTest::newRow("3 x FF, AA 01 08 01") << hex("AA 01 08 01 11 22 5A 6B") << 3;
        QTest::newRow("1 x FF, AA 02 08 02") << hex("AA 02 08 02") << 1;
        QTest::newRow("7 x FF, report") << reportPoll(9, 4, hex("41 48 00 00 3F 4C CC CD C0 00 00 00")) << 7;
        QTest::newRow("3 x FF, AA 01 08 07") << hex("AA 01 08 07") << 3;
    }
    void fillBytes()
    {
        QFETCH(QByteArray, poll);
        QFETCH(int, fill);
        // add2 would shift the clock by a minute: address 1 must still pick add1.
        const PollInputs inputs = fields("28", "-75", "60", QTime(10, 9, 0));
        const Run plain = answer(poll, inputs, true);
        const Run filled = answer(QByteArray(fill, char(0xFF)) + poll, inputs, true);
        QCOMPARE(filled.lines, plain.lines);
        QCOMPARE(filled.outcome.answerLength, plain.outcome.answerLength);
        QCOMPARE(head(filled.frame, 300), head(plain.frame, 300));
    }

    // The emulated controller's polls behind the most fill bytes it sends are
    // answered as it expects; behind more it expects no answer, and the
    // responder, which then cannot place the poll's head whole, gives none.
    void fillLimitOfTheEmulatedController_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("fill");
        QTest::newRow("date, 497 fill bytes") << 1 << 497;
        QTest::newRow("coefficients, 497 fill bytes") << 2 << 497;
        QTest::newRow("report, 497 fill bytes") << 10 << 497;
        QTest::newRow("date, 498 fill bytes") << 1 << 498;
        QTest::newRow("date, 499 fill bytes") << 1 << 499;
        QTest::newRow("function 7 to address 1, 499 fill bytes") << 7 << 499;
    }
    void fillLimitOfTheEmulatedController()
    {
        QFETCH(int, function);
        QFETCH(int, fill);
        sim::PollSpec pollSpec;
        pollSpec.function = static_cast<std::uint8_t>(function);
        pollSpec.fillBytes = fill;
        const QByteArray poll = sim::BuildPoll(pollSpec);
        const Run run = answer(poll, fields("28", "0", "0", QTime(10, 0, 0)));
        const sim::PollResult result = sim::CheckPollAnswer(pollSpec, head(run.frame, run.outcome.answerLength));
        QVERIFY(result.ok());
        QCOMPARE(result.answerExpected, fill <= 497);
    }

    void fillOnly()
    {
        // A buffer of nothing but fill: the drop stops after its moves, nothing is
        // answered and nothing is written outside the buffer.
        FrameBuffer frame;
        frame.fill(0xFF);
        QStringList lines;
        const PollOutcome outcome = AnswerPoll(frame, fields("28", "0", "0", QTime(1, 2, 3)),
                                               {[&lines](const QString& l) { lines << l; }, {}});
        QCOMPARE(outcome.answerLength, std::size_t(0));
        QCOMPARE(lines, QStringList{"255>   min: 2sec:3"});
        QVERIFY(std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0xFF; }));

        // 600 fill bytes before a poll: 500 moves, then the byte at 0 is still fill.
        FrameBuffer longFill = bufferWith(QByteArray(600, char(0xFF)) + hex("AA 01 08 01"));
        QCOMPARE(DropFillBytes(longFill), std::size_t(500));
        QCOMPARE(int(longFill[0]), 0xFF);
    }

    // The trace line of every poll, the 9 ms pause before anything for address 0
    // (after fill bytes are dropped), and no answer to other start bytes or
    // function codes: then the buffer is left as it was.
    void traceAndPause_data()
    {
        QTest::addColumn<QByteArray>("poll");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("answered");
        const QString one = QStringLiteral("1>   min: 9sec:0"), zero = QStringLiteral("0>   min: 9sec:0");
        QTest::newRow("AA 01 08 01") << hex("AA 01 08 01") << QStringList{one} << true;
        QTest::newRow("FF AA 01 08 01") << hex("FF AA 01 08 01") << QStringList{one} << true;
        QTest::newRow("AA 00 08 01") << hex("AA 00 08 01") << QStringList{"pause", zero} << true;
        QTest::newRow("FF FF AA 00 08 02") << hex("FF FF AA 00 08 02") << QStringList{"pause", zero} << true;
        QTest::newRow("00 00 08 07") << hex("00 00 08 07") << QStringList{"pause", zero} << false;
        QTest::newRow("AA 01 08 07") << hex("AA 01 08 07 00 00 00 00") << QStringList{one} << false;
        QTest::newRow("AA 01 08 00") << hex("AA 01 08 00") << QStringList{one} << false;
        QTest::newRow("10 01 08 01") << hex("10 01 08 01 00 00 00 00") << QStringList{one} << false;
        QTest::newRow("single byte 00") << hex("00") << QStringList{"49>   min: 9sec:0"} << false;
    }
    void traceAndPause()
    {
        QFETCH(QByteArray, poll);
        QFETCH(QStringList, events);
        QFETCH(bool, answered);
        const Run run = answer(poll, fields("28", "0", "0", QTime(10, 9, 0)));
        QVERIFY(run.outcome.error.isEmpty());
        QCOMPARE(run.events, events);
        QCOMPARE(run.outcome.answerLength > 0, answered);
        if (!answered)
            QVERIFY(run.frame == bufferWith(poll));
    }

    void badFields_data()
    {
        QTest::addColumn<QByteArray>("poll");
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("add1");
        QTest::addColumn<QString>("add2");
        QTest::addColumn<QString>("message");
        const QByteArray fromOne = hex("AA 01 08 01");
        const QByteArray fromTwo = hex("AA 02 08 01");
        QTest::newRow("add1 3600") << fromOne << "28"
                                   << "3600"
                                   << "0"
                                   << "Invalid argument to time encode";
        QTest::newRow("add2 -2147483648") << fromTwo << "28"
                                          << "0"
                                          << "-2147483648"
                                          << "Invalid argument to time encode";
        QTest::newRow("day abc") << fromOne << "abc"
                                 << "0"
                                 << "0"
                                 << "'abc' is not a valid integer value";
        QTest::newRow("day empty, report poll") << reportPoll(1, 1, QByteArray(12, '\0')) << ""
                                                << "0"
                                                << "0"
                                                << "'' is not a valid integer value";
        QTest::newRow("day bad before add1 bad") << fromOne << "2 8"
                                                 << "x"
                                                 << "0"
                                                 << "'2 8' is not a valid integer value";
        QTest::newRow("add2 99999999999") << fromTwo << "28"
                                          << "0"
                                          << "99999999999"
                                          << "'99999999999' is not a valid integer value";
        QTest::newRow("unanswered poll, add2 x") << hex("10 07 08 01") << "28"
                                                 << "0"
                                                 << "x"
                                                 << "'x' is not a valid integer value";
    }
    void badFields()
    {
        QFETCH(QByteArray, poll);
        QFETCH(QString, dayText);
        QFETCH(QString, add1);
        QFETCH(QString, add2);
        QFETCH(QString, message);
        const Run run = answer(poll, fields(dayText, add1, add2, QTime(10, 9, 0)));
        QCOMPARE(run.outcome.error, message);
        QCOMPARE(run.outcome.answerLength, std::size_t(0));
        QVERIFY(run.events.isEmpty());
        const QByteArray dropped = poll.mid(poll.indexOf(char(0xAA)) < 0 ? 0 : poll.indexOf(char(0xAA)));
        QCOMPARE(head(run.frame, std::size_t(dropped.size())), dropped);
    }
};

QTEST_GUILESS_MAIN(TestPollResponder)
#include "tst_poll_responder.moc"
