// The pressure text of the service commands: four blanks, then "%5.2f" with a
// point whatever the user's locale.
#include "service_commands.h"

#include <QTest>

#include <clocale>
#include <limits>

using namespace tessavin;

class ServiceCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void pressureText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.5") << 1.5 << QStringLiteral("     1.50");
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
        // A locale with a decimal comma changes nothing.
        for (const char* name : {"de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"}) {
            if (!std::setlocale(LC_NUMERIC, name))
                continue;
            QCOMPARE(PressureText(value), text);
            std::setlocale(LC_NUMERIC, "C");
        }
    }
};

QTEST_GUILESS_MAIN(ServiceCommandsTest)
#include "tst_service_commands.moc"
