// Handlers of the event log and the service commands of the register and log link.
#include "app/form1.h"

#include "util/conversions.h"
#include "features/event_log.h"
#include "util/open_files.h"
#include "features/service_commands.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

using namespace tessavin;

namespace {

// One question about the log ring: the old verdict vanishes, the answer is
// stored and shown, and "OK" follows whatever the value (0 for no reply).
void beforeQuestion(const TForm1::DownloadArea& area)
{
    area.status(std::nullopt);
    TForm1::processMessages();
}

void showAnswer(const TForm1::DownloadArea& area, RingQuestion question, int value)
{
    const QString line = RingQuestionLine(question, value);
    if (question == RingQuestion::LogCapacity)
        area.memo->setPlainText(line); // the capacity line replaces all earlier text
    else
        area.memo->appendPlainText(line);
    area.status(true);
}

void askAndShow(Session& session, const TForm1::DownloadArea& area, RingQuestion question)
{
    beforeQuestion(area);
    showAnswer(area, question, AskRingQuestion(session, question).value);
}

// The progress bar under Memo1 is there only while records are being read.
class ProgressShown {
public:
    ProgressShown(QProgressBar* bar, int total) : bar_(bar)
    {
        bar_->setRange(0, std::max(total, 1));
        bar_->setValue(0);
        bar_->setVisible(true);
    }
    ~ProgressShown() { bar_->setVisible(false); }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;

private:
    QProgressBar* bar_;
};

// A switch command behind its Status pair; `ask` puts the Confirmation dialog first.
void switchCommand(TForm1& form, SwitchCommand command, QLabel* okLabel, QLabel* notOkLabel, bool ask)
{
    if (ask && !form.confirmed())
        return; // declined: nothing sent, the Status pair keeps what it showed
    TForm1::showStatus(okLabel, notOkLabel, std::nullopt);
    TForm1::processMessages();
    TForm1::showStatus(okLabel, notOkLabel, SendSwitchCommand(form.session(), command) == LinkError::None);
}

// A value read into Edi behind the Status pair: the old verdict and value vanish,
// Edi holds `placeholder` while the reply is awaited, and keeps it on failure.
void readServiceValue(Session& session, const TForm1::DownloadArea& area, const QString& placeholder,
                      ServiceReading (*read)(Session&))
{
    area.status(std::nullopt);
    area.value->clear();
    TForm1::processMessages();
    area.value->setText(placeholder);
    const ServiceReading reading = read(session);
    if (reading.ok)
        area.value->setText(reading.text);
    area.status(reading.ok);
}

} // namespace

void TForm1::ButContLogClick()
{
    Session& s = session();

    if (ok->isHidden()) {
        // A failed open has been reported; the download goes on and its requests
        // get no reply. A baud rate that is not a number ends it, as it ends Open.
        const bool baudIsNumber = ParseInteger(Boud->text()).has_value();
        openPortFromFields();
        if (!baudIsNumber)
            return;
    }
    Memo1->clear();
    s.stopRequested = false;
    OutputFile file;
    std::optional<ProgressShown> progress;
    DownloadSteps<LogLine> steps;
    steps.asking = [this](RingQuestion) { beforeQuestion(downloadArea()); };
    steps.answered = [this](RingQuestion question, const LinkResult<int>& answer) {
        showAnswer(downloadArea(), question, answer.value); // a failed question shows 0 and the download goes on
        return true;
    };
    steps.choose = [this, &file] {
        showStatus(Label2, Label5, std::nullopt);
        processMessages();
        return chooseRecords(QStringLiteral("log"), file);
    };
    steps.chosen = [this, &progress](const RecordSpan& span) { progress.emplace(Progress, span.count); };
    // A '>' record may hold CR or LF: they stay in the line, and the memo breaks
    // the line at each of them (CR LF counts as one break). Other records arrive
    // cleaned, one memo line each.
    steps.sink.show = [this](const LogLine& line) { Memo1->appendPlainText(LogMemoText(line)); };
    steps.sink.marked = [this](int ordinal) { Edi->setText(QString::number(ordinal)); };
    steps.sink.progress = [this](int done, int) { Progress->setValue(done); };
    steps.sink.file = &file;
    const DownloadOutcome outcome = DownloadEventLog(s, Max->isChecked(), steps);
    if (outcome.end == DownloadEnd::NotChosen)
        return;
    if (outcome.end == DownloadEnd::RecordFailed)
        showStatus(Label2, Label5, false);
    reportFile(file);
}

void TForm1::ButBegLogClick() { askAndShow(session(), downloadArea(), RingQuestion::LogBegin); }

void TForm1::ButCountLogClick() { askAndShow(session(), downloadArea(), RingQuestion::LogCount); }

void TForm1::ButMaxLogClick() { askAndShow(session(), downloadArea(), RingQuestion::LogCapacity); }

void TForm1::ButKillLogClick() { switchCommand(*this, SwitchCommand::ClearLog, Label2, Label5, true); }

void TForm1::StartLogClick() { switchCommand(*this, SwitchCommand::StartLogging, Label9, Label10, false); }

void TForm1::StopLogClick() { switchCommand(*this, SwitchCommand::StopLogging, Label9, Label10, false); }

void TForm1::Button3Click() { switchCommand(*this, SwitchCommand::Registration, Label2, Label5, true); }

void TForm1::Button4Click() { readServiceValue(session(), downloadArea(), QString(), ReadDeviceNumber); }

void TForm1::Button5Click() { readServiceValue(session(), downloadArea(), PressurePlaceholder(), ReadPressure); }
