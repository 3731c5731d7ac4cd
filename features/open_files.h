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
    bool isOpen() const { return file_.isOpen(); }
    // Writes all the bytes; false when they were not all written.
    bool write(const QByteArray& bytes);
    // Why the last create or write failed, in the system's words.
    QString errorString() const { return file_.errorString(); }
    void close();

private:
    QFile file_;
};

// Closes every OutputFile still open; called before the process ends.
void CloseAllOutputFiles();

// Reads a whole file without changing it. False when it cannot be read;
// *tooLarge is set when it holds more than `limit` bytes (nothing is read then).
bool ReadWholeFile(const QString& path, qint64 limit, QByteArray* bytes, bool* tooLarge = nullptr);

} // namespace tessavin
