// Handlers of the archive download and the script transfer. None of them has a
// visible control in the window; they are reached as slots.
#include "form1.h"

#include "archive.h"
#include "conversions.h"
#include "open_files.h"
#include "script_transfer.h"
#include "text_codec.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// The begin step, shared by both archive handlers.
void archiveBeginStep(TForm1& form)
{
    TForm1::showStatus(form.Label2, form.Label5, std::nullopt);
    TForm1::processMessages();
    const int begin = tessavin::ReadArchiveBegin(form.session()).value;
    form.Memo1->clear();
    form.Memo1->setPlainText(QStringLiteral("OK=%1").arg(begin));
    TForm1::showStatus(form.Label2, form.Label5, begin > 0);
}

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

} // namespace

void TForm1::ButBegRetroClick()
{
    archiveBeginStep(*this);
}

void TForm1::ButContRetroClick()
{
    tessavin::ArchivePlan plan;
    // The controller keeps UTC; records are shown in the computer's local time.
    plan.utcOffsetSeconds = QDateTime::currentDateTime().offsetFromUtc();
    archiveBeginStep(*this);
    const int newest = tessavin::ArchiveNewestIndex(session().begin);
    showStatus(Label2, Label5, std::nullopt);
    processMessages();

    tessavin::OutputFile file;
    const auto request = chooseRecords(QStringLiteral("ret"), file);
    if (!request)
        return;
    plan.choice = request->choice;
    if (plan.choice == tessavin::RecordChoice::Index)
        plan.indexCount = request->number;
    else if (plan.choice == tessavin::RecordChoice::One)
        plan.oneIndex = request->number;

    tessavin::ArchiveEvents events;
    events.processMessages = [] { processMessages(); };
    events.line = [this, &file](const tessavin::ArchiveLine& line) {
        if (file.isOpen())
            file.write(QByteArray::fromStdString(line.fileLine));
        // Each record is one line of the memo; its LF is the line's end.
        QString shown = QString::fromLatin1(line.memoLine);
        shown.chop(1);
        Memo1->appendPlainText(shown);
        Edi->setText(QString::number(line.index));
        lastArchive.push_back(line);
    };
    lastArchive.clear();
    const tessavin::ArchiveOutcome outcome = tessavin::ReadArchiveRecords(session(), newest, plan, events);
    file.close();
    reportFile(file);
    switch (outcome.end) {
    case tessavin::ArchiveEnd::ReadFailed:
        showStatus(Label2, Label5, false);
        break;
    case tessavin::ArchiveEnd::TimeEncode:
        showMessage(tessavin::TimeEncodeError());
        break;
    case tessavin::ArchiveEnd::DateEncode:
        showMessage(tessavin::DateEncodeError());
        break;
    case tessavin::ArchiveEnd::One:
        EdVal->setText(QString::fromStdString(*outcome.oneValue));
        break;
    case tessavin::ArchiveEnd::Done:
    case tessavin::ArchiveEnd::Stopped: // the window asks for no stop
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
