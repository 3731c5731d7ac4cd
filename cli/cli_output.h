#pragma once
// Where tessavin-cli's data goes and how records look there: the text lines of
// the window's files, JSON Lines and CSV, each record written and flushed as it
// arrives; and the progress line on a terminal.
#include "archive.h"
#include "log_presentation.h"
#include "open_files.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace tessavin::cli {

// True when stderr (stdout) is a terminal: a person watches it.
bool StderrIsTerminal();
bool StdoutIsTerminal();

// The data output: the file given with -o, or stdout. Every write goes out at once.
class Output {
public:
    // Creates (replaces) the file; an empty path means stdout. False with the
    // system's reason when the file cannot be created.
    bool open(const QString& path, QString* error);
    // Opens the file to go on after its first `keep` bytes (--resume).
    bool resume(const QString& path, qint64 keep, QString* error);
    bool toFile() const { return !path_.isEmpty(); }
    QString path() const { return path_; }
    // Writes all the bytes and flushes them; false when they could not all be written.
    bool write(const QByteArray& bytes);
    QString errorString() const;
    // A line of the window's files (ending in CR LF) as it goes here: as it
    // stands into a file, with its CR LF made LF on stdout.
    QByteArray textLine(const QByteArray& fileLine) const;

private:
    QString path_;
    OutputFile file_;
};

// {"index":..,"marker":..,"time":..,"text":..,"raw":..} and LF.
QByteArray LogRecordJson(const LogLine& line);

// {"index":..,"device_time":..,"time":..,"value":..,"raw":..} and LF; the shifted
// time carries the offset the values were moved by.
QByteArray ArchiveRecordJson(const ArchiveLine& line, long long utcOffsetSeconds);
QByteArray ArchiveCsvHeader();
QByteArray ArchiveRecordCsv(const ArchiveLine& line, long long utcOffsetSeconds);

// "12.5" for a finite value (the shortest text that reads back as the same
// single-precision number); empty for not-a-number and the infinities.
QByteArray ShortestValueText(float value);

// "done/total records  rate/s  N s left" on one line of stderr, redrawn in place.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : shown_(shown) { timer_.start(); }
    ~ProgressLine() { finish(); }
    void update(int done, int total);
    // Clears the line (once).
    void finish();

private:
    bool shown_;
    bool drawn_ = false;
    qint64 lastDrawn_ = -1000;
    qsizetype width_ = 0;
    QElapsedTimer timer_;
};

} // namespace tessavin::cli
