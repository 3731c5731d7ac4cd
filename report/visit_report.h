#pragma once
// The visit report: what one visit read from the controller, as a folder of
// files and an index.html that opens offline in any browser.
//
// The caller reads and formats; this writes. Every file is replaced only by a
// complete new one. The page escapes everything that came from the controller
// and carries a Content-Security-Policy that allows only its own inline script
// and style (by their hashes): nothing is fetched, nothing injected runs.
#include "features/log_presentation.h"
#include "features/archive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace tessavin {

struct ReportFile {
    QString name; // a plain file name within the folder
    QString description; // what it holds, for the page's list of files
    QByteArray bytes;
};

struct ReportSection {
    QString title;
    QString text; // shown as preformatted text
};

struct VisitReport {
    QString title; // the page's heading
    std::vector<std::pair<QString, QString>> summary; // label, value
    QStringList failures; // one line a part that failed
    std::vector<LogLine> log; // the event log's table
    std::vector<ArchiveLine> archive; // the chart
    std::vector<ReportSection> sections; // configuration, script, ...
    std::vector<ReportFile> files; // written by WriteVisitReport
    std::vector<ReportFile> present; // already in the folder (bytes unused)
};

// File names the writer adds itself.
inline constexpr const char* kReportChartFile = "archive.svg";
inline constexpr const char* kReportIndexFile = "index.html";
inline constexpr const char* kReportSumsFile = "SHA256SUMS";

// Writes a whole file beside its place and renames it over any old one. The
// message when it cannot be written.
std::optional<QString> WriteCompleteFile(const QString& path, const QByteArray& bytes);

// Makes the folder ready: created when missing; an existing folder must be
// empty unless `force`, which removes the entries named `replaced` (the files
// the report writes; a symbolic link goes itself, never what it points to) and
// leaves every other entry. The message when it is not ready.
std::optional<QString> PrepareReportFolder(const QString& dir, bool force, const QStringList& replaced);

// The page itself, with the chart's SVG inline and a link to every file named.
QByteArray VisitReportHtml(const VisitReport& report, const QByteArray& chartSvg, const std::vector<ReportFile>& files);

// Writes the files, archive.svg, index.html and SHA256SUMS (for sha256sum -c,
// covering every other file). The message of the first file that could not be
// written; nothing when all were.
std::optional<QString> WriteVisitReport(const QString& dir, const VisitReport& report);

} // namespace tessavin
