// The log control and service commands in the real window against the emulated
// controller: exact request bytes, the Status pairs, Edi, and the Confirmation
// dialog in front of Clear log and Registration.
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <limits>

using namespace tessavin;
using namespace tessavin::test;

namespace {

void run(TForm1& w, const QString& handler) { QVERIFY(QMetaObject::invokeMethod(&w, handler.toLatin1().constData())); }

} // namespace

class ServiceWindowTest : public QObject {
    Q_OBJECT

private slots:
    void switchCommands_data()
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
                QTest::addRow("%s, %s", c.name, what) << c.handler << c.asks << c.logging << hex(c.bytes) << fault << ok;
            };
            row("answered", -1, true);
            row("silent", int(sim::FaultKind::Silence), false);
            // Any reply at all counts, whatever its checksums.
            if (c.logging)
                row("truncated reply with a bad checksum", int(sim::FaultKind::Truncated), true);
        }
    }

    void switchCommands()
    {
        QFETCH(QString, handler);
        QFETCH(bool, asks);
        QFETCH(bool, loggingPair);
        QFETCH(QByteArray, request);
        QFETCH(int, fault);
        QFETCH(bool, ok);

        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        TForm1& w = b.form();
        QLabel* okLabel = loggingPair ? w.Label9 : w.Label2;
        QLabel* notOkLabel = loggingPair ? w.Label10 : w.Label5;
        QLabel* otherOk = loggingPair ? w.Label2 : w.Label9;
        // The previous verdict is the opposite one; it must vanish.
        TForm1::showStatus(okLabel, notOkLabel, !ok);
        if (fault >= 0)
            b.fault(sim::FaultKind(fault), sim::FaultTarget::any(), 1, 7);
        b.f.seam.confirmAnswers << 1;

        run(w, handler);

        QCOMPARE(b.f.seam.confirmCount, asks ? 1 : 0);
        QCOMPARE(b.received(), QList<QByteArray>{request});
        QCOMPARE(okLabel->isHidden(), !ok);
        QCOMPARE(notOkLabel->isHidden(), ok);
        QVERIFY(otherOk->isHidden()); // the other pair is left alone
        QVERIFY(b.f.seam.messages.isEmpty());
    }

    void declinedConfirmationSendsNothing_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<int>("answer");
        QTest::newRow("Clear log, НЕТ") << "ButKillLogClick" << 2;
        QTest::newRow("Registration, closed") << "Button3Click" << 0;
    }

    void declinedConfirmationSendsNothing()
    {
        QFETCH(QString, handler);
        QFETCH(int, answer);

        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        TForm1& w = b.form();
        for (bool shown : {true, false}) {
            TForm1::showStatus(w.Label2, w.Label5, shown);
            b.f.seam.confirmAnswers << answer;
            run(w, handler);
            QCOMPARE(w.Label2->isHidden(), !shown);
            QCOMPARE(w.Label5->isHidden(), shown);
        }
        QCOMPARE(b.f.seam.confirmCount, 2);
        QVERIFY(!w.exchangeInProgress());
        // A command sent after them is the first thing the controller hears.
        w.StartLogClick();
        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 33 06 00 00 00 00 8D D8")});
        const auto state = b.sim.stateSnapshot();
        QCOMPARE(state.logClears, 0);
        QCOMPARE(state.registrationCount, 0);
    }

    void ident_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("edi");
        QTest::newRow("1234") << 1234 << -1 << QStringLiteral("1234");
        QTest::newRow("0") << 0 << -1 << QString();
        QTest::newRow("-5") << -5 << -1 << QString();
        QTest::newRow("silent") << 1234 << int(sim::FaultKind::Silence) << QString();
        QTest::newRow("bad body checksum") << 1234 << int(sim::FaultKind::BadBodyChecksum) << QString();
    }

    void ident()
    {
        QFETCH(int, number);
        QFETCH(int, fault);
        QFETCH(QString, edi);

        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        TForm1& w = b.form();
        b.state([&](sim::ControllerState& s) { s.deviceNumber = number; });
        if (fault >= 0)
            b.fault(sim::FaultKind(fault));
        w.Edi->setText("old");
        w.Button4Click();

        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7")});
        QCOMPARE(w.Edi->text(), edi);
        const bool ok = !edi.isEmpty();
        QCOMPARE(w.Label2->isHidden(), !ok);
        QCOMPARE(w.Label5->isHidden(), ok);
    }

    void press_data()
    {
        QTest::addColumn<float>("pressure");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("edi");
        QTest::addColumn<bool>("ok");
        QTest::newRow("1.5") << 1.5f << -1 << QStringLiteral("     1.50") << true;
        QTest::newRow("0") << 0.0f << -1 << QStringLiteral("    ") << false;
        QTest::newRow("-2.5") << -2.5f << -1 << QStringLiteral("    ") << false;
        QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -1 << QStringLiteral("    ") << false;
        QTest::newRow("silent") << 1.5f << int(sim::FaultKind::Silence) << QStringLiteral("    ") << false;
    }

    void press()
    {
        QFETCH(float, pressure);
        QFETCH(int, fault);
        QFETCH(QString, edi);
        QFETCH(bool, ok);

        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        TForm1& w = b.form();
        b.state([&](sim::ControllerState& s) { s.pressure = pressure; });
        if (fault >= 0)
            b.fault(sim::FaultKind(fault));
        w.Edi->setText("old");
        TForm1::showStatus(w.Label2, w.Label5, !ok);
        w.Button5Click();

        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66")});
        QCOMPARE(w.Edi->text(), edi);
        QCOMPARE(w.Label2->isHidden(), !ok);
        QCOMPARE(w.Label5->isHidden(), ok);
    }

    void withoutAPortTheCommandsFail()
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
};

QTEST_MAIN(ServiceWindowTest)
#include "tst_service_window.moc"
