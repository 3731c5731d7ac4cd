// The log control and service commands in the real window against the emulated
// controller in memory, on a virtual clock with the system's timings: exact
// request bytes, the Status pairs, Edi, the time a command takes (70 ms answered,
// 201 rounds of 10 + 55 ms when silent), and the Confirmation dialog in front of
// Clear log and Registration; the pressure text on its own.
#include "features/service_commands.h"
#include "tests/support/window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <clocale>
#include <limits>

using namespace tessavin;
using namespace tessavin::test;

namespace {

using ms = std::chrono::milliseconds;

// A command given as a person gives it: Clear log is pressed; StartLog and StopLog
// are pressed once a right click on the free area has shown them. Registration,
// Ident and Press have no control a person can reach: their handlers run as slots.
void give(MemoryWindow& b, const QString& command)
{
    TForm1& w = b.form();
    auto* button = w.findChild<QPushButton*>(command);
    QVERIFY2(button, qPrintable(command));
    if (command == "StartLog" || command == "StopLog") {
        if (button->isHidden())
            b.rightClickFreeArea();
        press(button);
    } else if (command == "ButKillLog") {
        press(button);
    } else {
        QVERIFY(button->isHidden() && !button->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(&w, qPrintable(command + "Click")));
    }
}

} // namespace

class ServiceWindowTest : public QObject {
    Q_OBJECT

private slots:
    void switchCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("loggingPair");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("fault"); // -1: a proper reply
        QTest::addColumn<bool>("ok");
        QTest::addColumn<ms>("takes");

        struct Command {
            const char* name;
            const char* command;
            bool asks;
            bool logging;
            const char* bytes;
        };
        const Command commands[] = {
            {"Clear log", "ButKillLog", true, false, "05 64 08 00 46 F7 1B 06 00 00 00 00 8B F0"},
            {"Registration", "Button3", true, false, "05 64 08 00 46 F7 5D 06 00 00 00 00 85 56"},
            {"StartLog", "StartLog", false, true, "05 64 08 00 46 F7 33 06 00 00 00 00 8D D8"},
            {"StopLog", "StopLog", false, true, "05 64 08 00 46 F7 34 06 00 00 00 00 8C 6F"},
        };
        // A reply ends at the 60 ms idle gap after the 10 ms first-byte pause; with
        // none, the link gives up after 201 rounds of a 10 ms pause and a 55 ms wait.
        const ms answered{70}, silent{201 * (10 + 55)};
        for (const Command& c : commands) {
            const auto row = [&](const char* what, int fault, bool ok, ms takes) {
                QTest::addRow("%s, %s", c.name, what)
                    << c.command << c.asks << c.logging << hex(c.bytes) << fault << ok << takes;
            };
            row("answered", -1, true, answered);
            row("silent", int(sim::FaultKind::Silence), false, silent);
            // A reply that fails its checks does not confirm the command: NOT OK.
            row("truncated reply with a bad checksum", int(sim::FaultKind::Truncated), false, answered);
        }
    }

    void switchCommands()
    {
        QFETCH(QString, command);
        QFETCH(bool, asks);
        QFETCH(bool, loggingPair);
        QFETCH(QByteArray, request);
        QFETCH(int, fault);
        QFETCH(bool, ok);
        QFETCH(ms, takes);

        MemoryWindow b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        QLabel* okLabel = loggingPair ? widget<QLabel>(w, "Label9") : widget<QLabel>(w, "Label2");
        QLabel* notOkLabel = loggingPair ? widget<QLabel>(w, "Label10") : widget<QLabel>(w, "Label5");
        QLabel* otherOk = loggingPair ? widget<QLabel>(w, "Label2") : widget<QLabel>(w, "Label9");
        if (fault >= 0)
            b.fault(sim::FaultKind(fault), sim::FaultTarget::any(), 1, 7);
        b.f.seam.confirmAnswers << 1;
        if (loggingPair)
            b.rightClickFreeArea(); // shows StartLog and StopLog, hides their Status pair
        // The previous verdict is the opposite one; it must vanish.
        TForm1::showStatus(okLabel, notOkLabel, !ok);

        const ms before = b.now();
        give(b, command);

        QCOMPARE(b.f.seam.confirmCount, asks ? 1 : 0);
        QCOMPARE(b.received(), QList<QByteArray>{request});
        QCOMPARE((b.now() - before).count(), takes.count());
        QCOMPARE(okLabel->isHidden(), !ok);
        QCOMPARE(notOkLabel->isHidden(), ok);
        QVERIFY(otherOk->isHidden()); // the other pair is left alone
        QVERIFY(b.f.seam.messages.isEmpty());
    }

    void declinedConfirmationSendsNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");
        QTest::newRow("Clear log, НЕТ") << "ButKillLog" << 2;
        QTest::newRow("Registration, closed") << "Button3" << 0;
    }

    void declinedConfirmationSendsNothing()
    {
        QFETCH(QString, command);
        QFETCH(int, answer);

        MemoryWindow b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        for (bool shown : {true, false}) {
            TForm1::showStatus(widget<QLabel>(w, "Label2"), widget<QLabel>(w, "Label5"), shown);
            b.f.seam.confirmAnswers << answer;
            give(b, command);
            QCOMPARE(widget<QLabel>(w, "Label2")->isHidden(), !shown);
            QCOMPARE(widget<QLabel>(w, "Label5")->isHidden(), shown);
        }
        QCOMPARE(b.f.seam.confirmCount, 2);
        QVERIFY(!w.exchangeInProgress());
        QCOMPARE(b.now().count(), 0);
        // A command sent after them is the first thing the controller hears.
        give(b, "StartLog");
        QCOMPARE(b.received(), QList<QByteArray>{hex("05 64 08 00 46 F7 33 06 00 00 00 00 8D D8")});
        const sim::ControllerState& state = b.line.controller.state();
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
        QTest::newRow("Ident, bad body checksum")
            << false << 1234.0 << int(sim::FaultKind::BadBodyChecksum) << QString();
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

        MemoryWindow b;
        QVERIFY(b.start());
        TForm1& w = b.form();
        b.state([&](sim::ControllerState& s) {
            if (press)
                s.pressure = float(value);
            else
                s.deviceNumber = std::int32_t(value);
        });
        if (fault >= 0)
            b.fault(sim::FaultKind(fault));
        widget<QLineEdit>(w, "Edi")->setText("old");
        TForm1::showStatus(widget<QLabel>(w, "Label2"), widget<QLabel>(w, "Label5"), !ok);
        give(b, press ? "Button5" : "Button4");

        QCOMPARE(b.received(),
                 QList<QByteArray>{press ? hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66")
                                         : hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7")});
        QCOMPARE(widget<QLineEdit>(w, "Edi")->text(), edi);
        QCOMPARE(widget<QLabel>(w, "Label2")->isHidden(), !ok);
        QCOMPARE(widget<QLabel>(w, "Label5")->isHidden(), ok);
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
        MemoryWindow b;
        QVERIFY(b.start(false));
        TForm1& w = b.form();
        give(b, "StartLog");
        QVERIFY(!widget<QLabel>(w, "Label10")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label9")->isHidden());
        b.f.seam.confirmAnswers << 1;
        give(b, "ButKillLog");
        QVERIFY(!widget<QLabel>(w, "Label5")->isHidden());
        give(b, "Button5");
        QCOMPARE(widget<QLineEdit>(w, "Edi")->text(), QStringLiteral("    "));
        QVERIFY(!widget<QLabel>(w, "Label5")->isHidden());
        QVERIFY(b.f.seam.messages.isEmpty());
        QVERIFY(b.line.port->written().isEmpty());
    }
};

QTEST_MAIN(ServiceWindowTest)
#include "tst_service_window.moc"
