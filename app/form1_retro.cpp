// Handlers of the archive download and the script transfer. None of them has a
// visible control in the window; they are reached as slots.
#include "app/form1.h"

#include "features/archive.h"
#include "util/conversions.h"
#include "util/open_files.h"
#include "features/script_transfer.h"
#include "util/text_codec.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

void beforeBegin(const TForm1::DownloadArea& area)
{
    area.status(std::nullopt);
    TForm1::processMessages();
}

void showBegin(const TForm1::DownloadArea& area, int begin)
{
    area.memo->clear();
    area.memo->setPlainText(tessavin::RingQuestionLine(tessavin::RingQuestion::ArchiveBegin, begin));
    area.status(begin > 0);
}

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

} // namespace

void TForm1::ButBegRetroClick()
{
    beforeBegin(downloadArea());
    showBegin(downloadArea(), tessavin::AskRingQuestion(session(), tessavin::RingQuestion::ArchiveBegin).value);
}

void TForm1::ButContRetroClick()
{
    using namespace tessavin;
    // The controller keeps UTC; records are shown in the computer's local time.
    const long long utcOffsetSeconds = QDateTime::currentDateTime().offsetFromUtc();
    OutputFile file;
    DownloadSteps<ArchiveLine> steps;
    steps.asking = [this](RingQuestion) { beforeBegin(downloadArea()); };
    steps.answered = [this](RingQuestion, const LinkResult<int>& answer) {
        showBegin(downloadArea(), answer.value); // a failed begin shows 0 and the download goes on
        return true;
    };
    steps.choose = [this, &file] {
        showStatus(Label2, Label5, std::nullopt);
        processMessages();
        return chooseRecords(QStringLiteral("ret"), file);
    };
    steps.sink.file = &file;
    steps.sink.stoppable = false; // the window's archive download has no Stop
    steps.sink.show = [this](const ArchiveLine& line) {
        // Each record is one line of the memo; its LF is the line's end.
        QString shown = QString::fromLatin1(line.memoLine);
        shown.chop(1);
        Memo1->appendPlainText(shown);
        Edi->setText(QString::number(line.index));
        lastArchive_.push_back(line);
    };
    // The chart shows the records of the last download that chose some.
    steps.chosen = [this](const RecordSpan&) { lastArchive_.clear(); };
    const DownloadOutcome outcome = DownloadArchive(session(), utcOffsetSeconds, steps);
    if (outcome.end == DownloadEnd::NotChosen)
        return;
    file.close();
    reportFile(file);
    switch (outcome.end) {
    case DownloadEnd::RecordFailed:
        showStatus(Label2, Label5, false);
        break;
    case DownloadEnd::TimeEncode:
        showMessage(TimeEncodeError());
        break;
    case DownloadEnd::DateEncode:
        showMessage(DateEncodeError());
        break;
    case DownloadEnd::One:
        EdVal->setText(QString::fromStdString(*outcome.oneValue));
        break;
    case DownloadEnd::Completed:
    case DownloadEnd::Stopped:
    case DownloadEnd::Unanswered:
    case DownloadEnd::NotChosen:
        break;
    }
}

void TForm1::DownScrClick()
{
    const QString path = seam().openFileName(this, QStringLiteral("scr"), QStringLiteral("|scr"));
    if (path.isEmpty())
        return;
    setWindowTitle(nativePath(path));
    const auto result = tessavin::SendScriptFile(session(), path, [this](const QByteArray& shown) {
        Memo1->clear();
        Memo1->setPlainText(tessavin::DecodeText(shown));
    });
    switch (result.file.status) {
    case tessavin::ScriptFileStatus::Loaded:
        break;
    case tessavin::ScriptFileStatus::Empty:
        Memo1->clear();
        break;
    case tessavin::ScriptFileStatus::TooLong:
        Memo1->setPlainText(tessavin::ScriptTooLongMessage(result.file.size));
        break;
    case tessavin::ScriptFileStatus::Unreadable:
        break;
    }
    showStatus(Label2, Label5, result.replied);
}

void TForm1::ButtonUpClick()
{
    showStatus(Label2, Label5, std::nullopt);
    processMessages();
    const QString path = seam().saveFileName(this, QStringLiteral("log"), QString());
    if (path.isEmpty())
        return;
    const auto result = tessavin::ReadScriptBack(session(), path);
    if (!result.ok) {
        showStatus(Label2, Label5, false);
        return;
    }
    Memo1->clear();
    Memo1->setPlainText(tessavin::DecodeText(result.shown));
    setWindowTitle(nativePath(path));
    if (!result.saved) {
        Memo1->clear();
        showMessage(result.fileError);
    }
}

void TForm1::Down_testikClick()
{
    if (!confirmed())
        return;
    showStatus(Label2, Label5, std::nullopt);
    processMessages();
    showStatus(Label2, Label5, tessavin::ClearScript(session()) == tessavin::LinkError::None);
}
