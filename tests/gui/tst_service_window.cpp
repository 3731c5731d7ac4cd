// The log control and service commands in the real window against the emulated
// controller: exact request bytes, the Status pairs, Edi, and the Confirmation
// dialog in front of Clear log and Registration.
#include "window_fixture.h"

#include "controller_thread.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <limits>

using namespace tessavin;
using namespace tessavin::test;
using namespace std::chrono_literals;

namespace {

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

struct Bench {
    Bench() : fixture(quickTiming()) {}
    bool start()
    {
        if (!sim.start())
            return false;
        form().Edit1->setText(sim.slavePath());
        form().OpenComClick();
        return !form().ok->isHidden();
    }
    TForm1& form() { return *fixture.form1; }
    QList<QByteArray> received() const
    {
        QList<QByteArray> out;
        for (const auto& f : sim.frames())
            if (f.direction == sim::Direction::Received)
                out << f.bytes.toHex(' ').toUpper();
        return out;
    }
    void fault(sim::FaultKind kind)
    {
        sim.withController([&](sim::Controller& c) { c.addFault({kind, sim::FaultTarget::any(), 1}); });
    }

    WindowFixture fixture;
    sim::ControllerThread sim;
};

enum class Pair { Log, Logging };

void (TForm1::*handlerNamed(const QString& name))()
{
    if (name == "ButKillLogClick")
        return &TForm1::ButKillLogClick;
    if (name == "Button3Click")
        return &TForm1::Button3Click;
    if (name == "StartLogClick")
        return &TForm1::StartLogClick;
    return &TForm1::StopLogClick;
}

} // namespace

class ServiceWindowTest : public QObject {
    Q_OBJECT

private slots:
    void switchCommands_data();
    void switchCommands();
    void declinedConfirmationSendsNothing_data();
    void declinedConfirmationSendsNothing();
    void ident_data();
    void ident();
    void press_data();
    void press();
    void withoutAPortTheCommandsFail();
};

void ServiceWindowTest::switchCommands_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("loggingPair");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("fault"); // -1: a proper reply
    QTest::addColumn<bool>("ok");

    struct Command {
        const char* name;
        const char* handler;
        bool asks;
        bool logging;
        const char* bytes;
    };
    const Command commands[] = {
        {"Clear log", "ButKillLogClick", true, false, "05 64 08 00 46 F7 1B 06 00 00 00 00 8B F0"},
        {"Registration", "Button3Click", true, false, "05 64 08 00 46 F7 5D 06 00 00 00 00 85 56"},
        {"StartLog", "StartLogClick", false, true, "05 64 08 00 46 F7 33 06 00 00 00 00 8D D8"},
        {"StopLog", "StopLogClick", false, true, "05 64 08 00 46 F7 34 06 00 00 00 00 8C 6F"},
    };
    for (const Command& c : commands) {
        const auto row = [&](const char* what, int fault, bool ok) {
            QTest::addRow("%s, %s", c.name, what) << c.handler << c.asks << c.logging << QByteArray(c.bytes) << fault << ok;
        };
        row("answered", -1, true);
        row("silent", int(sim::FaultKind::Silence), false);
        row("reply with both checksums wrong", int(sim::FaultKind::BadHeaderChecksum), true);
        row("truncated reply", int(sim::FaultKind::Truncated), true);
    }
}

void ServiceWindowTest::switchCommands()
{
    QFETCH(QString, handler);
    QFETCH(bool, asks);
    QFETCH(bool, loggingPair);
    QFETCH(QByteArray, request);
    QFETCH(int, fault);
    QFETCH(bool, ok);

    Bench b;
    if (!b.start())
        QSKIP("no pseudo-terminal");
    TForm1& w = b.form();
    QLabel* okLabel = loggingPair ? w.Label9 : w.Label2;
    QLabel* notOkLabel = loggingPair ? w.Label10 : w.Label5;
    QLabel* otherOk = loggingPair ? w.Label2 : w.Label9;
    // The previous verdict is the opposite one; it must vanish.
    TForm1::showStatus(okLabel, notOkLabel, !ok);
    if (fault >= 0)
        b.fault(sim::FaultKind(fault));
    if (fault == int(sim::FaultKind::BadHeaderChecksum))
        b.fault(sim::FaultKind::BadBodyChecksum);
    b.fixture.seam.confirmAnswers << 1;

    (w.*handlerNamed(handler))();

    QCOMPARE(b.fixture.seam.confirmCount, asks ? 1 : 0);
    QCOMPARE(b.received(), QList<QByteArray>{request});
    QCOMPARE(okLabel->isHidden(), !ok);
    QCOMPARE(notOkLabel->isHidden(), ok);
    QVERIFY(otherOk->isHidden()); // the other pair is left alone
    QVERIFY(b.fixture.seam.messages.isEmpty());
}

void ServiceWindowTest::declinedConfirmationSendsNothing_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<int>("answer");
    QTest::newRow("Clear log, НЕТ") << "ButKillLogClick" << 2;
    QTest::newRow("Clear log, closed") << "ButKillLogClick" << 0;
    QTest::newRow("Registration, НЕТ") << "Button3Click" << 2;
}

void ServiceWindowTest::declinedConfirmationSendsNothing()
{
    QFETCH(QString, handler);
    QFETCH(int, answer);

    Bench b;
    if (!b.start())
        QSKIP("no pseudo-terminal");
    TForm1& w = b.form();
    for (bool shown : {true, false}) {
        TForm1::showStatus(w.Label2, w.Label5, shown);
        b.fixture.seam.confirmAnswers << answer;
        (w.*handlerNamed(handler))();
        QCOMPARE(w.Label2->isHidden(), !shown);
        QCOMPARE(w.Label5->isHidden(), shown);
    }
    QCOMPARE(b.fixture.seam.confirmCount, 2);
    QVERIFY(!w.exchangeInProgress());
    // A command sent after them is the first thing the controller hears.
    w.StartLogClick();
    QCOMPARE(b.received(), QList<QByteArray>{"05 64 08 00 46 F7 33 06 00 00 00 00 8D D8"});
    const auto state = b.sim.stateSnapshot();
    QCOMPARE(state.logClears, 0);
    QCOMPARE(state.registrationCount, 0);
}

void ServiceWindowTest::ident_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("edi");
    QTest::newRow("1234") << 1234 << -1 << QStringLiteral("1234");
    QTest::newRow("2147483647") << 2147483647 << -1 << QStringLiteral("2147483647");
    QTest::newRow("0") << 0 << -1 << QString();
    QTest::newRow("-5") << -5 << -1 << QString();
    QTest::newRow("silent") << 1234 << int(sim::FaultKind::Silence) << QString();
    QTest::newRow("bad body checksum") << 1234 << int(sim::FaultKind::BadBodyChecksum) << QString();
    QTest::newRow("bad header checksum") << 1234 << int(sim::FaultKind::BadHeaderChecksum) << QString();
}

void ServiceWindowTest::ident()
{
    QFETCH(int, number);
    QFETCH(int, fault);
    QFETCH(QString, edi);

    Bench b;
    if (!b.start())
        QSKIP("no pseudo-terminal");
    TForm1& w = b.form();
    b.sim.withController([&](sim::Controller& c) { c.state().deviceNumber = number; });
    if (fault >= 0)
        b.fault(sim::FaultKind(fault));
    w.Edi->setText("old");
    w.Button4Click();

    QCOMPARE(b.received(), QList<QByteArray>{"05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7"});
    QCOMPARE(w.Edi->text(), edi);
    const bool ok = !edi.isEmpty();
    QCOMPARE(w.Label2->isHidden(), !ok);
    QCOMPARE(w.Label5->isHidden(), ok);
}

void ServiceWindowTest::press_data()
{
    QTest::addColumn<float>("pressure");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("edi");
    QTest::addColumn<bool>("ok");
    QTest::newRow("1.5") << 1.5f << -1 << QStringLiteral("     1.50") << true;
    QTest::newRow("123.456") << 123.456f << -1 << QStringLiteral("    123.46") << true;
    QTest::newRow("0.004") << 0.004f << -1 << QStringLiteral("     0.00") << true;
    QTest::newRow("0") << 0.0f << -1 << QStringLiteral("    ") << false;
    QTest::newRow("-2.5") << -2.5f << -1 << QStringLiteral("    ") << false;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -1 << QStringLiteral("    ") << false;
    QTest::newRow("silent") << 1.5f << int(sim::FaultKind::Silence) << QStringLiteral("    ") << false;
    QTest::newRow("bad body checksum") << 1.5f << int(sim::FaultKind::BadBodyChecksum) << QStringLiteral("    ") << false;
}

void ServiceWindowTest::press()
{
    QFETCH(float, pressure);
    QFETCH(int, fault);
    QFETCH(QString, edi);
    QFETCH(bool, ok);

    Bench b;
    if (!b.start())
        QSKIP("no pseudo-terminal");
    TForm1& w = b.form();
    b.sim.withController([&](sim::Controller& c) { c.state().pressure = pressure; });
    if (fault >= 0)
        b.fault(sim::FaultKind(fault));
    w.Edi->setText("old");
    TForm1::showStatus(w.Label2, w.Label5, !ok);
    w.Button5Click();

    QCOMPARE(b.received(), QList<QByteArray>{"05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66"});
    QCOMPARE(w.Edi->text(), edi);
    QCOMPARE(w.Label2->isHidden(), !ok);
    QCOMPARE(w.Label5->isHidden(), ok);
}

void ServiceWindowTest::withoutAPortTheCommandsFail()
{
    WindowFixture f(quickTiming());
    TForm1& w = *f.form1;
    w.StartLogClick();
    QVERIFY(!w.Label10->isHidden());
    QVERIFY(w.Label9->isHidden());
    f.seam.confirmAnswers << 1;
    w.ButKillLogClick();
    QVERIFY(!w.Label5->isHidden());
    w.Button5Click();
    QCOMPARE(w.Edi->text(), QStringLiteral("    "));
    QVERIFY(!w.Label5->isHidden());
    QVERIFY(f.seam.messages.isEmpty());
}

QTEST_MAIN(ServiceWindowTest)
#include "tst_service_window.moc"
