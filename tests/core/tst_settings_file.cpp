// The link's policy from the settings file's [link] keys and the options, as
// both front ends resolve it, and that writing the port and baud keeps the keys.
#include "features/link_policy.h"
#include "util/settings_file.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessavin;

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    // The window's defaults (no retries) unless a row gives options; "FILE" in a
    // message stands for the settings file.
    void linkPolicy_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("options"); // fast|no-fast, retries=N, retry-wait=MS
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("retryWait");
        QTest::addColumn<QString>("error");
        const QStringList none;
        QTest::newRow("no file") << QByteArray() << none << false << 0 << 1000 << "";
        QTest::newRow("no [link] section") << QByteArray("[log]\nport=3\n") << none << false << 0 << 1000 << "";
        QTest::newRow("fast=true") << QByteArray("[log]\nport=3\n[link]\nfast=true\n") << none << true << 0 << 1000
                                   << "";
        QTest::newRow("fast=1") << QByteArray("[link]\nfast=1\n") << none << true << 0 << 1000 << "";
        QTest::newRow("fast=FALSE") << QByteArray("[link]\nfast=FALSE\n") << none << false << 0 << 1000 << "";
        QTest::newRow("fast=0") << QByteArray("[link]\nfast=0\n") << none << false << 0 << 1000 << "";
        QTest::newRow("fast under [log]") << QByteArray("[log]\nfast=true\n") << none << false << 0 << 1000 << "";
        QTest::newRow("retries=3, retry_wait=250")
            << QByteArray("[link]\nfast=true\nretries=3\nretry_wait=250\n") << none << true << 3 << 250 << "";
        QTest::newRow("fast=bogus: refused, default kept")
            << QByteArray("[link]\nfast=bogus\nretries=1\n") << none << false << 1 << 1000
            << "FILE: [link] fast=bogus: neither true nor false";
        QTest::newRow("fast=bogus, --fast")
            << QByteArray("[link]\nfast=bogus\n") << QStringList{"fast"} << true << 0 << 1000 << "";
        QTest::newRow("fast=true, --no-fast")
            << QByteArray("[link]\nfast=true\n") << QStringList{"no-fast"} << false << 0 << 1000 << "";
        QTest::newRow("retries=21") << QByteArray("[link]\nretries=21\n") << none << false << 0 << 1000
                                    << "FILE: [link] retries=21: 21 is out of range (0 to 20)";
        QTest::newRow("retries=two") << QByteArray("[link]\nretries=two\n") << none << false << 0 << 1000
                                     << "FILE: [link] retries=two: 'two' is not a valid integer value";
        QTest::newRow("retries=two, --retries 4")
            << QByteArray("[link]\nretries=two\n") << QStringList{"retries=4"} << false << 4 << 1000 << "";
        QTest::newRow("retry_wait=9") << QByteArray("[link]\nretry_wait=9\n") << none << false << 0 << 1000
                                      << "FILE: [link] retry_wait=9: 9 is out of range (10 to 60000)";
        QTest::newRow("--retries 21") << QByteArray() << QStringList{"retries=21"} << false << 0 << 1000
                                      << "--retries: 21 is out of range (0 to 20)";
        QTest::newRow("--retry-wait 60001")
            << QByteArray("[link]\nretry_wait=500\n") << QStringList{"retry-wait=60001"} << false << 0 << 1000
            << "--retry-wait: 60001 is out of range (10 to 60000)";
    }
    void linkPolicy()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, options);
        QFETCH(bool, fast);
        QFETCH(int, retries);
        QFETCH(int, retryWait);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.log"));
        if (!file.isEmpty())
            QVERIFY(test::writeFile(path, file));
        LinkPolicyOptions given;
        for (const QString& option : options) {
            const QString value = option.section(QLatin1Char('='), 1);
            if (option == QLatin1String("fast") || option == QLatin1String("no-fast"))
                given.fastReplies = option == QLatin1String("fast");
            else if (option.startsWith(QLatin1String("retries=")))
                given.retries = value;
            else
                given.retryWait = value;
        }
        // Writing the port and baud keeps every [link] key as it was.
        QVERIFY(WriteSettings(path, QStringLiteral("4"), QStringLiteral("115200")));
        const StoredSettings stored = ReadSettings(path);
        QCOMPARE(stored.port, QStringLiteral("4"));
        QCOMPARE(stored.baud, QStringLiteral("115200"));
        const ResolvedLinkPolicy resolved = ResolveLinkPolicy({}, stored, QStringLiteral("FILE"), given);
        QCOMPARE(resolved.policy.fastReplies, fast);
        QCOMPARE(resolved.policy.retries, retries);
        QCOMPARE(resolved.policy.retryWait.count(), retryWait);
        QCOMPARE(resolved.error, error);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
