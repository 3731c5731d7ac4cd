// The Start button against the emulated controller polling over a pseudo-terminal:
// every answer checked by the controller, the Trace memo lines, a command run
// between polls, commands refused while a poll is answered, fields that end the
// loop, and the ways the loop ends.
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <future>
#include <thread>

using namespace tessavin;
using namespace std::chrono_literals;

namespace {

// Runs `script` on a thread of its own while the window thread sits in the
// responder loop; the script reaches the window only through queued calls.
class Driver {
public:
    explicit Driver(std::function<void(Driver&)> script) : thread_([this, script] { script(*this); }) {}
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
        QMetaObject::invokeMethod(context, [f, done] { f(); done->set_value(); }, Qt::QueuedConnection);
        return future.wait_for(15s) == std::future_status::ready;
    }

private:
    std::thread thread_;
};

sim::PollSpec poll(std::uint8_t address, std::uint8_t function)
{
    sim::PollSpec pollSpec;
    pollSpec.address = address;
    pollSpec.function = function;
    return pollSpec;
}

QStringList memoLines(const TForm1& form)
{
    QStringList lines = form.Memo->toPlainText().split(QLatin1Char('\n'));
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

} // namespace

class TestPollWindow : public QObject {
    Q_OBJECT
private slots:
    // The responder runs with the default timing: polls end at the default idle
    // gap, and address 0 is answered after the default 9 ms pause.
    void answersEveryPollAndLetsCommandsRunBetween()
    {
        test::SimWindow b(LinkTiming{});
        SKIP_UNLESS_STARTED(b.start());
        sim::ControllerThread& sim = b.sim;
        TForm1& form = b.form();
        form.add1->setText(QStringLiteral("-75"));
        form.add2->setText(QStringLiteral("0"));
        form.day->setText(QStringLiteral("300"));

        // Every trace line is written while a poll is being answered: then the
        // exchange lock is held, other commands are refused and a second Start
        // returns at once.
        int lines = 0;
        int lockedDuringLine = 0;
        int refusedDuringLine = 0;
        connect(form.Memo, &QPlainTextEdit::textChanged, &form, [&] {
            ++lines;
            if (form.exchangeInProgress())
                ++lockedDuringLine;
            if (!form.beginExchange())
                ++refusedDuringLine;
            form.Button2Click();
        });

        sim::PollSpec filled = poll(1, 1);
        filled.fillBytes = 3;
        sim::PollSpec report = poll(5, 10);
        report.strand = 3;
        sim::PollSpec otherStart = poll(1, 1);
        otherStart.startByte = 0x10;
        const std::vector<std::pair<sim::PollSpec, std::chrono::milliseconds>> before{
            {poll(1, 1), 3s}, {filled, 3s},        {poll(2, 2), 3s},   {report, 3s},
            {poll(0, 1), 3s}, {poll(1, 7), 400ms}, {otherStart, 400ms},
        };
        const std::vector<sim::PollSpec> after{poll(1, 1), report};

        bool commandRan = false;
        bool stopped = false;
        std::vector<sim::PollResult> results;
        Driver driver([&](Driver& d) {
            for (const auto& [pollSpec, timeout] : before)
                results.push_back(sim.sendPoll(pollSpec, timeout));
            commandRan = d.onWindow(&form, [&form] { form.Button4Click(); });
            for (const auto& pollSpec : after)
                results.push_back(sim.sendPoll(pollSpec));
            stopped = d.onWindow(&form, [&form] { form.Button8Click(); });
        });
        form.Button2Click(); // returns when the script presses Stop
        driver.join();
        QVERIFY(commandRan);
        QVERIFY(stopped);
        QVERIFY(!form.responderRunning());

        QCOMPARE(results.size(), before.size() + after.size());
        for (const auto& r : results)
            QVERIFY2(r.ok(), r.poll.toHex(' ') + " answered " + r.answer.toHex(' '));
        // add1 = -75 for address 1 (also behind fill bytes); the computer's clock may
        // tick once between the poll and the answer.
        for (std::size_t i : {0u, 1u, 7u}) {
            QVERIFY(results[i].clockOffsetSeconds.has_value());
            QVERIFY2(*results[i].clockOffsetSeconds == -75 || *results[i].clockOffsetSeconds == -74,
                     qPrintable(QString::number(*results[i].clockOffsetSeconds)));
            QCOMPARE(results[i].day, 44);
        }
        QVERIFY(results[4].clockOffsetSeconds == 0 || results[4].clockOffsetSeconds == 1);
        QVERIFY(results[4].answerDelay >= form.session().link.timing().idleGap + form.session().link.timing().address0Pause);
        QCOMPARE(results[2].answer.mid(21, 12).toHex(' '), QByteArray("cd cc 4c 3f 00 00 00 40 00 00 80 3f"));
        QCOMPARE(results[3].answer.toHex(' '), QByteArray("55 05 06 83 43 e8"));
        QVERIFY(results[5].answer.isEmpty());
        QVERIFY(results[6].answer.isEmpty());

        // The command between the polls: the device number read over the same port.
        QVERIFY(!form.Label2->isHidden());
        QCOMPARE(form.Edi->text(), QStringLiteral("1234"));

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
        QCOMPARE(lockedDuringLine, lines);
        QCOMPARE(refusedDuringLine, lines);

        // The device-number request and its reply sit between the polls.
        const auto frames = sim.frames();
        const auto request = std::find_if(frames.begin(), frames.end(), [](const sim::LoggedFrame& fr) {
            return fr.direction == sim::Direction::Received && fr.kind == sim::FrameKind::Register;
        });
        QVERIFY(request != frames.end());
        QCOMPARE(int(std::uint8_t(request->bytes[6])), 0x2C);
    }

    void fieldErrorEndsTheLoop_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("add1 3600, address 1") << 1 << "add1" << "3600" << "Invalid argument to time encode";
        QTest::newRow("add2 1e3, address 9") << 9 << "add2" << "1e3" << "'1e3' is not a valid integer value";
    }
    void fieldErrorEndsTheLoop()
    {
        QFETCH(int, address);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        test::SimWindow b(LinkTiming{});
        SKIP_UNLESS_STARTED(b.start());
        sim::ControllerThread& sim = b.sim;
        test::WindowFixture& f = b.f;
        TForm1& form = b.form();
        auto* edit = form.findChild<QLineEdit*>(field);
        QVERIFY(edit);
        const QString good = edit->text();
        edit->setText(text);

        const auto pollSpec = poll(std::uint8_t(address), 1);
        sim::PollResult refused;
        {
            Driver driver([&](Driver&) { refused = sim.sendPoll(pollSpec, 500ms); });
            form.Button2Click(); // returns by itself after the message
            driver.join();
        }
        QCOMPARE(f.seam.messages, QStringList{message});
        QVERIFY(!form.responderRunning());
        QVERIFY(refused.answer.isEmpty());
        QVERIFY(memoLines(form).isEmpty());

        // Corrected, Start answers again.
        edit->setText(good);
        sim::PollResult answered;
        bool stopped = false;
        {
            Driver driver([&](Driver& d) {
                answered = sim.sendPoll(pollSpec);
                stopped = d.onWindow(&form, [&form] { form.Button8Click(); });
            });
            form.Button2Click();
            driver.join();
        }
        QVERIFY(stopped);
        QVERIFY2(answered.ok(), answered.answer.toHex(' '));
        QCOMPARE(answered.day, 28);
        QCOMPARE(memoLines(form).size(), 1);
        QCOMPARE(f.seam.messages.size(), 1);
    }

    void endsOnStopOrClose_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("Stop") << false;
        QTest::newRow("window closed") << true;
    }
    void endsOnStopOrClose()
    {
        // No port open: the loop waits with the window live until it is ended.
        QFETCH(bool, closeWindow);
        test::WindowFixture f;
        TForm1& form = *f.form1;
        bool sawRunning = false;
        QTimer::singleShot(50, &form, [&] {
            sawRunning = form.responderRunning();
            if (closeWindow)
                form.FormClose();
            else
                form.Button8Click();
        });
        form.Button2Click();
        QVERIFY(sawRunning);
        QVERIFY(!form.responderRunning());
        QCOMPARE(f.exits, closeWindow ? 1 : 0);
        QVERIFY(f.seam.messages.isEmpty());
    }

    void startRefusedDuringCommand()
    {
        // Start pressed while another command holds the port does not start a loop
        // inside that command's wait.
        test::WindowFixture f;
        auto lock = f.form1->beginExchange();
        QVERIFY(lock);
        f.form1->Button2Click();
        QVERIFY(!f.form1->responderRunning());
    }
};

QTEST_MAIN(TestPollWindow)
#include "tst_poll_window.moc"
