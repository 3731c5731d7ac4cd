#pragma once
// The settings file "log.log" that the window keeps between runs and the
// command-line tool reads, an INI file:
//
//     [log]
//     port=7
//     baud=38400
//     [link]
//     fast=false
//     retries=0
//     retry_wait=1000
//     [ui]
//     language=en
//
// It lives beside the programs. When that folder cannot be written, the per-user
// configuration folder is used instead (on Linux ~/.config/tessavin/log.log),
// for reading and writing alike.
#include <QString>

namespace tessavin {

// The file beside the programs in `programDir`, or in `userDir` (empty: the
// per-user configuration folder) when programDir cannot be written.
QString SettingsFilePath(const QString& programDir, const QString& userDir = {});

// The per-user configuration folder of the settings: ~/.config/tessavin on Linux.
QString UserSettingsDir();

struct StoredSettings {
    QString port = QStringLiteral("7");
    QString baud = QStringLiteral("38400");
    // [ui] language: the window's language as written (empty: not set).
    QString language;
    // What the file itself holds: a port that is not empty.
    bool portStored = false;
    // The [link] keys as written, empty where the file has none; what they mean
    // is the link policy's (link_policy.h).
    QString fastText;
    QString retriesText;
    QString retryWaitText;
};

constexpr int kMaxRetries = 20;

// A missing file or key gives the defaults.
StoredSettings ReadSettings(const QString& path);

// Writes port and baud (as typed, unchecked), keeping every other key. False
// when the file cannot be written.
bool WriteSettings(const QString& path, const QString& port, const QString& baud);

} // namespace tessavin
