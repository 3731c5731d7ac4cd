#pragma once
// Files that an operation writes while it runs. Every write goes straight to the
// system (no buffering in the process), and closing the window closes whatever is
// still open before the process ends, so nothing already written is lost.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace tessavin {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file (replacing any of that name). False when it cannot be created.
    bool create(const QString& path);
    // Opens an existing file to go on writing after its first `keep` bytes (what
    // follows them is cut off). False when it cannot be opened or cut.
    bool resume(const QString& path, qint64 keep);
    bool isOpen() const { return file_.isOpen(); }
    // Writes all the bytes; false when they were not all written.
    bool write(const QByteArray& bytes);
    void close();

    QString path() const { return file_.fileName(); }
    // Why the last create or write failed.
    QString errorString() const { return error_; }
    // Some write since the file was created did not go through.
    bool writeFailed() const { return writeFailed_; }

private:
    QFile file_;
    QString error_;
    bool writeFailed_ = false;
};

// The message for a file that could not be created or written:
// "Cannot create /home/ann/log.log: Permission denied",
// "Cannot write /media/stick/log.log: No space left on device".
QString FileErrorMessage(bool creating, const QString& path, const QString& reason);

// Closes every OutputFile still open; called before the process ends.
void CloseAllOutputFiles();

// Reads a whole file without changing it. False when it cannot be read;
// *tooLarge is set when it holds more than `limit` bytes (nothing is read then).
bool ReadWholeFile(const QString& path, qint64 limit, QByteArray* bytes, bool* tooLarge = nullptr);

} // namespace tessavin
