#include "report/visit_report.h"

#include "report/archive_chart.h"
#include "util/open_files.h"
#include "util/text_codec.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tessavin {

namespace {

// The page's own style and script; the policy names them by their hashes.
const char* const kStyle = R"css(
body{font-family:sans-serif;margin:1.5em;color:#222;max-width:72em}
h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.5em;border-bottom:1px solid #ccc}
table{border-collapse:collapse}
th,td{border:1px solid #ccc;padding:.2em .5em;text-align:left;vertical-align:top}
#log-table td.line{white-space:pre-wrap;font-family:monospace}
pre{white-space:pre-wrap;border:1px solid #ccc;padding:.5em;background:#f8f8f8}
.failed{color:#a00}
svg{max-width:100%;height:auto}
@media print{.no-print{display:none}body{margin:0;max-width:none}tr,svg{break-inside:avoid}h2{break-after:avoid}a[href]::after{content:" (" attr(href) ")"}}
)css";

const char* const kScript = R"js(
(function(){var f=document.getElementById('filter'),n=document.getElementById('log-shown'),rows=document.querySelectorAll('#log-table tbody tr');
function apply(){var q=f.value.toLowerCase(),k=0;rows.forEach(function(r){var hit=!q||r.textContent.toLowerCase().indexOf(q)>=0;r.hidden=!hit;if(hit)k++;});n.textContent=k+' of '+rows.length+' records shown';}
f.addEventListener('input',apply);apply();})();
)js";

QByteArray sourceHash(const char* text)
{
    return "'sha256-" + QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Sha256).toBase64() + "'";
}

// Text for the page: markup characters escaped, control characters other than
// tab and line ends (which no page may hold) shown as U+FFFD.
QString pageText(const QString& text)
{
    QString clean = text;
    for (QChar& c : clean) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            c = QChar(0xFFFD);
    }
    return clean.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

} // namespace

std::optional<QString> WriteCompleteFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return FileErrorMessage(true, path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        return FileErrorMessage(false, path, file.errorString());
    return std::nullopt;
}

std::optional<QString> PrepareReportFolder(const QString& dir, bool force, const QStringList& replaced)
{
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        return QStringLiteral("%1: not a folder").arg(QDir::toNativeSeparators(dir));
    if (info.exists()) {
        if (!force && !QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            return QStringLiteral("%1: the folder is not empty (--force writes into it)")
                .arg(QDir::toNativeSeparators(dir));
        // An earlier report's file that this one would not write again must not
        // stay beside it, and a link must not lead the writing elsewhere.
        for (const QString& name : replaced) {
            const QString path = QDir(dir).filePath(name);
            const QFileInfo entry(path);
            if (!entry.exists() && !entry.isSymLink())
                continue;
            if ((entry.isDir() && !entry.isSymLink()) || !QFile::remove(path))
                return QStringLiteral("%1: cannot be replaced").arg(QDir::toNativeSeparators(path));
        }
        return std::nullopt;
    }
    if (!QDir().mkpath(dir))
        return QStringLiteral("%1: the folder cannot be created").arg(QDir::toNativeSeparators(dir));
    return std::nullopt;
}

QByteArray VisitReportHtml(const VisitReport& report, const QByteArray& chartSvg, const std::vector<ReportFile>& files)
{
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
    h += QStringLiteral("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src %1; "
                        "style-src %2; base-uri 'none'; form-action 'none'\">\n")
             .arg(QString::fromLatin1(sourceHash(kScript)), QString::fromLatin1(sourceHash(kStyle)));
    h += QStringLiteral("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    h += QStringLiteral("<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n")
             .arg(pageText(report.title), QString::fromLatin1(kStyle));
    h += QStringLiteral("<h1>%1</h1>\n").arg(pageText(report.title));

    h += QStringLiteral("<section id=\"summary\">\n<h2>Summary</h2>\n<table class=\"summary\">\n");
    for (const auto& [label, value] : report.summary)
        h += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(pageText(label), pageText(value));
    h += QStringLiteral("</table>\n");
    if (report.failures.isEmpty()) {
        h += QStringLiteral("<p id=\"failures\">Every part was read.</p>\n");
    } else {
        h += QStringLiteral("<p class=\"failed\">Not read:</p>\n<ul id=\"failures\" class=\"failed\">\n");
        for (const QString& failure : report.failures)
            h += QStringLiteral("<li>%1</li>\n").arg(pageText(failure));
        h += QStringLiteral("</ul>\n");
    }
    h += QStringLiteral("</section>\n");

    h += QStringLiteral("<section id=\"archive\">\n<h2>Archive</h2>\n%1</section>\n").arg(QString::fromUtf8(chartSvg));

    h += QStringLiteral("<section id=\"log\">\n<h2>Event log</h2>\n");
    h += QStringLiteral("<p class=\"no-print\"><label>Filter <input id=\"filter\" type=\"search\"></label> "
                        "<span id=\"log-shown\">%1 records</span></p>\n")
             .arg(report.log.size());
    h += QStringLiteral("<table id=\"log-table\">\n<thead><tr><th>Index</th><th>Record</th></tr></thead>\n<tbody>\n");
    for (const LogLine& line : report.log)
        h += QStringLiteral("<tr><td>%1</td><td class=\"line\">%2</td></tr>\n")
                 .arg(line.index)
                 .arg(pageText(DecodeText(line.line)));
    h += QStringLiteral("</tbody>\n</table>\n</section>\n");

    for (const ReportSection& section : report.sections)
        h += QStringLiteral("<section>\n<h2>%1</h2>\n<pre>%2</pre>\n</section>\n")
                 .arg(pageText(section.title), pageText(section.text));

    h += QStringLiteral("<section id=\"files\">\n<h2>Files</h2>\n<ul>\n");
    for (const ReportFile& file : files)
        h += QStringLiteral("<li><a href=\"%1\">%1</a>: %2</li>\n")
                 .arg(pageText(file.name), pageText(file.description));
    h += QStringLiteral("</ul>\n</section>\n<script>%1</script>\n</body>\n</html>\n").arg(QString::fromLatin1(kScript));
    return h.toUtf8();
}

std::optional<QString> WriteVisitReport(const QString& dir, const VisitReport& report)
{
    const QDir folder(dir);
    const QByteArray svg = ArchiveChartSvg(report.archive);

    std::vector<ReportFile> files = report.files;
    files.push_back({QString::fromLatin1(kReportChartFile), QStringLiteral("the archive chart (SVG)"), svg});
    std::vector<ReportFile> listed = files;
    for (const ReportFile& file : report.present)
        listed.push_back({file.name, file.description, {}});
    listed.push_back({QString::fromLatin1(kReportIndexFile), QStringLiteral("this page"), {}});
    listed.push_back(
        {QString::fromLatin1(kReportSumsFile), QStringLiteral("SHA-256 of every file (sha256sum -c SHA256SUMS)"), {}});
    files.push_back({QString::fromLatin1(kReportIndexFile), QString(), VisitReportHtml(report, svg, listed)});

    QByteArray sums;
    const auto addSum = [&sums](const QString& name, const QByteArray& bytes) {
        sums += QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + "  " + name.toUtf8() + '\n';
    };
    for (const ReportFile& file : files) {
        if (auto error = WriteCompleteFile(folder.filePath(file.name), file.bytes))
            return error;
        addSum(file.name, file.bytes);
    }
    for (const ReportFile& file : report.present) {
        QByteArray bytes;
        if (!ReadWholeFile(folder.filePath(file.name), qint64(1) << 40, &bytes))
            return QStringLiteral("%1: cannot be read back").arg(QDir::toNativeSeparators(folder.filePath(file.name)));
        addSum(file.name, bytes);
    }
    return WriteCompleteFile(folder.filePath(QString::fromLatin1(kReportSumsFile)), sums);
}

} // namespace tessavin
