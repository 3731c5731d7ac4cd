// The Main window as the engineer meets it: its controls by name, the defaults, the
// settings file, opening and closing the port (pressed, against the emulated
// controller in memory), the service toggle, the record choice, the Confirmation
// dialog and the one-exchange-at-a-time rule; the windows in English, and every
// text they show translated.
#include "tests/support/window_fixture.h"

#include "serial/port_list.h"
#include "app/window_language.h"

#include "tessavin_version.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QCompleter>
#include <QStringListModel>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QXmlStreamReader>

using namespace tessavin;
using namespace tessavin::test;

namespace {

QWidget* control(TForm1& form, const QString& name) { return form.findChild<QWidget*>(name); }

QString textOf(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return {};
}

// The windows built while `language` is installed; the Russian texts again after.
struct InLanguage {
    explicit InLanguage(const QString& language) : installed(UseWindowLanguage(language)) { }
    ~InLanguage() { UseWindowLanguage(defaultWindowLanguage()); }
    InLanguage(const InLanguage&) = delete;
    InLanguage& operator=(const InLanguage&) = delete;
    const bool installed;
};

// Every text a window shows a person: its title, captions, fields, combo items and tool tips.
QStringList shownTexts(QWidget* window)
{
    QStringList texts{window->windowTitle(), window->toolTip()};
    for (QWidget* w : window->findChildren<QWidget*>()) {
        texts << textOf(w) << w->toolTip();
        if (auto* combo = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
    }
    return texts;
}

// The texts of a .ts file without a finished translation, "context: text (why)".
[[maybe_unused]] QStringList untranslated(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {path + QStringLiteral(": cannot be read")};
    QStringList missing;
    QXmlStreamReader xml(&file);
    QString context, source, type, translation;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            type = xml.attributes().value(QLatin1String("type")).toString();
            translation = xml.readElementText();
            if (!type.isEmpty() || translation.isEmpty())
                missing << QStringLiteral("%1: \"%2\" (%3)").arg(context, source, type.isEmpty() ? "empty" : type);
        }
    }
    if (xml.hasError())
        missing << path + QStringLiteral(": ") + xml.errorString();
    return missing;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    // A fresh window that no test touches: the controls are looked up on it.
    std::unique_ptr<WindowFixture> fresh_;

private slots:
    void initTestCase() { fresh_ = std::make_unique<WindowFixture>(); }
    void cleanupTestCase() { fresh_.reset(); }

    // Every control is there under the name the window gives it, of its kind;
    // a few, one in each part of the window, stand where the window places them.
    void controls()
    {
        const TForm1& form = *fresh_->form1;
        const QWidget* area = form.findChild<QWidget*>("ClientArea");
        QVERIFY(area);
        const std::pair<const char*, QStringList> kinds[] = {
            {"QPushButton",
             {"OpenCom",   "ButContLog",  "Button8",      "Button7", "Button6", "ButKillLog",  "StartLog",
              "StopLog",   "ReadTim",     "ButContRetro", "Upl",     "Button1", "BuReboot",    "Set_Test",
              "Upl_test",  "Button2",     "Ope",          "Sav",     "DownScr", "Down_testik", "ButtonUp",
              "ButBegLog", "ButBegRetro", "Button4",      "Button5", "Button3"}},
            {"QLabel",
             {"Label8", "Label1", "ok", "Label2", "Label5", "Label9", "Label10", "Label", "Label6", "Label7", "Label3",
              "Label4"}},
            {"QLineEdit", {"Edit1", "Boud", "EdONE", "Beg", "Edi", "add1", "add2", "day", "End2", "EdVal"}},
            {"QCheckBox", {"ONE", "Max", "chFile", "Last10", "Last100", "Last500", "Index"}},
            {"QComboBox", {"ComboBox1", "ComboBox2", "ComboBox3"}},
            {"QPlainTextEdit", {"Memo1", "Memo"}},
            {"QProgressBar", {"Progress"}},
        };
        for (const auto& [kind, names] : kinds) {
            for (const QString& name : names) {
                const QWidget* w = area->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
                QVERIFY2(w && w->inherits(kind), qPrintable(name));
            }
        }
        QCOMPARE(widget<QLineEdit>(form, "Edit1")->geometry(), QRect(40, 20, 90, 21));
        QCOMPARE(widget<QPushButton>(form, "ButContLog")->geometry(), QRect(346, 18, 60, 25));
        QCOMPARE(widget<QCheckBox>(form, "Index")->geometry(), QRect(320, 82, 96, 17));
        QCOMPARE(widget<QPlainTextEdit>(form, "Memo1")->geometry(), QRect(8, 138, 489, 545));
        QCOMPARE(widget<QPushButton>(form, "Button2")->geometry(), QRect(8, 940, 70, 41));
        QCOMPARE(widget<QComboBox>(form, "ComboBox2")->geometry(), QRect(140, 1008, 56, 21));
        QCOMPARE(widget<QPushButton>(form, "Ope")->geometry(), QRect(610, 18, 100, 25));
        QVERIFY(form.findChild<QScrollArea*>("Scroll", Qt::FindDirectChildrenOnly));
        QVERIFY(form.findChild<QAction*>("CompareWithController", Qt::FindDirectChildrenOnly));
    }

    void windowsAndMemos()
    {
        WindowFixture f;
        QCOMPARE(f.form1->windowTitle(), QString(67, ' ') + "Tessavin");
        QCOMPARE(f.form1->size(), QSize(574, 736));
        QVERIFY(widget<QCheckBox>(*f.form1, "Index")->isChecked());
        QVERIFY(!widget<QCheckBox>(*f.form1, "chFile")->isChecked());
        QCOMPARE(widget<QPlainTextEdit>(*f.form1, "Memo1")->toPlainText(), QString());
        QCOMPARE(widget<QPlainTextEdit>(*f.form1, "Memo1")->size(), QSize(489, 545));
        QCOMPARE(widget<QPlainTextEdit>(*f.form1, "Memo")->size(), QSize(716, 153));
        QCOMPARE(f.form2->windowTitle(), QString(84, ' ') + "Diag");
        QVERIFY(f.form2->isHidden());
        QCOMPARE(f.form3->windowTitle(), QStringLiteral("Form3"));
        QCOMPARE(f.dialog->windowTitle(), QString(25, ' ') + QStringLiteral("ВОПРОС"));
        QCOMPARE(f.dialog->Label1->text(), QStringLiteral("   Вы  уверены?"));
        QCOMPARE(f.dialog->OKBtn->text(), QStringLiteral("ДА"));
        QCOMPARE(f.dialog->CancelBtn->text(), QStringLiteral("НЕТ"));
        QCOMPARE(widget<QComboBox>(*f.form1, "ComboBox1")->currentText(), QStringLiteral("10 мин"));
        QCOMPARE(widget<QComboBox>(*f.form1, "ComboBox1")->count(), 4);
        QCOMPARE(widget<QComboBox>(*f.form1, "ComboBox2")->count(), 24);
        QCOMPARE(widget<QComboBox>(*f.form1, "ComboBox3")->count(), 60);
        // Start, the Trace memo and the configuration buttons lie beyond the client area.
        f.form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form1.get()));
        const QRect visible = widget<QScrollArea>(*f.form1, "Scroll")->viewport()->rect();
        QVERIFY(!visible.contains(widget<QPushButton>(*f.form1, "Button2")->geometry()));
        QVERIFY(!visible.contains(widget<QPlainTextEdit>(*f.form1, "Memo")->geometry()));
        QVERIFY(!visible.contains(widget<QPushButton>(*f.form1, "Ope")->geometry()));
        // The Diagnostic window is one shortcut away; it opens with the version,
        // and its Clear empties the memo.
        QCOMPARE(f.form2->Memo->toPlainText(), QStringLiteral("Tessavin " TESSAVIN_VERSION));
        f.form2->addLine("trace");
        QTest::keyClick(f.form1.get(), Qt::Key_D, Qt::ControlModifier);
        QTRY_VERIFY(f.form2->isVisible());
        f.form2->Button1->click();
        QCOMPARE(f.form2->Memo->toPlainText(), QString());
    }

    void settingsFirstRunAndRoundTrip()
    {
        QTemporaryDir dir;
        {
            WindowFixture f({}, dir.path());
            QCOMPARE(widget<QLineEdit>(*f.form1, "Edit1")->text(), QStringLiteral("7"));
            QCOMPARE(widget<QLineEdit>(*f.form1, "Boud")->text(), QStringLiteral("38400"));
            f.form1->close();
            QCOMPARE(f.exits, 1);
            const QByteArray text = readFile(dir.filePath("log.log"));
            QVERIFY(text.startsWith("[log]"));
            QVERIFY(text.contains("port=7"));
            QVERIFY(text.contains("baud=38400"));
        }
        {
            WindowFixture f({}, dir.path());
            widget<QLineEdit>(*f.form1, "Edit1")->setText("3");
            widget<QLineEdit>(*f.form1, "Boud")->setText("9600");
            f.form1->FormClose();
            QCOMPARE(f.exits, 1);
        }
        WindowFixture f({}, dir.path());
        QCOMPARE(widget<QLineEdit>(*f.form1, "Edit1")->text(), QStringLiteral("3"));
        QCOMPARE(widget<QLineEdit>(*f.form1, "Boud")->text(), QStringLiteral("9600"));
    }

    void settingsWithGarbageLines()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("log.log"), "garbage\n\x01\x02=\n[log]\nbaud=19200\nnonsense line\n"));
        WindowFixture f({}, dir.path());
        QCOMPARE(widget<QLineEdit>(*f.form1, "Edit1")->text(), QStringLiteral("7"));
        QCOMPARE(widget<QLineEdit>(*f.form1, "Boud")->text(), QStringLiteral("19200"));
    }

    // Beside the executable first; a folder that cannot be written gives way to
    // the per-user folder; when neither can be written the message names the
    // file, and the window closes all the same (once).
    void settingsFallbackAndFailure()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("not-a-folder"), {}));
        const QString unwritable = dir.filePath("not-a-folder/sub");
        {
            WindowFixture f({}, unwritable);
            widget<QLineEdit>(*f.form1, "Edit1")->setText("4");
            f.form1->FormClose();
            QCOMPARE(f.exits, 1);
            QVERIFY(QFile::exists(f.dir.filePath("user/log.log")));
            QVERIFY(f.form1->settingsPath().endsWith("user/log.log"));
        }
        AppOptions options;
        options.settingsDir = unwritable;
        options.fallbackSettingsDir = dir.filePath("not-a-folder/user");
        int exits = 0;
        options.exitProcess = [&] { ++exits; };
        TForm1 form(options);
        ScriptedSeam seam;
        form.setSeam(&seam);
        form.FormClose();
        form.FormClose();
        QCOMPARE(exits, 1);
        QCOMPARE(seam.messages.size(), 1);
        QVERIFY(seam.messages[0].startsWith("Unable to write to "));
        QVERIFY(seam.messages[0].endsWith("log.log"));
    }

    // Open and Close pressed: the open indicator twins the port. Open while open
    // closes the old port first, even when the new open fails.
    // The port field offers the ports the system sees when it gains focus (not
    // at start), so a port plugged in meanwhile is offered too.
    void portCompletionsOnFocus()
    {
        WindowFixture f;
        QLineEdit* field = widget<QLineEdit>(*f.form1, "Edit1");
        QCOMPARE(field->completer()->model()->rowCount(), 0);
        QFocusEvent focus(QEvent::FocusIn);
        QCoreApplication::sendEvent(field, &focus);
        QStringList expected;
        for (const PortEntry& port : ListSerialPorts())
            expected << port.name << port.path;
        if (expected.isEmpty())
            QSKIP("[ports] no serial ports here");
        const QStringList offered = qobject_cast<QStringListModel*>(field->completer()->model())->stringList();
        for (const QString& name : expected)
            QVERIFY2(offered.contains(name), qPrintable(name));
    }

    // The port field's menu finds the controller at its rate among wrong ones
    // and fills the port and baud fields; the window's own port is let go first.
    void findTheControllerFromThePortMenu()
    {
        SimWindow b;
        SKIP_UNLESS_STARTED(b.start());
        sim::LineSettings line;
        line.baud = 19200;
        line.mismatch = sim::RateMismatch::Garbage;
        b.sim.setLineSettings(line);
        TForm1& w = b.form();
        widget<QLineEdit>(w, "Boud")->setText("9600");
        QTimer::singleShot(0, &w, [&w] {
            auto* menu = widget<QLineEdit>(w, "Edit1")->findChild<QMenu*>("PortMenu");
            QVERIFY(menu);
            menu->findChild<QAction*>("FindController")->trigger();
            menu->close();
        });
        emit widget<QLineEdit>(w, "Edit1")->customContextMenuRequested({4, 4});
        QCOMPARE(widget<QLineEdit>(w, "Edit1")->text(), b.sim.slavePath());
        QCOMPARE(widget<QLineEdit>(w, "Boud")->text(), QStringLiteral("19200"));
        QVERIFY(b.f.seam.messages.isEmpty());
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
    }

    void openAndClose()
    {
        MemoryWindow b;
        QVERIFY(b.start());
        WindowFixture& f = b.f;
        TForm1& w = b.form();
        QVERIFY(!widget<QLabel>(w, "ok")->isHidden());
        QCOMPARE(w.session().link.deviceName(), QStringLiteral("controller"));
        press(widget<QPushButton>(w, "Button7"));
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QVERIFY(!w.session().link.isOpen());
        press(widget<QPushButton>(w, "Button7")); // nothing open: nothing happens
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QVERIFY(f.seam.messages.isEmpty());

        press(widget<QPushButton>(w, "OpenCom"));
        QVERIFY(!widget<QLabel>(w, "ok")->isHidden());
        QCOMPARE(b.line.port->opens(), 2);
        b.line.port->refuseOpen({PortOpenError::Kind::NoSuchDevice, {}, {}});
        widget<QLineEdit>(w, "Edit1")->setText("/dev/tessavin-no-such-port");
        press(widget<QPushButton>(w, "OpenCom"));
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QVERIFY(!w.session().link.isOpen());
        QCOMPARE(f.seam.messages, QStringList{QStringLiteral("   COM порт ???")});

        // An empty port field and a baud rate that is not a number never reach the port.
        b.line.port->refuseOpen({});
        widget<QLineEdit>(w, "Edit1")->setText("");
        press(widget<QPushButton>(w, "OpenCom"));
        QCOMPARE(f.seam.messages.last(), QStringLiteral("   COM порт ???"));
        widget<QLineEdit>(w, "Edit1")->setText("controller");
        widget<QLineEdit>(w, "Boud")->setText("96OO");
        press(widget<QPushButton>(w, "OpenCom"));
        QCOMPARE(f.seam.messages.last(), QStringLiteral("'96OO' is not a valid integer value"));
        QCOMPARE(f.seam.messages.size(), 3);
        // Why a port did not open, behind the message's details button.
        QCOMPARE(f.seam.details, (QStringList{"no such device /dev/tessavin-no-such-port", "no port named", ""}));
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QCOMPARE(b.line.port->opens(), 2);
        QVERIFY(b.line.port->written().isEmpty());
    }

    void serviceToggle()
    {
        WindowBench b({});
        TForm1& w = b.form();
        const QList<QWidget*> service{widget<QLineEdit>(w, "EdONE"), widget<QCheckBox>(w, "ONE"),
                                      widget<QCheckBox>(w, "Max"), widget<QPushButton>(w, "StartLog"),
                                      widget<QPushButton>(w, "StopLog")};
        widget<QLabel>(w, "Label9")->show();
        widget<QLabel>(w, "Label10")->show();
        QTest::mouseClick(widget<QScrollArea>(w, "Scroll")->widget(), Qt::LeftButton, {}, QPoint(300, 720));
        for (QWidget* s : service)
            QVERIFY(s->isHidden());
        QVERIFY(!widget<QLabel>(w, "Label9")->isHidden());
        b.rightClickFreeArea();
        for (QWidget* s : service)
            QVERIFY(!s->isHidden());
        QVERIFY(widget<QLabel>(w, "Label9")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label10")->isHidden());
        b.rightClickFreeArea();
        for (QWidget* s : service)
            QVERIFY(s->isHidden());
    }

    void exclusiveChoice()
    {
        WindowBench b({});
        TForm1& w = b.form();
        QVERIFY(widget<QCheckBox>(w, "Index")->isChecked());
        widget<QCheckBox>(w, "Last100")->click();
        QVERIFY(widget<QCheckBox>(w, "Last100")->isChecked());
        for (QCheckBox* b : {widget<QCheckBox>(w, "Last10"), widget<QCheckBox>(w, "Last500"),
                             widget<QCheckBox>(w, "Index"), widget<QCheckBox>(w, "ONE")})
            QVERIFY(!b->isChecked());
        widget<QCheckBox>(w, "Last100")->click();
        for (QCheckBox* b :
             {widget<QCheckBox>(w, "Last10"), widget<QCheckBox>(w, "Last100"), widget<QCheckBox>(w, "Last500"),
              widget<QCheckBox>(w, "Index"), widget<QCheckBox>(w, "ONE")})
            QVERIFY(!b->isChecked());
        b.rightClickFreeArea();
        widget<QCheckBox>(w, "ONE")->click();
        QVERIFY(widget<QCheckBox>(w, "ONE")->isChecked());
        widget<QCheckBox>(w, "Last10")->click();
        QVERIFY(!widget<QCheckBox>(w, "ONE")->isChecked());
        QVERIFY(widget<QCheckBox>(w, "Last10")->isChecked());
    }

    void confirmationDialog_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("clickYes");
        QTest::addColumn<int>("result");
        QTest::newRow("ДА") << "ru" << 0 << true << 1;
        QTest::newRow("НЕТ") << "ru" << 0 << false << 2;
        QTest::newRow("Enter") << "ru" << int(Qt::Key_Return) << false << 1;
        QTest::newRow("Esc") << "ru" << int(Qt::Key_Escape) << false << 2;
        QTest::newRow("Yes, in English") << "en" << 0 << true << 1;
        QTest::newRow("No, in English") << "en" << 0 << false << 2;
    }
    void confirmationDialog()
    {
        QFETCH(QString, language);
        QFETCH(int, key);
        QFETCH(bool, clickYes);
        QFETCH(int, result);
        const InLanguage scope(language);
        QVERIFY(scope.installed);
        WindowFixture f;
        f.form1->show();
        TOKBottomDlg& dialog = *f.dialog;
        // Answers once the dialog's own event loop runs (an answer given while it
        // is still being shown would leave that loop waiting for ever).
        QRect placed, main;
        QStringList asked;
        QTimer answer;
        connect(&answer, &QTimer::timeout, &dialog, [&] {
            if (!dialog.isVisible() || QThread::currentThread()->loopLevel() == 0)
                return;
            answer.stop();
            placed = dialog.frameGeometry();
            main = f.form1->frameGeometry();
            asked = QStringList{dialog.windowTitle(), dialog.Label1->text(), dialog.OKBtn->text(),
                                dialog.CancelBtn->text()};
            if (key)
                QTest::keyClick(&dialog, Qt::Key(key));
            else
                (clickYes ? dialog.OKBtn : dialog.CancelBtn)->click();
        });
        answer.start(0);
        UiSeam real;
        QCOMPARE(real.confirm(dialog), result);
        // Placed 5 pixels below the Main window's top, centred on it.
        QCOMPARE(placed.top(), main.top() + 5);
        QCOMPARE(placed.left(), main.left() + main.width() / 2 - placed.width() / 2);
        const QStringList question = language == "en"
            ? QStringList{QString(25, ' ') + "Question", "   Are you sure?", "Yes", "No"}
            : QStringList{QString(25, ' ') + QStringLiteral("ВОПРОС"), QStringLiteral("   Вы  уверены?"),
                          QStringLiteral("ДА"), QStringLiteral("НЕТ")};
        QCOMPARE(asked, question);
    }

    // While one exchange or question is in progress, the command buttons are
    // refused: nothing is asked, nothing goes on the wire. Stop, Close and the
    // Clear buttons still work.
    void oneExchangeAtATime()
    {
        MemoryWindow b;
        QVERIFY(b.start());
        WindowFixture& f = b.f;
        TForm1& w = b.form();
        b.rightClickFreeArea();
        auto lock = w.beginExchange();
        QVERIFY(lock);
        QVERIFY(!w.beginExchange());
        f.seam.confirmAnswers << 1;
        widget<QLineEdit>(w, "Edit1")->setText("");
        for (QPushButton* command : {widget<QPushButton>(w, "OpenCom"), widget<QPushButton>(w, "ButContLog"),
                                     widget<QPushButton>(w, "ButKillLog"), widget<QPushButton>(w, "StartLog"),
                                     widget<QPushButton>(w, "StopLog")})
            press(command);
        QVERIFY(f.seam.messages.isEmpty()); // Open refused, not attempted
        QCOMPARE(f.seam.confirmCount, 0);
        QVERIFY(b.line.port->written().isEmpty());
        QCOMPARE(b.line.port->opens(), 1);
        QVERIFY(widget<QLabel>(w, "Label9")->isHidden());
        QVERIFY(widget<QLabel>(w, "Label10")->isHidden());

        widget<QPlainTextEdit>(w, "Memo1")->setPlainText("x");
        press(widget<QPushButton>(w, "Button6"));
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo1")->toPlainText(), QString());
        widget<QPlainTextEdit>(w, "Memo")->setPlainText("y");
        press(widget<QPushButton>(w, "Button1"));
        QCOMPARE(widget<QPlainTextEdit>(w, "Memo")->toPlainText(), QString());
        press(widget<QPushButton>(w, "Button8"));
        QVERIFY(w.session().stopRequested);
        press(widget<QPushButton>(w, "Button7"));
        QVERIFY(!w.session().link.isOpen());
        QVERIFY(widget<QLabel>(w, "ok")->isHidden());
        QCOMPARE(b.now().count(), 0);
        lock.reset();
        QVERIFY(w.beginExchange());
    }

    // --lang en: the same windows with English captions. A caption longer than
    // its Russian box gets a wider box that overlaps nothing; no window shows a
    // Russian text; messages are English, the lines of a download are the same
    // as in Russian. Afterwards windows are Russian again. With
    // TESSAVIN_WINDOW_SCREENSHOT set, the English window is grabbed to that file.
    void englishWindow()
    {
        const auto download = [](MemoryWindow& b) {
            b.form().show();
            if (b.start())
                press(widget<QPushButton>(b.form(), "ButContLog"));
            return widget<QPlainTextEdit>(b.form(), "Memo1")->toPlainText();
        };
        QString englishLines;
        {
            const InLanguage english(QStringLiteral("en"));
            QVERIFY(english.installed);
            MemoryWindow b;
            WindowFixture& f = b.f;
            const std::pair<const char*, const char*> captions[] = {{"Label8", "COM port"},
                                                                    {"chFile", "File"},
                                                                    {"Last100", "100 newest"},
                                                                    {"Index", "newest"},
                                                                    {"Label7", "Controller time"},
                                                                    {"ONE", "  1"},
                                                                    {"Upl_test", "Upload Test Config"}};
            for (const auto& [name, text] : captions)
                QCOMPARE(textOf(control(*f.form1, name)), QString::fromLatin1(text));
            QCOMPARE(widget<QComboBox>(*f.form1, "ComboBox1")->itemText(3), QStringLiteral("Off"));
            const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
            for (QWidget* window : std::initializer_list<QWidget*>{f.form1.get(), f.form2.get(), f.dialog.get()})
                for (const QString& shown : shownTexts(window))
                    QVERIFY2(!shown.contains(cyrillic), qPrintable(window->objectName() + ": " + shown));
            const QList<QWidget*> controls
                = widget<QScrollArea>(*f.form1, "Scroll")->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (QWidget* w : controls) {
                QWidget* russian = control(*fresh_->form1, w->objectName());
                if (!russian || (textOf(w) == textOf(russian) && w->geometry() == russian->geometry()))
                    continue;
                if (qobject_cast<QCheckBox*>(w) || qobject_cast<QLabel*>(w))
                    QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(w->objectName()));
                for (QWidget* other : controls)
                    QVERIFY2(other == w || !other->geometry().intersects(w->geometry()),
                             qPrintable(w->objectName() + " overlaps " + other->objectName()));
            }
            englishLines = download(b);
            QVERIFY(QTest::qWaitForWindowExposed(f.form1.get()));
            if (const QString shot = qEnvironmentVariable("TESSAVIN_WINDOW_SCREENSHOT"); !shot.isEmpty())
                QVERIFY(f.form1->grab().save(shot));
            b.line.port->refuseOpen({});
            widget<QLineEdit>(*f.form1, "Edit1")->setText("");
            press(widget<QPushButton>(*f.form1, "OpenCom"));
            QCOMPARE(f.seam.messages, QStringList{"   COM port ???"});
        }
        MemoryWindow b;
        QCOMPARE(widget<QCheckBox>(b.form(), "chFile")->text(), QStringLiteral("Файл"));
        QCOMPARE(download(b), englishLines);
        QVERIFY2(englishLines.startsWith("N=150\nOK=150\n<"), qPrintable(englishLines));
    }

    // Every text the windows show has a finished translation in each
    // translations/tessavin_<language>.ts: lupdate, run over app/ into a copy of
    // the file, marks a text that is new there "unfinished" and one no longer
    // shown "vanished".
    void translationsComplete()
    {
#ifndef TESSAVIN_LUPDATE
        QSKIP("[host] lupdate is a program of the build machine: the check runs in the Linux suite");
#else
        const QDir translations(QStringLiteral(TESSAVIN_SOURCE_DIR "/translations"));
        const QStringList files = translations.entryList({QStringLiteral("tessavin_*.ts")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& name : files) {
            QTemporaryDir dir;
            const QString copy = dir.filePath(name);
            QVERIFY(QFile::copy(translations.filePath(name), copy));
            QProcess lupdate;
            lupdate.start(QStringLiteral(TESSAVIN_LUPDATE),
                          {"-silent", "-locations", "none", QStringLiteral(TESSAVIN_SOURCE_DIR "/app"), "-ts", copy});
            QVERIFY(lupdate.waitForFinished(120000));
            QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());
            const QStringList missing = untranslated(copy);
            QVERIFY2(missing.isEmpty(),
                     qPrintable(QStringLiteral("translations/%1 lacks finished translations (cmake --build build "
                                               "--target update_translations, then translate):\n%2")
                                    .arg(name, missing.join('\n'))));
        }
#endif
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
