#pragma once
// Where tessavin-cli's data goes and how records look there: the text lines of
// the window's files, JSON Lines and CSV, each record written and flushed as it
// arrives; and the progress line on a terminal.
#include "features/archive.h"
#include "util/json_writer.h"
#include "features/log_presentation.h"
#include "util/open_files.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <optional>

namespace tessavin::cli {

// True when stderr (stdout) is a terminal: a person watches it.
// Records go out byte for byte: on Windows standard output would otherwise
// turn LF into CR LF.
void WriteStdoutAsBytes();
bool StderrIsTerminal();
bool StdoutIsTerminal();

// The data output: the file given with -o, or stdout ("-" or no path). Every
// write goes out at once. An existing file stays as it was until the first
// bytes arrive, so that a command failing before its first record keeps it.
class Output {
public:
    // Checks that the file can be written, without touching an existing one;
    // an empty path or "-" means stdout. False with the system's reason when the
    // file cannot be created.
    bool open(const QString& path, QString* error);
    // As open, for a file to go on after its first `keep` bytes (--resume): it is
    // cut there and written on at the first write, so that a command failing
    // before that leaves it as it was.
    bool resume(const QString& path, qint64 keep, QString* error);
    bool toFile() const { return !path_.isEmpty(); }
    QString path() const { return path_; }
    // Writes all the bytes and flushes them; false when they could not all be
    // written. The first write replaces the file.
    bool write(const QByteArray& bytes);
    // The command succeeded: a file it wrote nothing to is replaced by an empty one.
    bool finish();
    bool written() const { return written_; }
    QString errorString() const;
    // A line of the window's files (ending in CR LF) as it goes here: as it
    // stands into a file, with its CR LF made LF on stdout.
    QByteArray textLine(const QByteArray& fileLine) const;

private:
    QString path_;
    OutputFile file_;
    std::optional<qint64> resumeAfter_;
    bool written_ = false;
};

// The record's bytes in hexadecimal, lower case: the "raw" of its JSON line
// and its CSV row.
QByteArray LogRecordRaw(const LogLine& line);
QByteArray ArchiveRecordRaw(const ArchiveLine& line);

// {"index":..,"marker":..,"time":..,"text":..,"raw":..} and LF.
QByteArray LogRecordJson(const LogLine& line);

// {"index":..,"device_time":..,"time":..,"value":..,"raw":..} and LF; the shifted
// time carries the offset the values were moved by.
QByteArray ArchiveRecordJson(const ArchiveLine& line, long long utcOffsetSeconds);
QByteArray ArchiveCsvHeader();
QByteArray ArchiveRecordCsv(const ArchiveLine& line, long long utcOffsetSeconds);

// "done/total records  rate/s  N s left" (or bytes) on one line of stderr, redrawn in place.
class ProgressLine {
public:
    explicit ProgressLine(bool shown, const char* unit = "records") : shown_(shown), unit_(QLatin1String(unit))
    {
        timer_.start();
    }
    ~ProgressLine() { finish(); }
    void update(int done, int total);
    // Clears the line (once).
    void finish();

private:
    bool shown_;
    QString unit_;
    bool drawn_ = false;
    qint64 lastDrawn_ = -1000;
    qsizetype width_ = 0;
    QElapsedTimer timer_;
};

} // namespace tessavin::cli
