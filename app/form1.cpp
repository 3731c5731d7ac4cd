#include "app/form1.h"

#include "util/conversions.h"
#include "app/form2.h"
#include "features/link_policy.h"
#include "app/okbottomdlg.h"
#include "util/open_files.h"
#include "serial/port_list.h"
#include "serial/system_port.h"
#include "util/settings_file.h"
#include "app/window_language.h"
#include "app/window_texts.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStringListModel>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include <cstdio>
#include <cstdlib>

namespace {

// The free area of the Main window: reports mouse-button releases to the form.
class ClientArea : public QWidget {
public:
    ClientArea(TForm1* form, QWidget* parent) : QWidget(parent), form_(form) { }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        form_->FormMouseUp(event->button());
        QWidget::mouseReleaseEvent(event);
    }

private:
    TForm1* form_;
};

template <typename T>
T* make(QWidget* parent, const char* name, QRect geometry)
{
    auto* widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry, bool visible = true)
{
    auto* w = make<QLabel>(parent, name, geometry);
    w->setText(text);
    w->setVisible(visible);
    return w;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry, bool visible = true,
                    bool enabled = true)
{
    auto* w = make<QPushButton>(parent, name, geometry);
    w->setText(text);
    w->setVisible(visible);
    w->setEnabled(enabled);
    return w;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, QRect geometry, bool visible = true)
{
    auto* w = make<QLineEdit>(parent, name, geometry);
    w->setText(text);
    w->setVisible(visible);
    return w;
}

QCheckBox* check(QWidget* parent, const char* name, const QString& text, QRect geometry, bool visible = true,
                 bool ticked = false)
{
    auto* w = make<QCheckBox>(parent, name, geometry);
    w->setText(text);
    w->setVisible(visible);
    w->setChecked(ticked);
    return w;
}

QComboBox* combo(QWidget* parent, const char* name, const QStringList& items, const QString& text, QRect geometry)
{
    auto* w = make<QComboBox>(parent, name, geometry);
    w->setEditable(true);
    w->addItems(items);
    w->setCurrentText(text);
    return w;
}

QStringList numbers(int from, int to)
{
    QStringList list;
    for (int i = from; i <= to; ++i)
        list << QString::number(i);
    return list;
}

} // namespace

TForm1::ExchangeLock::~ExchangeLock()
{
    if (form_)
        form_->busy_ = false;
}

TForm1::TForm1(AppOptions options, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , options_(std::move(options))
    , session_(std::make_unique<tessavin::Session>(
          options_.timing, options_.port ? options_.port : tessavin::MakeSystemPort(), options_.clock))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString(67, QLatin1Char(' ')) + QStringLiteral("Tessavin"));
    setFixedSize(574, 736);
    move(646, 120);
    setBackgroundRole(QPalette::Button);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);

    Scroll = new QScrollArea(this);
    Scroll->setObjectName(QStringLiteral("Scroll"));
    Scroll->setFrameShape(QFrame::NoFrame);
    Scroll->setWidgetResizable(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Scroll);
    auto* area = new ClientArea(this, nullptr);
    area->setObjectName(QStringLiteral("ClientArea"));
    area->setFixedSize(740, 1045);
    buildControls(area);
    Scroll->setWidget(area);
    if (tessavin::WindowLanguage() == QLatin1String("en"))
        fitEnglishCaptions();
    area->setToolTip(tr("Right-click: service controls\nCtrl+D: Diagnostic window\nCtrl+T: status query"));

    auto& link = session_->link;
    link.setPump([] { processMessages(); });
    link.setActivity([this](const char* mark) { Label->setText(Label->text() + QLatin1String(mark)); });
    link.setOpenChanged([this](bool open) { ok->setVisible(open); });

    bindHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::attachWindows(TForm2* form2, TForm3* form3, TOKBottomDlg* dialog)
{
    form2_ = form2;
    form3_ = form3;
    dialog_ = dialog;
    // The Diagnostic window shows the configuration link's trace lines.
    session_->link.frameLog().attachNotes([this](tessavin::LinkKind link, const QString& line) {
        if (form2_ && link == tessavin::LinkKind::Config)
            form2_->addLine(line);
    });
}

void TForm1::buildControls(QWidget* a)
{
    buildLogControls(a);
    buildMemos(a);
    buildConfigAndPollControls(a);
    buildServiceColumn(a);
}

// The port, the event-log download and its record choice, logging on and off.
void TForm1::buildLogControls(QWidget* a)
{
    Label8 = label(a, "Label8", tr("СOM порт"), {8, 2, 80, 16});
    Label1 = label(a, "Label1", tr("COM:"), {8, 23, 30, 16});
    Edit1 = edit(a, "Edit1", QStringLiteral("5"), {40, 20, 90, 21});
    ok = label(a, "ok", tr("OK"), {134, 23, 22, 16}, false);
    Boud = edit(a, "Boud", QStringLiteral("38400"), {158, 20, 52, 21});
    OpenCom = button(a, "OpenCom", tr("Open"), {214, 18, 50, 25});
    Label2 = label(a, "Label2", tr("OK"), {270, 23, 22, 16}, false);
    Label5 = label(a, "Label5", tr("NOT OK"), {294, 23, 48, 16}, false);
    ButContLog = button(a, "ButContLog", tr("LOG"), {346, 18, 60, 25});
    Button8 = button(a, "Button8", tr("Stop"), {410, 18, 60, 25});
    Button7 = button(a, "Button7", tr("Close"), {474, 18, 60, 25});

    Button6 = button(a, "Button6", tr("Clear"), {8, 50, 60, 25});
    ButKillLog = button(a, "ButKillLog", tr("Clear log"), {72, 50, 75, 25});
    EdONE = edit(a, "EdONE", QStringLiteral("3"), {156, 52, 40, 21}, false);
    ONE = check(a, "ONE", QStringLiteral("  1"), {200, 54, 44, 17}, false);
    Max = check(a, "Max", tr("Max"), {248, 54, 50, 17}, false);
    chFile = check(a, "chFile", tr("Файл"), {304, 54, 60, 17});

    Last10 = check(a, "Last10", tr("10 посл."), {8, 82, 80, 17});
    Last100 = check(a, "Last100", tr("100 посл."), {92, 82, 86, 17});
    Last500 = check(a, "Last500", tr("500 посл."), {182, 82, 86, 17});
    Beg = edit(a, "Beg", QStringLiteral("30"), {272, 80, 44, 21});
    Index = check(a, "Index", tr("последних"), {320, 82, 96, 17}, true, true);

    Edi = edit(a, "Edi", QString(), {8, 108, 120, 21});
    StartLog = button(a, "StartLog", tr("StartLog"), {136, 106, 70, 25}, false);
    Label9 = label(a, "Label9", tr("OK"), {210, 111, 22, 16}, false);
    StopLog = button(a, "StopLog", tr("StopLog"), {236, 106, 70, 25}, false);
    Label10 = label(a, "Label10", tr("NOT OK"), {310, 111, 48, 16}, false);
}

// The English captions of the record choice are longer than the boxes laid out
// for the Russian ones: in English that row is laid out wider. Any other label
// or check box whose English caption is wider than its box in the system's
// font grows to the right. The Russian layout stays as it is.
void TForm1::fitEnglishCaptions()
{
    // Left to right, 4 pixels apart, each box at least as wide as its caption.
    int x = 8;
    for (const auto& [box, least] : {std::pair{Last10, 92}, {Last100, 100}, {Last500, 100}}) {
        const int width = std::max(box->sizeHint().width(), least);
        box->setGeometry(x, 82, width, 17);
        x += width + 4;
    }
    Beg->setGeometry(x, 80, 44, 21);
    Index->setGeometry(x + 48, 82, std::max(Index->sizeHint().width(), 76), 17);
    const QList<QWidget*> controls = Scroll->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : controls) {
        if ((!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w)) || w->sizeHint().width() <= w->width())
            continue;
        const QRect wider(w->pos(), QSize(w->sizeHint().width(), w->height()));
        const bool free = std::none_of(controls.begin(), controls.end(), [&](QWidget* other) {
            return other != w && other->geometry().intersects(wider);
        });
        if (free)
            w->setGeometry(wider);
    }
}

// Memo1 (the downloads) with its progress bar, and Memo (the configuration).
void TForm1::buildMemos(QWidget* a)
{
    Memo1 = make<QPlainTextEdit>(a, "Memo1", {8, 138, 489, 545});
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont regular11(QStringLiteral("MS Sans Serif"));
    regular11.setPixelSize(11);
    regular11.setBold(false);
    Memo1->setFont(regular11);
    Progress = make<QProgressBar>(a, "Progress", {8, 686, 489, 16});
    Progress->setVisible(false);
    Progress->setFormat(QStringLiteral("%v / %m"));
    ReadTim = button(a, "ReadTim", tr("Read time"), {404, 650, 75, 25});
    ReadTim->raise();

    Memo = make<QPlainTextEdit>(a, "Memo", {8, 745, 716, 153});
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setBackgroundRole(QPalette::Button);
    QFont regular13(QStringLiteral("MS Sans Serif"));
    regular13.setPixelSize(13);
    regular13.setBold(false);
    Memo->setFont(regular13);
}

// The configuration link's buttons, the poll responder and the controller's schedule.
void TForm1::buildConfigAndPollControls(QWidget* a)
{
    ButContRetro = button(a, "ButContRetro", tr("RETRO"), {8, 906, 70, 25}, false, false);
    Upl = button(a, "Upl", tr("Upload"), {82, 906, 70, 25});
    Button1 = button(a, "Button1", tr("Clear"), {156, 906, 60, 25});
    BuReboot = button(a, "BuReboot", tr("Reboot"), {220, 906, 70, 25});
    Set_Test = button(a, "Set_Test", tr("Set test"), {294, 906, 70, 25});
    Upl_test = button(a, "Upl_test", tr("Upload Test Config"), {368, 906, 130, 25});

    Button2 = button(a, "Button2", tr("Start"), {8, 940, 70, 41});
    add1 = edit(a, "add1", QStringLiteral("0"), {84, 940, 50, 21});
    add2 = edit(a, "add2", QStringLiteral("0"), {138, 940, 50, 21});
    day = edit(a, "day", QStringLiteral("28"), {192, 940, 40, 21});
    End2 = edit(a, "End2", QStringLiteral("End"), {236, 940, 50, 21}, false);
    Label = label(a, "Label", QString(), {292, 943, 420, 16});
    Label->setAlignment(Qt::AlignCenter);

    Label6 = label(a, "Label6", tr("Период рассылки"), {8, 990, 120, 16});
    ComboBox1 = combo(a, "ComboBox1", {tr("10 мин"), tr("20 мин"), tr("30 мин"), tr("Отмена")}, tr("10 мин"),
                      {8, 1008, 100, 21});
    Label7 = label(a, "Label7", tr("Время контроллера"), {140, 990, 140, 16});
    ComboBox2 = combo(a, "ComboBox2", numbers(0, 23), QStringLiteral("8"), {140, 1008, 56, 21});
    ComboBox3 = combo(a, "ComboBox3", numbers(0, 59), QStringLiteral("0"), {200, 1008, 56, 21});
    Label3 = label(a, "Label3", tr("OK"), {270, 1011, 22, 16}, false);
    Label4 = label(a, "Label4", tr("NOT"), {296, 1011, 30, 16}, false);
}

// The column on the right: configuration files, scripts, service commands.
void TForm1::buildServiceColumn(QWidget* a)
{
    Ope = button(a, "Ope", tr("Open cfg"), {610, 18, 100, 25});
    Sav = button(a, "Sav", tr("Save cfg"), {610, 48, 100, 25});
    DownScr = button(a, "DownScr", tr("Down script"), {610, 78, 100, 25}, false);
    Down_testik = button(a, "Down_testik", tr("Clr script"), {610, 108, 100, 25}, false);
    ButtonUp = button(a, "ButtonUp", tr("Up script"), {610, 138, 100, 25}, false);
    ButBegLog = button(a, "ButBegLog", tr("Begin up log"), {610, 168, 100, 25}, false);
    ButBegRetro = button(a, "ButBegRetro", tr("Begin up retro"), {610, 198, 100, 25}, false);
    EdVal = edit(a, "EdVal", QStringLiteral(" "), {610, 228, 100, 21});
    Button4 = button(a, "Button4", tr("Ident"), {610, 256, 100, 25}, false, false);
    Button5 = button(a, "Button5", tr("Press"), {610, 286, 100, 25}, false, false);
    Button3 = button(a, "Button3", tr("Registration"), {610, 316, 100, 25}, false, false);

    // The ports the system knows are offered as completions, looked up afresh
    // whenever the field gains focus, so a port plugged in after the start shows.
    auto* completer = new QCompleter(new QStringListModel(Edit1), Edit1);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    Edit1->setCompleter(completer);
    Edit1->installEventFilter(this);
    Edit1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Edit1, &QLineEdit::customContextMenuRequested, this, &TForm1::showPortMenu);
}

void TForm1::showPortMenu(const QPoint& at)
{
    // The field's own menu, with the probe at its end.
    std::unique_ptr<QMenu> menu(Edit1->createStandardContextMenu());
    menu->setObjectName(QStringLiteral("PortMenu"));
    menu->addSeparator();
    QAction* find = menu->addAction(tr("Find the controller…"));
    find->setObjectName(QStringLiteral("FindController"));
    connect(find, &QAction::triggered, this, [this] { runCommand(&TForm1::FindControllerClick); });
    menu->exec(Edit1->mapToGlobal(at));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1 && event->type() == QEvent::FocusIn)
        refreshPortCompletions();
    return QWidget::eventFilter(watched, event);
}

void TForm1::refreshPortCompletions()
{
    // Names, paths and, on Linux, the stable /dev/serial/by-id/... names
    // (pseudo-terminals are not listed).
    QStringList ports;
    for (const tessavin::PortEntry& port : tessavin::ListSerialPorts()) {
        ports << port.name << port.path;
        if (!port.byId.isEmpty())
            ports << port.byId;
    }
    if (auto* model = qobject_cast<QStringListModel*>(Edit1->completer()->model()))
        model->setStringList(ports);
}

void TForm1::runCommand(void (TForm1::*handler)())
{
    if (auto lock = beginExchange())
        (this->*handler)();
}

void TForm1::bindHandlers()
{
    // Buttons that work at any time: Stop, Close, the Clears, and Start (the
    // responder takes the lock poll by poll).
    const auto bind = [this](QPushButton* b, void (TForm1::*slot)()) { connect(b, &QPushButton::clicked, this, slot); };
    // Commands to the controller: one exchange at a time.
    const auto command = [this](QPushButton* b, void (TForm1::*slot)()) {
        connect(b, &QPushButton::clicked, this, [this, slot] { runCommand(slot); });
    };
    command(OpenCom, &TForm1::OpenComClick);
    command(ButContLog, &TForm1::ButContLogClick);
    bind(Button8, &TForm1::Button8Click);
    bind(Button7, &TForm1::Button7Click);
    bind(Button6, &TForm1::Button6Click);
    command(ButKillLog, &TForm1::ButKillLogClick);
    command(StartLog, &TForm1::StartLogClick);
    command(StopLog, &TForm1::StopLogClick);
    command(ButContRetro, &TForm1::ButContRetroClick);
    command(Upl, &TForm1::UplClick);
    bind(Button1, &TForm1::Button1Click);
    command(BuReboot, &TForm1::BuRebootClick);
    command(Set_Test, &TForm1::Set_TestClick);
    command(Upl_test, &TForm1::Upl_testClick);
    bind(Button2, &TForm1::Button2Click);
    command(Ope, &TForm1::OpeClick);
    command(Sav, &TForm1::SavClick);
    command(DownScr, &TForm1::DownScrClick);
    command(Down_testik, &TForm1::Down_testikClick);
    command(ButtonUp, &TForm1::ButtonUpClick);
    command(ButBegLog, &TForm1::ButBegLogClick);
    command(ButBegRetro, &TForm1::ButBegRetroClick);
    command(Button4, &TForm1::Button4Click);
    command(Button5, &TForm1::Button5Click);
    command(Button3, &TForm1::Button3Click);
    const auto bindBox = [this](QCheckBox* box, void (TForm1::*slot)()) {
        connect(box, &QCheckBox::clicked, this, slot);
    };
    bindBox(Last10, &TForm1::Last10Click);
    bindBox(Last100, &TForm1::Last100Click);
    bindBox(Last500, &TForm1::Last500Click);
    bindBox(Index, &TForm1::IndexClick);
    bindBox(ONE, &TForm1::ONEClick);

    auto* diag = new QShortcut(QKeySequence(QStringLiteral("Ctrl+D")), this);
    diag->setObjectName(QStringLiteral("DiagnosticShortcut"));
    connect(diag, &QShortcut::activated, this, &TForm1::showDiagnostics);
    auto* test = new QShortcut(QKeySequence(QStringLiteral("Ctrl+T")), this);
    test->setObjectName(QStringLiteral("StatusQueryShortcut"));
    connect(test, &QShortcut::activated, this, [this] { runCommand(&TForm1::TestClick); });

    // Memo's context menu keeps its standard entries and gains the comparison.
    CompareWithController = new QAction(tr("Compare with controller…"), this);
    CompareWithController->setObjectName(QStringLiteral("CompareWithController"));
    connect(CompareWithController, &QAction::triggered, this,
            [this] { runCommand(&TForm1::CompareWithControllerClick); });
    Memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { configMemoMenu()->exec(Memo->viewport()->mapToGlobal(pos)); });
    bindChart();
}

// ---- shared helpers ----

std::optional<TForm1::ExchangeLock> TForm1::beginExchange()
{
    if (busy_ || closing_)
        return std::nullopt;
    busy_ = true;
    return std::optional<ExchangeLock>(std::in_place, this);
}

void TForm1::processMessages() { QCoreApplication::processEvents(); }

void TForm1::showMessage(const QString& text, const QString& details) { seam_->showMessage(this, text, details); }

void TForm1::reportFile(const tessavin::OutputFile& file)
{
    if (file.writeFailed())
        showMessage(tessavin::FileErrorMessage(false, file.path(), file.errorString()));
}

std::optional<int> TForm1::fieldInteger(const QLineEdit* field)
{
    const auto value = tessavin::ParseInteger(field->text());
    if (!value)
        showMessage(tessavin::NotAnIntegerMessage(field->text()));
    return value;
}

bool TForm1::confirmed()
{
    if (!dialog_)
        return false;
    const bool wasBusy = busy_;
    busy_ = true; // a modal question refuses other commands too
    const int result = seam_->confirm(*dialog_);
    busy_ = wasBusy;
    return result == 1;
}

void TForm1::showStatus(QLabel* okLabel, QLabel* notOkLabel, std::optional<bool> verdict)
{
    okLabel->setVisible(verdict.has_value() && *verdict);
    notOkLabel->setVisible(verdict.has_value() && !*verdict);
}

tessavin::RecordChoice TForm1::recordChoice() const
{
    using tessavin::RecordChoice;
    if (Last10->isChecked())
        return RecordChoice::Last10;
    if (Last100->isChecked())
        return RecordChoice::Last100;
    if (Last500->isChecked())
        return RecordChoice::Last500;
    if (Index->isChecked())
        return RecordChoice::Index;
    if (ONE->isChecked())
        return RecordChoice::One;
    return RecordChoice::None;
}

std::optional<tessavin::RecordPick> TForm1::chooseRecords(const QString& fileSuffix, tessavin::OutputFile& file)
{
    using tessavin::RecordChoice;
    if (chFile->isChecked()) {
        const QString path = seam().saveFileName(this, fileSuffix, QString());
        // A file that cannot be created is reported; the records are still shown.
        if (!path.isEmpty() && !file.create(path))
            showMessage(tessavin::FileErrorMessage(true, path, file.errorString()));
    }
    tessavin::RecordPick request;
    request.choice = recordChoice();
    if (request.choice == RecordChoice::Index || request.choice == RecordChoice::One) {
        const auto typed = fieldInteger(request.choice == RecordChoice::Index ? Beg : EdONE);
        if (!typed)
            return std::nullopt; // no record read; the file closes empty
        request.number = *typed;
    }
    if (request.choice == RecordChoice::None) {
        Memo1->appendPlainText(tessavin::window_text::noRecordChoice());
        return std::nullopt;
    }
    return request;
}

bool TForm1::openPortFromFields()
{
    session_->link.close();
    const auto baud = fieldInteger(Boud);
    if (!baud)
        return false;
    tessavin::PortOpenError error;
    if (!session_->link.openPort(tessavin::PortDeviceName(Edit1->text()), *baud, &error)) {
        // The reason goes behind the message's details and into the Diagnostic window.
        const QString reason = tessavin::PortOpenErrorText(error);
        if (form2_)
            form2_->addLine(reason);
        showMessage(tr("   COM порт ???"), reason);
        return false;
    }
    return true;
}

void TForm1::setPortName(const QString& name) { Edit1->setText(name); }

void TForm1::showDiagnostics()
{
    if (!form2_)
        return;
    form2_->show();
    form2_->raise();
    form2_->activateWindow();
}

// ---- settings, start-up and shut-down ----

QString TForm1::settingsPathFor(const AppOptions& options)
{
    return tessavin::SettingsFilePath(options.settingsDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                                    : options.settingsDir,
                                      options.fallbackSettingsDir);
}

void TForm1::FormCreate()
{
    const tessavin::StoredSettings stored = tessavin::ReadSettings(settingsPath());
    Edit1->setText(stored.port);
    Boud->setText(stored.baud);
    // The link's policy, read once at start and kept for the whole run. A value
    // that cannot be read keeps its default and is said once the window is up.
    tessavin::LinkPolicyOptions linkOptions;
    if (options_.fastReplies)
        linkOptions.fastReplies = true;
    const tessavin::ResolvedLinkPolicy link = tessavin::ResolveLinkPolicy(
        {}, stored, QDir::toNativeSeparators(settingsPath()), linkOptions);
    tessavin::ApplyLinkPolicy(*session_, link.policy);
    if (!link.error.isEmpty())
        QTimer::singleShot(0, this, [this, error = link.error] { showMessage(error); });
}

bool TForm1::writeSettings(QString* failedPath)
{
    const QString path = settingsPath();
    if (tessavin::WriteSettings(path, Edit1->text(), Boud->text()))
        return true;
    *failedPath = path;
    return false;
}

void TForm1::FormClose()
{
    if (closing_)
        return;
    closing_ = true;
    // Settings that cannot be written are reported, and the window closes all the same.
    QString failed;
    if (!writeSettings(&failed))
        showMessage(tr("Unable to write to %1").arg(QDir::toNativeSeparators(failed)));
    responderStop_ = true;
    // Whatever a command has written is kept: its file is closed before the end.
    tessavin::CloseAllOutputFiles();
    session_->link.close();
    if (options_.exitProcess) {
        options_.exitProcess();
        return;
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    event->ignore();
    FormClose();
}

// ---- window-level handlers ----

void TForm1::FormMouseUp(Qt::MouseButton buttonReleased)
{
    if (buttonReleased != Qt::RightButton)
        return;
    for (QWidget* w : std::initializer_list<QWidget*>{EdONE, ONE, Max, StartLog, StopLog})
        w->setVisible(w->isHidden());
    Label9->setVisible(false);
    Label10->setVisible(false);
}

void TForm1::OpenComClick() { openPortFromFields(); }

void TForm1::Button7Click()
{
    // Close always works; a wait in progress then finds the port gone.
    session_->link.close();
}

void TForm1::Button8Click()
{
    session_->stopRequested = true;
    responderStop_ = true;
}

void TForm1::Button1Click() { Memo->clear(); }

void TForm1::Button6Click() { Memo1->clear(); }

void TForm1::exclusiveChoice(QCheckBox* ticked)
{
    if (!ticked->isChecked())
        return;
    for (QCheckBox* box : {Last10, Last100, Last500, Index, ONE})
        if (box != ticked)
            box->setChecked(false);
}

void TForm1::Last10Click() { exclusiveChoice(Last10); }
void TForm1::Last100Click() { exclusiveChoice(Last100); }
void TForm1::Last500Click() { exclusiveChoice(Last500); }
void TForm1::IndexClick() { exclusiveChoice(Index); }
void TForm1::ONEClick() { exclusiveChoice(ONE); }
