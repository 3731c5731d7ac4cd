// Handlers of the event log and the service commands of the register and log link.
#include "form1.h"

#include "conversions.h"
#include "event_log.h"
#include "open_files.h"
#include "service_commands.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

using namespace tessavin;

namespace {

// One question about the log ring: the old verdict vanishes, the answer is
// stored and shown, and "OK" follows whatever the value (0 for no reply).
void beforeQuestion(TForm1& form)
{
    TForm1::showStatus(form.Label2, form.Label5, std::nullopt);
    TForm1::processMessages();
}

void showAnswer(TForm1& form, RingQuestion question, int value)
{
    const QString line = RingQuestionLine(question, value);
    if (question == RingQuestion::LogCapacity)
        form.Memo1->setPlainText(line); // the capacity line replaces all earlier text
    else
        form.Memo1->appendPlainText(line);
    TForm1::showStatus(form.Label2, form.Label5, true);
}

void askAndShow(TForm1& form, RingQuestion question)
{
    beforeQuestion(form);
    showAnswer(form, question, AskRingQuestion(form.session(), question).value);
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
void readServiceValue(TForm1& form, const QString& placeholder, ServiceReading (*read)(Session&))
{
    TForm1::showStatus(form.Label2, form.Label5, std::nullopt);
    form.Edi->clear();
    TForm1::processMessages();
    form.Edi->setText(placeholder);
    const ServiceReading reading = read(form.session());
    if (reading.ok)
        form.Edi->setText(reading.text);
    TForm1::showStatus(form.Label2, form.Label5, reading.ok);
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
    steps.asking = [this](RingQuestion) { beforeQuestion(*this); };
    steps.answered = [this](RingQuestion question, const LinkResult<int>& answer) {
        showAnswer(*this, question, answer.value); // a failed question shows 0 and the download goes on
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

void TForm1::ButBegLogClick() { askAndShow(*this, RingQuestion::LogBegin); }

void TForm1::ButCountLogClick() { askAndShow(*this, RingQuestion::LogCount); }

void TForm1::ButMaxLogClick() { askAndShow(*this, RingQuestion::LogCapacity); }

void TForm1::ButKillLogClick() { switchCommand(*this, SwitchCommand::ClearLog, Label2, Label5, true); }

void TForm1::StartLogClick() { switchCommand(*this, SwitchCommand::StartLogging, Label9, Label10, false); }

void TForm1::StopLogClick() { switchCommand(*this, SwitchCommand::StopLogging, Label9, Label10, false); }

void TForm1::Button3Click() { switchCommand(*this, SwitchCommand::Registration, Label2, Label5, true); }

void TForm1::Button4Click() { readServiceValue(*this, QString(), ReadDeviceNumber); }

void TForm1::Button5Click() { readServiceValue(*this, PressurePlaceholder(), ReadPressure); }
