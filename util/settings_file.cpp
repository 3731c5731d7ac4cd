#include "util/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tessavin {

namespace {
const QString kFileName = QStringLiteral("log.log");

// Whether this process can create files in the folder: tried, since on Windows
// the file's attributes do not tell (Program Files refuses ordinary users
// while its folders look writable).
bool canCreateIn(const QString& dir)
{
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral("log.log.XXXXXX")));
    return probe.open();
}

// Whether an existing file can be written: opened for appending, which changes nothing.
bool canWrite(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
}
} // namespace

QString UserSettingsDir()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("tessavin"));
}

QString SettingsFilePath(const QString& programDir, const QString& userDir)
{
    const QString primary = QDir(programDir).filePath(kFileName);
    if (QFileInfo(programDir).isDir() && canCreateIn(programDir) && (!QFileInfo::exists(primary) || canWrite(primary)))
        return primary;
    const QString fallback = userDir.isEmpty() ? UserSettingsDir() : userDir;
    return fallback.isEmpty() ? primary : QDir(fallback).filePath(kFileName);
}

StoredSettings ReadSettings(const QString& path)
{
    StoredSettings stored;
    const QSettings settings(path, QSettings::IniFormat);
    stored.port = settings.value(QStringLiteral("log/port"), stored.port).toString();
    stored.baud = settings.value(QStringLiteral("log/baud"), stored.baud).toString();
    stored.language = settings.value(QStringLiteral("ui/language")).toString();
    stored.portStored = !settings.value(QStringLiteral("log/port")).toString().isEmpty();
    stored.fastText = settings.value(QStringLiteral("link/fast")).toString();
    stored.retriesText = settings.value(QStringLiteral("link/retries")).toString();
    stored.retryWaitText = settings.value(QStringLiteral("link/retry_wait")).toString();
    return stored;
}

bool WriteSettings(const QString& path, const QString& port, const QString& baud)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("log/port"), port);
    settings.setValue(QStringLiteral("log/baud"), baud);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace tessavin
