#pragma once
// The real window set up for a test: the four windows in their order, settings
// in a temporary folder, dialogs answered by the test, and the process end caught.
// SimWindow adds an emulated controller on a pseudo-terminal. Header only: the
// test support library does not link the app.
#include "form1.h"
#include "form2.h"
#include "okbottomdlg.h"
#include "test_support.h"
#include "ui_seam.h"

#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace tessavin::test {

// Answers the window's questions from queues the test fills; records messages.
class ScriptedSeam : public UiSeam {
public:
    QStringList messages;
    QList<int> confirmAnswers;      // modal results; empty: 2 ("НЕТ")
    QList<QString> openAnswers;     // paths; empty string: cancelled
    QList<QString> saveAnswers;
    int confirmCount = 0;
    int openCount = 0;
    int saveCount = 0;
    QString lastSaveSuffix;
    QString lastOpenSuffix;
    QString lastFilter;

    void showMessage(QWidget*, const QString& text) override { messages << text; }
    int confirm(TOKBottomDlg&) override
    {
        ++confirmCount;
        return confirmAnswers.isEmpty() ? 2 : confirmAnswers.takeFirst();
    }
    QString openFileName(QWidget*, const QString& suffix, const QString& filter) override
    {
        ++openCount;
        lastOpenSuffix = suffix;
        lastFilter = filter;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& suffix, const QString& filter) override
    {
        ++saveCount;
        lastSaveSuffix = suffix;
        lastFilter = filter;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
};

struct WindowFixture {
    explicit WindowFixture(LinkTiming timing = {}, QString settingsDir = {})
    {
        AppOptions options;
        options.settingsDir = settingsDir.isEmpty() ? dir.path() : settingsDir;
        options.fallbackSettingsDir = dir.filePath(QStringLiteral("user"));
        options.timing = timing;
        options.exitProcess = [this] { ++exits; };
        form1 = std::make_unique<TForm1>(options);
        form2 = std::make_unique<TForm2>();
        form3 = std::make_unique<TForm3>();
        dialog = std::make_unique<TOKBottomDlg>(form1.get(), form1.get());
        form1->attachWindows(form2.get(), form3.get(), dialog.get());
        form1->setSeam(&seam);
    }
    ~WindowFixture() { form1->session().link.close(); }

    QTemporaryDir dir;
    ScriptedSeam seam;
    int exits = 0;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TOKBottomDlg> dialog;
};

// The window and an emulated controller; start() puts the controller's path in
// Edit1 and, unless told not to, opens the port.
struct SimWindow {
    explicit SimWindow(LinkTiming timing = quickTiming(), const sim::ControllerSettings& settings = {})
        : sim(settings), f(timing)
    {
    }
    sim::ControllerThread sim; // outlives the window and its port
    WindowFixture f;

    TForm1& form() { return *f.form1; }
    bool start(bool open = true)
    {
        if (!sim.start())
            return false;
        form().Edit1->setText(sim.slavePath());
        if (open)
            form().OpenComClick();
        return !open || form().session().link.isOpen();
    }
    void state(const std::function<void(sim::ControllerState&)>& change)
    {
        sim.withController([&](sim::Controller& c) { change(c.state()); });
    }
    void fault(sim::FaultKind kind, sim::FaultTarget target = sim::FaultTarget::any(), int times = -1, int bytes = -1)
    {
        addFault(sim, kind, target, times, bytes);
    }
    QList<QByteArray> received() const { return receivedFrames(sim); }
    QStringList memo1Lines() const { return f.form1->Memo1->toPlainText().split(QLatin1Char('\n')); }
    QString path(const char* name) const { return f.dir.filePath(QLatin1String(name)); }
    // Which half of the Status pair shows: "OK", "NOT OK", "" or "both".
    QString status() const
    {
        const bool ok = !f.form1->Label2->isHidden(), notOk = !f.form1->Label5->isHidden();
        return ok && notOk ? QStringLiteral("both") : ok ? QStringLiteral("OK") : notOk ? QStringLiteral("NOT OK") : QString();
    }
};

} // namespace tessavin::test
