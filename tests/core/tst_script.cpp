// Script files: what is loaded for sending, what is refused, and that reading a
// script file never changes it.
#include "script_transfer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessavin;

Q_DECLARE_METATYPE(tessavin::ScriptFileStatus)

namespace {

QByteArray patterned(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

} // namespace

class TestScript : public QObject {
    Q_OBJECT

private slots:
    void loadScriptFile_data();
    void loadScriptFile();
    void unreadablePaths_data();
    void unreadablePaths();
};

void TestScript::loadScriptFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<ScriptFileStatus>("status");

    QTest::newRow("empty file") << QByteArray() << ScriptFileStatus::Empty;
    QTest::newRow("3 bytes abc") << QByteArray("abc") << ScriptFileStatus::Loaded;
    QTest::newRow("zero byte inside") << QByteArray("ab\0cd\r\n", 7) << ScriptFileStatus::Loaded;
    QTest::newRow("247 bytes") << patterned(247) << ScriptFileStatus::Loaded;
    QTest::newRow("248 bytes") << patterned(248) << ScriptFileStatus::Loaded;
    QTest::newRow("986 bytes, the most one request holds") << patterned(986) << ScriptFileStatus::Loaded;
    QTest::newRow("987 bytes") << patterned(987) << ScriptFileStatus::TooLong;
    QTest::newRow("60000 bytes, beyond the Transfer buffer") << patterned(60000) << ScriptFileStatus::TooLong;
}

void TestScript::loadScriptFile()
{
    QFETCH(QByteArray, content);
    QFETCH(ScriptFileStatus, status);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("script.scr"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    // Read-only, so any attempt to open it for writing would show.
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    const QDateTime modified = QFileInfo(path).lastModified();

    auto transfer = std::make_unique<TransferBuffer>();
    transfer->bytes.fill(0xEE);
    transfer->length = 4321;
    const ScriptFile file = LoadScriptFile(path, *transfer);

    QCOMPARE(file.status, status);
    QCOMPARE(file.size, qint64(content.size()));
    if (status == ScriptFileStatus::Loaded) {
        QCOMPARE(transfer->length, std::int32_t(content.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(transfer->bytes.data()), content.size()), content);
        // The rest of the buffer was cleared.
        QCOMPARE(transfer->bytes[static_cast<std::size_t>(content.size())], std::uint8_t{0});
        QCOMPARE(transfer->bytes.back(), std::uint8_t{0});
    } else {
        // A refused file leaves the Transfer buffer as it was.
        QCOMPARE(transfer->length, 4321);
        QCOMPARE(transfer->bytes.front(), std::uint8_t{0xEE});
    }

    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), content);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestScript::unreadablePaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing file") << "missing.scr";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("empty path") << "";
}

void TestScript::unreadablePaths()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    auto transfer = std::make_unique<TransferBuffer>();
    transfer->length = 7;
    QCOMPARE(LoadScriptFile(path, *transfer).status, ScriptFileStatus::Unreadable);
    QCOMPARE(transfer->length, 7);
    // Nothing is created by looking.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(TestScript)
#include "tst_script.moc"
