// The settings file's [link] keys fast and retries: how they read, and that writing the port
// and baud keeps it.
#include "settings_file.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessavin;

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void fastReplies_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("retries");
        QTest::newRow("no file") << QByteArray() << false << 0;
        QTest::newRow("no [link] section") << QByteArray("[log]\nport=3\n") << false << 0;
        QTest::newRow("fast=true") << QByteArray("[log]\nport=3\n[link]\nfast=true\n") << true << 0;
        QTest::newRow("fast=1") << QByteArray("[link]\nfast=1\n") << true << 0;
        QTest::newRow("fast=false") << QByteArray("[link]\nfast=false\n") << false << 0;
        QTest::newRow("fast=0") << QByteArray("[link]\nfast=0\n") << false << 0;
        QTest::newRow("fast under [log]") << QByteArray("[log]\nfast=true\n") << false << 0;
        QTest::newRow("retries=3") << QByteArray("[link]\nfast=true\nretries=3\n") << true << 3;
        QTest::newRow("retries=-1 reads as 0") << QByteArray("[link]\nretries=-1\n") << false << 0;
        QTest::newRow("retries=99 reads as 0") << QByteArray("[link]\nretries=99\n") << false << 0;
        QTest::newRow("retries=two reads as 0") << QByteArray("[link]\nretries=two\n") << false << 0;
    }
    void fastReplies()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, fast);
        QFETCH(int, retries);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.log"));
        if (!file.isEmpty())
            QVERIFY(test::writeFile(path, file));
        QCOMPARE(ReadSettings(path).fastReplies, fast);
        QVERIFY(WriteSettings(path, QStringLiteral("4"), QStringLiteral("115200")));
        const StoredSettings again = ReadSettings(path);
        QCOMPARE(again.fastReplies, fast);
        QCOMPARE(again.retries, retries);
        QCOMPARE(again.port, QStringLiteral("4"));
        QCOMPARE(again.baud, QStringLiteral("115200"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
