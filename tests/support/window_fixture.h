#pragma once
// The real window set up for a test: the four windows in their order, settings
// in a temporary folder, dialogs answered by the test, and the process end caught.
// MemoryWindow adds the emulated controller in memory on a virtual clock;
// SimWindow adds it on a pseudo-terminal in real time. Header only: the
// test support library does not link the app.
#include "app/form1.h"
#include "app/form2.h"
#include "app/okbottomdlg.h"
#include "tests/support/test_support.h"
#include "app/ui_seam.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace tessavin::test {

// Answers the window's questions from queues the test fills; records messages.
class ScriptedSeam : public UiSeam {
public:
    QStringList messages;
    QStringList details; // the details of each message, "" when none
    QList<int> confirmAnswers; // modal results; empty: 2 ("НЕТ")
    QStringList questions; // every yes/no question asked
    QList<bool> askAnswers; // empty: no
    std::function<void(QDialog&)> onDialog; // looks at each dialog shown
    QList<QString> openAnswers; // paths; empty string: cancelled
    QList<QString> saveAnswers;
    int confirmCount = 0;
    int openCount = 0;
    int saveCount = 0;
    QString lastSaveSuffix;
    QString lastOpenSuffix;
    QString lastFilter;

    void showMessage(QWidget*, const QString& text, const QString& detail) override
    {
        messages << text;
        details << detail;
    }
    int confirm(TOKBottomDlg&) override
    {
        ++confirmCount;
        return confirmAnswers.isEmpty() ? 2 : confirmAnswers.takeFirst();
    }
    bool ask(QWidget*, const QString& text) override
    {
        questions << text;
        return !askAnswers.isEmpty() && askAnswers.takeFirst();
    }
    void showDialog(QDialog& dialog) override
    {
        if (onDialog)
            onDialog(dialog);
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
    explicit WindowFixture(LinkTiming timing = {}, QString settingsDir = {}, std::shared_ptr<BytePort> port = {},
                           std::shared_ptr<Clock> clock = {})
    {
        AppOptions options;
        options.settingsDir = settingsDir.isEmpty() ? dir.path() : settingsDir;
        options.fallbackSettingsDir = dir.filePath(QStringLiteral("user"));
        options.timing = timing;
        options.port = std::move(port);
        options.clock = std::move(clock);
        build(std::move(options));
    }
    // The window with these options (a demo's, say).
    explicit WindowFixture(AppOptions options) { build(std::move(options)); }
    ~WindowFixture() { form1->session().link.close(); }

    void build(AppOptions options)
    {
        options.exitProcess = [this] { ++exits; };
        form1 = std::make_unique<TForm1>(options);
        form2 = std::make_unique<TForm2>();
        form3 = std::make_unique<TForm3>();
        dialog = std::make_unique<TOKBottomDlg>(form1.get(), form1.get());
        form1->attachWindows(form2.get(), form3.get(), dialog.get());
        form1->setSeam(&seam);
    }

    QTemporaryDir dir;
    ScriptedSeam seam;
    int exits = 0;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TOKBottomDlg> dialog;
};

// A control of the Main window found by its objectName (the name the window
// gives it), of its kind; the test ends at once when there is none. The controls
// lie on the scrolled client area; Scroll and Memo's "Compare with controller…"
// belong to the window itself. (The Confirmation dialog, a child of the window
// too, has a Label1 of its own.)
template <typename T>
T* widget(const TForm1& form, const char* name)
{
    T* found = nullptr;
    if (const auto* area = form.findChild<QWidget*>(QStringLiteral("ClientArea")))
        found = area->findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    if (!found)
        found = form.findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    if (!found)
        qFatal("The Main window has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

// Presses a button as a person would: it must be there to press (not hidden,
// enabled), and the click runs through the window's own binding.
inline void press(QAbstractButton* button)
{
    QVERIFY2(!button->isHidden() && button->isEnabled(), qPrintable(button->objectName() + " cannot be pressed"));
    button->click();
}

// The window with helpers shared by the benches below.
struct WindowBench {
    explicit WindowBench(LinkTiming timing, std::shared_ptr<BytePort> port = {}, std::shared_ptr<Clock> clock = {})
        : f(timing, {}, std::move(port), std::move(clock))
    {
    }
    WindowFixture f;

    TForm1& form() { return *f.form1; }
    QStringList memo1Lines() const
    {
        return widget<QPlainTextEdit>(*f.form1, "Memo1")->toPlainText().split(QLatin1Char('\n'));
    }
    QString path(const char* name) const { return f.dir.filePath(QLatin1String(name)); }
    // A right click on the window's free area, as a person shows (or hides again)
    // the service controls: EdONE, ONE, Max, StartLog and StopLog.
    void rightClickFreeArea()
    {
        QWidget* area = widget<QScrollArea>(*f.form1, "Scroll")->widget();
        const QPoint free(300, 720); // between Memo1 and the Trace memo
        QVERIFY(area->childAt(free) == nullptr);
        QTest::mouseClick(area, Qt::RightButton, {}, free);
    }
    // Which half of the Status pair shows: "OK", "NOT OK", "" or "both".
    QString status() const
    {
        const bool ok = !widget<QLabel>(*f.form1, "Label2")->isHidden(),
                   notOk = !widget<QLabel>(*f.form1, "Label5")->isHidden();
        return ok && notOk ? QStringLiteral("both")
            : ok           ? QStringLiteral("OK")
            : notOk        ? QStringLiteral("NOT OK")
                           : QString();
    }
};

// The window and the emulated controller in memory, on a virtual clock, with the
// system's timings unless told otherwise: no thread, no pseudo-terminal, no real
// time. start() names the controller in Edit1 and, unless told not to, presses Open.
struct LineHolder {
    explicit LineHolder(const sim::ControllerSettings& settings) : line(settings) { }
    sim::MemoryLine line;
};
struct MemoryWindow : LineHolder, WindowBench {
    explicit MemoryWindow(const sim::ControllerSettings& settings = {}, LinkTiming timing = {})
        : LineHolder(settings)
        , WindowBench(timing, line.port, line.clock)
    {
    }
    bool start(bool open = true)
    {
        widget<QLineEdit>(form(), "Edit1")->setText(QStringLiteral("controller"));
        if (open)
            press(widget<QPushButton>(form(), "OpenCom"));
        return !open || form().session().link.isOpen();
    }
    void state(const std::function<void(sim::ControllerState&)>& change) { change(line.controller.state()); }
    void fault(sim::FaultKind kind, sim::FaultTarget target = sim::FaultTarget::any(), int times = -1, int bytes = -1)
    {
        line.controller.addFault({kind, target, times, bytes, std::chrono::milliseconds(-1)});
    }
    QList<QByteArray> received() const { return line.received(); }
    std::chrono::milliseconds now() const { return line.clock->now(); }
};

// The window and the emulated controller on a pseudo-terminal, in real time:
// the real serial port end to end.
struct SimWindow : WindowBench {
    explicit SimWindow(LinkTiming timing = quickTiming(), const sim::ControllerSettings& settings = {})
        : WindowBench(timing)
        , sim(settings)
    {
    }
    sim::ControllerThread sim;

    bool start(bool open = true)
    {
        if (!sim.start())
            return false;
        widget<QLineEdit>(form(), "Edit1")->setText(sim.slavePath());
        if (open)
            press(widget<QPushButton>(form(), "OpenCom"));
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
};

} // namespace tessavin::test
