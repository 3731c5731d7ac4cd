// The Start button against the emulated controller polling, in memory on a
// virtual clock with the system's timings: every answer checked by the controller
// and written exactly one idle gap (60 ms) after its poll, address 0 after the
// 9 ms pause as well; the Trace memo lines; a command run between polls; commands
// and a second Start refused while a poll is answered; fields that end the loop;
// Stop and closing the window within one pump slice. One run goes over a
// pseudo-terminal with the real port in real time.
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

namespace {

sim::PollSpec poll(std::uint8_t address, std::uint8_t function)
{
    sim::PollSpec pollSpec;
    pollSpec.address = address;
    pollSpec.function = function;
    return pollSpec;
}

QStringList memoLines(const TForm1& form)
{
    QStringList lines = widget<QPlainTextEdit>(form, "Memo")->toPlainText().split(QLatin1Char('\n'));
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

int secondsOfDay(QTime time) { return time.msecsSinceStartOfDay() / 1000; }

const QByteArray kIdentRequest = hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7");

// The window and the controller in memory; polls and presses are scheduled on
// the virtual clock before Start is pressed (the loop waits without limit). A
// loop that Stop could not end is ended by closing the window after ten virtual
// minutes, and the test fails.
struct Bench : MemoryWindow {
    Bench()
    {
        at(10min, [this] {
            overran = true;
            form().FormClose();
        });
    }
    ~Bench()
    {
        if (overran)
            QTest::qFail("the poll loop still ran after ten minutes", __FILE__, __LINE__);
    }
    bool overran = false;
    // The controller sends the poll at this moment.
    void pollAt(ms when, const sim::PollSpec& pollSpec) { line.sendPoll(pollSpec, when - now()); }
    // A person does this at that moment.
    void at(ms when, std::function<void()> action) { line.clock->at(when, std::move(action)); }
    void stopAt(ms when)
    {
        at(when, [this] { press(widget<QPushButton>(form(), "Button8")); });
    }
    // When each frame went out (in milliseconds, readable in a failure), and the frames.
    QList<qint64> writtenTimes() const
    {
        QList<qint64> out;
        for (const MemoryPort::Written& w : line.port->writtenAt())
            out << w.at.count();
        return out;
    }
    QByteArray writtenAt(ms when) const
    {
        for (const MemoryPort::Written& w : line.port->writtenAt())
            if (w.at == when)
                return w.bytes;
        return {};
    }
};

// Runs `script` on a thread of its own while the window thread sits in the
// responder loop; the script reaches the window only through queued calls.
class Driver {
public:
    explicit Driver(std::function<void(Driver&)> script) : thread_([this, script] { script(*this); }) { }
    ~Driver() { join(); }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    // Runs f on the window thread (inside the responder's wait) and waits for it.
    bool onWindow(QObject* context, std::function<void()> f)
    {
        auto done = std::make_shared<std::promise<void>>();
        auto future = done->get_future();
        QMetaObject::invokeMethod(
            context,
            [f, done] {
                f();
                done->set_value();
            },
            Qt::QueuedConnection);
        return future.wait_for(15s) == std::future_status::ready;
    }

private:
    std::thread thread_;
};

} // namespace

class TestPollWindow : public QObject {
    Q_OBJECT
private slots:
    void answersEveryPollAndLetsCommandsRunBetween()
    {
        Bench b;
        QVERIFY(b.start());
        TForm1& form = b.form();
        widget<QLineEdit>(form, "add1")->setText(QStringLiteral("-75"));
        widget<QLineEdit>(form, "add2")->setText(QStringLiteral("0"));
        widget<QLineEdit>(form, "day")->setText(QStringLiteral("300"));

        // Every trace line is written while a poll is being answered: then the
        // exchange lock is held, command buttons are refused (Clear log asks
        // nothing) and a second Start returns at once.
        int lines = 0;
        int lockedDuringLine = 0;
        int refusedDuringLine = 0;
        b.f.seam.confirmAnswers << 1;
        connect(widget<QPlainTextEdit>(form, "Memo"), &QPlainTextEdit::textChanged, &form, [&] {
            ++lines;
            if (form.exchangeInProgress())
                ++lockedDuringLine;
            if (!form.beginExchange())
                ++refusedDuringLine;
            press(widget<QPushButton>(form, "ButKillLog"));
            press(widget<QPushButton>(form, "Button2"));
        });

        sim::PollSpec filled = poll(1, 1);
        filled.fillBytes = 3;
        sim::PollSpec report = poll(5, 10);
        report.strand = 3;
        sim::PollSpec otherStart = poll(1, 1);
        otherStart.startByte = 0x10;
        // Each poll and when its answer goes out: once the line has been idle
        // for 60 ms, and for address 0 after a further 9 ms; none for another
        // function code or start byte.
        struct Polled {
            ms at;
            sim::PollSpec pollSpec;
            std::optional<ms> answeredAt;
        };
        const std::vector<Polled> polls{
            {1000ms, poll(1, 1), 1060ms}, {2000ms, filled, 2060ms},     {3000ms, poll(2, 2), 3060ms},
            {4000ms, report, 4060ms},     {5000ms, poll(0, 1), 5069ms}, {6000ms, poll(1, 7), {}},
            {7000ms, otherStart, {}},     {9000ms, poll(1, 1), 9060ms}, {10000ms, report, 10060ms},
        };
        for (const Polled& p : polls)
            b.pollAt(p.at, p.pollSpec);
        // Ident between the polls, over the same port; Start pressed again.
        b.at(8000ms, [&form] { form.Button4Click(); });
        std::optional<ms> secondStartTook;
        b.at(8500ms, [&] {
            const ms before = b.now();
            press(widget<QPushButton>(form, "Button2"));
            secondStartTook = b.now() - before;
        });
        b.stopAt(11000ms);

        const int startedAt = secondsOfDay(QTime::currentTime());
        press(widget<QPushButton>(form, "Button2")); // returns when Stop is pressed
        QVERIFY(!form.responderRunning());
        QVERIFY(b.now() >= 11000ms);
        QVERIFY(secondStartTook.has_value());
        QCOMPARE(secondStartTook->count(), 0);
        QCOMPARE(b.f.seam.confirmCount, 0);

        // What went out and when: the answers and the Ident request at 8 s.
        QList<qint64> expectedTimes;
        for (const Polled& p : polls)
            if (p.answeredAt)
                expectedTimes << p.answeredAt->count();
        expectedTimes.insert(5, 8000);
        QCOMPARE(b.writtenTimes(), expectedTimes);
        QCOMPARE(b.writtenAt(8000ms), kIdentRequest);
        QCOMPARE(b.received(), QList<QByteArray>{kIdentRequest});
        QVERIFY(!widget<QLabel>(form, "Label2")->isHidden());
        QCOMPARE(widget<QLineEdit>(form, "Edi")->text(), QStringLiteral("1234"));

        std::vector<sim::PollResult> results;
        for (const Polled& p : polls) {
            const QByteArray answer = p.answeredAt ? b.writtenAt(*p.answeredAt) : QByteArray();
            results.push_back(sim::CheckPollAnswer(p.pollSpec, answer, startedAt));
            QVERIFY2(results.back().ok(), sim::BuildPoll(p.pollSpec).toHex(' ') + " answered " + answer.toHex(' '));
        }
        // add1 = -75 for address 1 (also behind fill bytes), add2 = 0 for address 0;
        // the computer's clock may tick once during the run. Day 300 goes out as 44.
        for (std::size_t i : {0u, 1u, 7u, 4u}) {
            const int offset = i == 4 ? 0 : -75;
            QVERIFY(results[i].clockOffsetSeconds.has_value());
            QVERIFY2(*results[i].clockOffsetSeconds == offset || *results[i].clockOffsetSeconds == offset + 1,
                     qPrintable(QString::number(*results[i].clockOffsetSeconds)));
            QCOMPARE(results[i].day, 44);
        }
        QCOMPARE(results[2].answer.mid(21, 12).toHex(' '), QByteArray("cd cc 4c 3f 00 00 00 40 00 00 80 3f"));
        QCOMPARE(results[3].answer.toHex(' '), QByteArray("55 05 06 83 43 e8"));
        QCOMPARE(results[8].answer.toHex(' '), QByteArray("55 05 06 83 43 e8"));

        // One line per poll, answered or not, and four more for each report.
        const QString point = QRegularExpression::escape(QLocale::system().decimalPoint());
        const QString number = QStringLiteral("\\d{1,2}");
        QStringList expected;
        for (const auto& r : results) {
            const QString address = QString::number(r.pollSpec.address);
            if (r.pollSpec.function == 1 && !r.answer.isEmpty())
                expected << address + QStringLiteral(">   min: %1sec:%2").arg(r.minute).arg(r.second);
            else
                expected << address + QStringLiteral(">   min: ") + number + QStringLiteral("sec:") + number;
            if (r.pollSpec.function == 10) {
                expected << QStringLiteral("5,нитка 3  22>   f: 12") + point + QStringLiteral("5")
                         << QStringLiteral("5  26>   f: 0") + point + QStringLiteral("800000011920929")
                         << QStringLiteral("5  30>   f: -3") + point + QStringLiteral("25")
                         << QStringLiteral("--->   min: ") + number + QStringLiteral("sec:") + number;
            }
        }
        const QStringList shown = memoLines(form);
        QCOMPARE(shown.size(), expected.size());
        for (int i = 0; i < shown.size(); ++i) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected[i]));
            QVERIFY2(pattern.match(shown[i]).hasMatch(), qPrintable(shown[i] + QStringLiteral(" vs ") + expected[i]));
        }
        QCOMPARE(lines, shown.size());
        QCOMPARE(lockedDuringLine, lines);
        QCOMPARE(refusedDuringLine, lines);
    }

    // A field that cannot be used ends the loop at the poll that reads it, with
    // its message and no answer; corrected, Start answers again.
    void fieldErrorEndsTheLoop_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("add1 3600, address 1") << 1 << "add1"
                                              << "3600"
                                              << "Invalid argument to time encode";
        QTest::newRow("add2 1e3, address 9") << 9 << "add2"
                                             << "1e3"
                                             << "'1e3' is not a valid integer value";
        QTest::newRow("day x, address 0, before its pause") << 0 << "day"
                                                            << "x"
                                                            << "'x' is not a valid integer value";
    }
    void fieldErrorEndsTheLoop()
    {
        QFETCH(int, address);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Bench b;
        QVERIFY(b.start());
        TForm1& form = b.form();
        auto* edit = form.findChild<QLineEdit*>(field);
        QVERIFY(edit);
        const QString good = edit->text();
        edit->setText(text);

        const auto pollSpec = poll(std::uint8_t(address), 1);
        b.pollAt(1000ms, pollSpec);
        press(widget<QPushButton>(form, "Button2")); // returns by itself after the message
        QCOMPARE(b.now().count(), 1060); // as soon as the poll has ended
        QCOMPARE(b.f.seam.messages, QStringList{message});
        QVERIFY(!form.responderRunning());
        QVERIFY(b.line.port->written().isEmpty());
        QVERIFY(memoLines(form).isEmpty());

        edit->setText(good);
        b.pollAt(2000ms, pollSpec);
        b.stopAt(3000ms);
        press(widget<QPushButton>(form, "Button2"));
        const QList<QByteArray> answers = b.line.pollAnswers();
        QCOMPARE(answers.size(), 1);
        const sim::PollResult answered = sim::CheckPollAnswer(pollSpec, answers[0]);
        QVERIFY2(answered.ok(), answers[0].toHex(' '));
        QCOMPARE(answered.day, 28);
        QCOMPARE(memoLines(form).size(), 1);
        QCOMPARE(b.f.seam.messages.size(), 1);
    }

    // Stop or closing the window ends the loop within one pump slice (10 ms),
    // whether a port is open or not (then the loop waits with the window live).
    void endsOnStopOrClose_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("Stop") << false << true;
        QTest::newRow("Stop, no port") << false << false;
        QTest::newRow("window closed") << true << true;
        QTest::newRow("window closed, no port") << true << false;
    }
    void endsOnStopOrClose()
    {
        QFETCH(bool, closeWindow);
        QFETCH(bool, portOpen);
        Bench b;
        QVERIFY(b.start(portOpen));
        TForm1& form = b.form();
        bool sawRunning = false;
        b.at(5000ms, [&] {
            sawRunning = form.responderRunning();
            if (closeWindow)
                form.close();
            else
                press(widget<QPushButton>(form, "Button8"));
        });
        press(widget<QPushButton>(form, "Button2"));
        QVERIFY(sawRunning);
        QVERIFY(!form.responderRunning());
        QVERIFY2(b.now() >= 5000ms && b.now() <= 5010ms, qPrintable(QString::number(b.now().count())));
        QCOMPARE(b.f.exits, closeWindow ? 1 : 0);
        QCOMPARE(form.session().link.isOpen(), portOpen && !closeWindow);
        QVERIFY(b.f.seam.messages.isEmpty());
        QVERIFY(b.line.port->written().isEmpty());
    }

    // Start pressed while a LOG download holds the port returns at once and
    // starts no loop inside that download's wait; the download reads on.
    void startRefusedDuringCommand()
    {
        Bench b;
        QVERIFY(b.start());
        TForm1& form = b.form();
        widget<QCheckBox>(form, "Last10")->click();
        std::optional<ms> startTook;
        bool startedLoop = true;
        b.at(300ms, [&] {
            const ms before = b.now();
            press(widget<QPushButton>(form, "Button2"));
            startTook = b.now() - before;
            startedLoop = form.responderRunning();
        });
        press(widget<QPushButton>(form, "ButContLog"));
        QVERIFY(startTook.has_value());
        QCOMPARE(startTook->count(), 0);
        QVERIFY(!startedLoop);
        QVERIFY(!form.responderRunning());
        QCOMPARE(requestedIndexes(b.received(), reg::kLogRecord), range(140, 149));
        QCOMPARE(widget<QPlainTextEdit>(form, "Memo1")->toPlainText().split(QLatin1Char('\n')).mid(0, 2),
                 (QStringList{"N=150", "OK=150"}));
        QVERIFY(widget<QLabel>(form, "Label5")->isHidden()); // no record failed
    }

    // The same loop over a pseudo-terminal with the real port and the system's
    // timings: the controller's own thread polls and checks the answers.
    void answersOverAPseudoTerminal()
    {
        SimWindow b(LinkTiming{});
        SKIP_UNLESS_STARTED(b.start());
        TForm1& form = b.form();
        widget<QLineEdit>(form, "add1")->setText(QStringLiteral("-75"));
        sim::PollSpec report = poll(5, 10);
        report.strand = 3;

        std::vector<sim::PollResult> results;
        bool stopped = false;
        bool overran = false;
        Driver driver([&](Driver& d) {
            results.push_back(b.sim.sendPoll(poll(1, 1)));
            results.push_back(b.sim.sendPoll(report));
            stopped = d.onWindow(&form, [&] {
                press(widget<QPushButton>(form, "Button8"));
                // A loop that Stop did not end is ended by closing the window.
                QTimer::singleShot(5s, &form, [&] {
                    overran = form.responderRunning();
                    if (overran)
                        form.FormClose();
                });
            });
        });
        press(widget<QPushButton>(form, "Button2")); // returns when the script presses Stop
        driver.join();
        QVERIFY(stopped);
        QVERIFY(!overran);
        QVERIFY(!form.responderRunning());
        QCOMPARE(results.size(), std::size_t(2));
        for (const auto& r : results)
            QVERIFY2(r.ok(), r.poll.toHex(' ') + " answered " + r.answer.toHex(' '));
        QVERIFY(results[0].clockOffsetSeconds == -75 || results[0].clockOffsetSeconds == -74);
        QCOMPARE(results[0].day, 28);
        QCOMPARE(results[1].answer.toHex(' '), QByteArray("55 05 06 83 43 e8"));
        QCOMPARE(memoLines(form).size(), 1 + 5);
    }
};

QTEST_MAIN(TestPollWindow)
#include "tst_poll_window.moc"
