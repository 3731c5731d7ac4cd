// The log control and service commands in the real window against the emulated
// controller: exact request bytes, the Status pairs, Edi, and the Confirmation
// dialog in front of Clear log and Registration; the pressure text on its own.
#include "service_commands.h"
#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <clocale>
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

    // Ident and Press: the value in Edi on success; values of 0 or less, NaN and
    // a failed read are NOT OK, Edi then empty (Ident) or four blanks (Press).
    void readings_data()
    {
        QTest::addColumn<bool>("press");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("edi");
        QTest::newRow("Ident 1234") << false << 1234.0 << -1 << QStringLiteral("1234");
        QTest::newRow("Ident 0") << false << 0.0 << -1 << QString();
        QTest::newRow("Ident -5") << false << -5.0 << -1 << QString();
        QTest::newRow("Ident, silent") << false << 1234.0 << int(sim::FaultKind::Silence) << QString();
        QTest::newRow("Ident, bad body checksum") << false << 1234.0 << int(sim::FaultKind::BadBodyChecksum) << QString();
        QTest::newRow("Press 1.5") << true << 1.5 << -1 << QStringLiteral("     1.50");
        QTest::newRow("Press 0") << true << 0.0 << -1 << QStringLiteral("    ");
        QTest::newRow("Press -2.5") << true << -2.5 << -1 << QStringLiteral("    ");
        QTest::newRow("Press NaN") << true << std::numeric_limits<double>::quiet_NaN() << -1 << QStringLiteral("    ");
        QTest::newRow("Press, silent") << true << 1.5 << int(sim::FaultKind::Silence) << QStringLiteral("    ");
    }

    void readings()
    {
        QFETCH(bool, press);
        QFETCH(double, value);
        QFETCH(int, fault);
        QFETCH(QString, edi);
        const bool ok = !edi.trimmed().isEmpty();

        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        TForm1& w = b.form();
        b.state([&](sim::ControllerState& s) {
            if (press)
                s.pressure = float(value);
            else
                s.deviceNumber = std::int32_t(value);
        });
        if (fault >= 0)
            b.fault(sim::FaultKind(fault));
        w.Edi->setText("old");
        TForm1::showStatus(w.Label2, w.Label5, !ok);
        press ? w.Button5Click() : w.Button4Click();

        QCOMPARE(b.received(), QList<QByteArray>{press ? hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66")
                                                       : hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7")});
        QCOMPARE(w.Edi->text(), edi);
        QCOMPARE(w.Label2->isHidden(), !ok);
        QCOMPARE(w.Label5->isHidden(), ok);
    }

    // Four blanks, then "%5.2f" with a point whatever the user's locale.
    void pressureText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("123.456 as a float") << double(123.456f) << QStringLiteral("    123.46");
        QTest::newRow("0.004") << 0.004 << QStringLiteral("     0.00");
        QTest::newRow("12345.678") << 12345.678 << QStringLiteral("    12345.68");
        QTest::newRow("0.005 as a float is just below: rounds down") << double(0.005f) << QStringLiteral("     0.00");
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << QStringLiteral("      inf");
    }

    void pressureText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(PressureText(value), text);
        for (const char* name : {"de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"}) {
            if (!std::setlocale(LC_NUMERIC, name))
                continue;
            QCOMPARE(PressureText(value), text);
            std::setlocale(LC_NUMERIC, "C");
        }
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
