#pragma once
// The Main window. Its handlers are thin: they read fields, call one operation
// and write the result into widgets. The handlers of each area live in a file of
// their own (form1_config.cpp, form1_log.cpp, form1_retro.cpp, form1_poll.cpp).
#include "features/archive.h"
#include "features/config/config_text.h"
#include "util/open_files.h"
#include "features/record_choice.h"
#include "features/session.h"
#include "app/ui_seam.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class ArchiveChartWindow;
class TForm2;
class TForm3;
class TOKBottomDlg;

struct AppOptions {
    // Where the settings file lives; empty: beside the executable, with the
    // per-user configuration directory as the fallback.
    QString settingsDir;
    QString fallbackSettingsDir;
    tessavin::LinkTiming timing;
    // --fast: register replies end at their stated length whatever the settings
    // file says ([link] fast turns them on too).
    bool fastReplies = false;
    // The port and the clock the link runs on; empty: the real serial port and
    // the computer's clock (tests put an in-memory far end on a virtual clock).
    std::shared_ptr<tessavin::BytePort> port;
    std::shared_ptr<tessavin::Clock> clock;
    // How the process ends after the settings are written; tests replace it.
    std::function<void()> exitProcess;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(AppOptions options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The other windows, created after this one in the stated order.
    void attachWindows(TForm2* form2, TForm3* form3, TOKBottomDlg* dialog);

    tessavin::Session& session() { return *session_; }
    void setSeam(tessavin::UiSeam* seam) { seam_ = seam; }
    tessavin::UiSeam& seam() { return *seam_; }
    TForm2* form2() const { return form2_; }
    TOKBottomDlg* confirmationDialog() const { return dialog_; }
    QString settingsPath() const { return settingsPathFor(options_); }
    // The settings file a window started with `options` reads and writes.
    static QString settingsPathFor(const AppOptions& options);

    // One exchange at a time. The command buttons are bound through the lock:
    // a press does nothing while another exchange or question is in progress.
    class ExchangeLock {
    public:
        explicit ExchangeLock(TForm1* form) : form_(form) { }
        ExchangeLock(ExchangeLock&& other) noexcept : form_(other.form_) { other.form_ = nullptr; }
        ExchangeLock(const ExchangeLock&) = delete;
        ExchangeLock& operator=(const ExchangeLock&) = delete;
        ExchangeLock& operator=(ExchangeLock&&) = delete;
        ~ExchangeLock();

    private:
        TForm1* form_;
    };
    std::optional<ExchangeLock> beginExchange();
    bool exchangeInProgress() const { return busy_; }

    // Shared helpers of the handlers.
    void showMessage(const QString& text, const QString& details = {});
    // Shows the Confirmation dialog; true only for modal result 1.
    bool confirmed();
    // Lets pending window events run.
    static void processMessages();
    // Status pair: shows exactly one of the two (or neither).
    static void showStatus(QLabel* okLabel, QLabel* notOkLabel, std::optional<bool> verdict);

    // Puts a port's name into the port field (Edit1), as a person would type it.
    void setPortName(const QString& name);

    // What the download and service handlers write into: Memo1, the
    // Status pair beside the port (Label2 "OK", Label5 "NOT OK") and Edi.
    struct DownloadArea {
        QPlainTextEdit* memo;
        QLabel* ok;
        QLabel* notOk;
        QLineEdit* value;
        void status(std::optional<bool> verdict) const { showStatus(ok, notOk, verdict); }
    };
    // What the configuration handlers work on: Memo, the encoding of its text
    // and the Activity label.
    struct ConfigArea {
        QPlainTextEdit* memo;
        tessavin::ConfigText* text;
        QLabel* activity;
    };

    ArchiveChartWindow* chartWindow() const { return chartWindow_; }

    // Whether the poll responder loop is running.
    bool responderRunning() const { return responderRunning_; }

    // Memo's context menu: the standard entries, then "Compare with controller…".
    std::unique_ptr<QMenu> configMemoMenu();

public slots:
    // Start-up, shut-down and the window-level handlers.
    void FormCreate();
    void FormClose();
    void FormMouseUp(Qt::MouseButton button);
    void OpenComClick();
    void Button7Click();
    void Button8Click();
    void Button1Click();
    void Button6Click();
    void Last10Click();
    void Last100Click();
    void Last500Click();
    void IndexClick();
    void ONEClick();
    void showDiagnostics();
    // "Chart…" in Memo1's context menu and Ctrl+G: the last archive download's chart.
    void showArchiveChart();

    // Configuration link.
    void TestClick();
    void Set_TestClick();
    void BuRebootClick();
    void OpeClick();
    void SavClick();
    void UplClick();
    void Upl_testClick();
    void Down_testClick();
    // "Compare with controller…" in Memo's context menu.
    void CompareWithControllerClick();

    // Register and log link.
    void ButContLogClick();
    void ButBegLogClick();
    void ButCountLogClick();
    void ButMaxLogClick();
    void ButKillLogClick();
    void StartLogClick();
    void StopLogClick();
    void Button3Click();
    void Button4Click();
    void Button5Click();

    // Archive and script.
    void ButBegRetroClick();
    void ButContRetroClick();
    void DownScrClick();
    void ButtonUpClick();
    void Down_testikClick();

    // Poll responder.
    void Button2Click();

    // The port field's completions: the ports the system sees now.
    void refreshPortCompletions();

    // "Find the controller…" of the port field's context menu: probes the ports
    // and rates with a progress dialog (Stop ends it) and, on success, fills the
    // port and baud fields (form1_probe.cpp).
    void FindControllerClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Tells when a command's file could not be created or written (the records
    // are still shown).
    void reportFile(const tessavin::OutputFile& file);
    // The integer in a field, or the conversion message and nullopt.
    std::optional<int> fieldInteger(const QLineEdit* field);
    // The ticked record choice box (None when no box is ticked).
    tessavin::RecordChoice recordChoice() const;
    // What the event-log and archive downloads read: the ticked choice with its
    // number (Beg for Index, EdONE for One). First, when chFile is ticked, asks
    // for the file the records also go to and creates it in `file`. Nothing to
    // read (no box ticked: a line says so; a number that is not one: its message).
    std::optional<tessavin::RecordPick> chooseRecords(const QString& fileSuffix, tessavin::OutputFile& file);
    // Opens the port from Edit1 and Boud (any open port is closed first); shows
    // the messages of a failed open. True when a port is open afterwards.
    bool openPortFromFields();
    DownloadArea downloadArea() const { return {Memo1, Label2, Label5, Edi}; }
    ConfigArea configArea() { return {Memo, &configText_, Label}; }

    void buildControls(QWidget* area);
    void buildLogControls(QWidget* area);
    void buildMemos(QWidget* area);
    void buildConfigAndPollControls(QWidget* area);
    void buildServiceColumn(QWidget* area);
    void fitEnglishCaptions();
    void bindHandlers();
    void bindChart();
    // Runs a command handler under the exchange lock; nothing when it is taken.
    void runCommand(void (TForm1::*handler)());
    void exclusiveChoice(QCheckBox* ticked);
    bool writeSettings(QString* failedPath);
    void showPortMenu(const QPoint& at);

    AppOptions options_;
    std::unique_ptr<tessavin::Session> session_;
    tessavin::UiSeam defaultSeam_;
    tessavin::UiSeam* seam_ = &defaultSeam_;
    TForm2* form2_ = nullptr;
    TForm3* form3_ = nullptr;
    TOKBottomDlg* dialog_ = nullptr;
    ArchiveChartWindow* chartWindow_ = nullptr;
    bool busy_ = false;
    bool responderRunning_ = false;
    bool responderStop_ = false;
    bool closing_ = false;

    // The encoding of the configuration text in Memo (kept by the configuration handlers).
    tessavin::ConfigText configText_;
    // The records of the last archive download, for its chart.
    std::vector<tessavin::ArchiveLine> lastArchive_;

    // The controls, named as the window names them (each is also its objectName,
    // by which anything outside the window finds it). Built in one place, the
    // build*() table of form1.cpp; the handlers of each area are members, and
    // their helpers get the area they write into (downloadArea(), configArea()).
    QLabel* Label8 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* ok = nullptr;
    QLineEdit* Boud = nullptr;
    QPushButton* OpenCom = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* ButContLog = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* ButKillLog = nullptr;
    QLineEdit* EdONE = nullptr;
    QCheckBox* ONE = nullptr;
    QCheckBox* Max = nullptr;
    QCheckBox* chFile = nullptr;
    QCheckBox* Last10 = nullptr;
    QCheckBox* Last100 = nullptr;
    QCheckBox* Last500 = nullptr;
    QLineEdit* Beg = nullptr;
    QCheckBox* Index = nullptr;
    QLineEdit* Edi = nullptr;
    QPushButton* StartLog = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* StopLog = nullptr;
    QLabel* Label10 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QProgressBar* Progress = nullptr;
    QPushButton* ReadTim = nullptr;
    QPlainTextEdit* Memo = nullptr;
    QAction* CompareWithController = nullptr; // in Memo's context menu
    QPushButton* ButContRetro = nullptr;
    QPushButton* Upl = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BuReboot = nullptr;
    QPushButton* Set_Test = nullptr;
    QPushButton* Upl_test = nullptr;
    QPushButton* Button2 = nullptr;
    QLineEdit* add1 = nullptr;
    QLineEdit* add2 = nullptr;
    QLineEdit* day = nullptr;
    QLineEdit* End2 = nullptr;
    QLabel* Label = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Ope = nullptr;
    QPushButton* Sav = nullptr;
    QPushButton* DownScr = nullptr;
    QPushButton* Down_testik = nullptr;
    QPushButton* ButtonUp = nullptr;
    QPushButton* ButBegLog = nullptr;
    QPushButton* ButBegRetro = nullptr;
    QLineEdit* EdVal = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button3 = nullptr;
    QScrollArea* Scroll = nullptr;
};
