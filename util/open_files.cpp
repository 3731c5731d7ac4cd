#include "util/open_files.h"

#include <QDir>

#include <algorithm>
#include <vector>

namespace tessavin {

namespace {
std::vector<OutputFile*>& registry()
{
    static std::vector<OutputFile*> files;
    return files;
}
} // namespace

OutputFile::~OutputFile() { close(); }

bool OutputFile::create(const QString& path)
{
    close();
    file_.setFileName(path);
    writeFailed_ = false;
    error_.clear();
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    registry().push_back(this);
    return true;
}

bool OutputFile::resume(const QString& path, qint64 keep)
{
    close();
    file_.setFileName(path);
    writeFailed_ = false;
    error_.clear();
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !file_.resize(keep) || !file_.seek(keep)) {
        error_ = file_.errorString();
        file_.close();
        return false;
    }
    registry().push_back(this);
    return true;
}

bool OutputFile::write(const QByteArray& bytes)
{
    if (!file_.isOpen())
        return false;
    if (file_.write(bytes) == bytes.size())
        return true;
    error_ = file_.errorString();
    writeFailed_ = true;
    return false;
}

void OutputFile::close()
{
    auto& files = registry();
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
    if (file_.isOpen())
        file_.close();
}

QString FileErrorMessage(bool creating, const QString& path, const QString& reason)
{
    return QStringLiteral("%1 %2: %3")
        .arg(creating ? QStringLiteral("Cannot create") : QStringLiteral("Cannot write"),
             QDir::toNativeSeparators(path), reason);
}

void CloseAllOutputFiles()
{
    const auto files = registry();
    for (OutputFile* file : files)
        file->close();
}

bool ReadWholeFile(const QString& path, qint64 limit, QByteArray* bytes, bool* tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > limit) {
        if (tooLarge)
            *tooLarge = true;
        return false;
    }
    *bytes = file.readAll();
    // A file that grew, or one whose size says nothing (a pipe), is judged by what was read.
    if (bytes->size() > limit) {
        if (tooLarge)
            *tooLarge = true;
        return false;
    }
    return file.error() == QFileDevice::NoError;
}

} // namespace tessavin
