// Handlers of the configuration link: status query, test mode, reboot and the
// configuration transfer. Each reports in a message box; the Activity label
// shows only the marks of the command that runs.
#include "app/form1.h"

#include "features/config/config_commands.h"
#include "app/config_diff_dialog.h"
#include "features/config/config_json.h"
#include "features/config/config_text.h"
#include "features/config/config_transfer.h"
#include "features/retry.h"
#include "app/window_texts.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace {

namespace msg = tessavin::window_text;

const QString kConfigSuffix = QStringLiteral("json");
const QString kConfigFilter = QStringLiteral("cfg|*.cfg");

// Empties the Activity label when a command starts and again when it ends
// (after its message box has been closed).
class ActivityReset {
public:
    explicit ActivityReset(QLabel* label) : label_(label) { label_->clear(); }
    ~ActivityReset() { label_->clear(); }
    ActivityReset(const ActivityReset&) = delete;
    ActivityReset& operator=(const ActivityReset&) = delete;

private:
    QLabel* label_;
};

// Shows configuration bytes in Memo and remembers the encoding they came in.
// Once Memo becomes empty, text typed into it is UTF-8 again.
void showConfigText(const TForm1::ConfigArea& area, const QByteArray& bytes)
{
    tessavin::ConfigText& state = *area.text;
    QPlainTextEdit* memo = area.memo;
    if (!state.watchingMemo) {
        QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [memo, &state] {
            if (memo->document()->isEmpty())
                state.encoding = tessavin::TextEncoding::Utf8;
        });
        state.watchingMemo = true;
    }
    const tessavin::DecodedConfigText decoded = tessavin::DecodeConfigText(bytes);
    memo->setPlainText(decoded.text);
    state.encoding = decoded.encoding;
}

// Memo's text as the configuration bytes: lines joined by CR LF, in the encoding
// the text came in. The raw text keeps every character as shown (no blank for a
// no-break space).
QByteArray memoBytes(const TForm1::ConfigArea& area)
{
    return tessavin::EncodeConfigText(area.memo->document()->toRawText(), area.text->encoding);
}

void runUpload(TForm1& form, const TForm1::ConfigArea& area, std::uint8_t code)
{
    area.memo->clear();
    ActivityReset activity(area.activity);
    tessavin::Session& session = form.session();
    if (!session.link.isOpen()) {
        form.showMessage(msg::noPort());
        return;
    }
    session.transfer.clear();
    const tessavin::ConfigUploadResult result = tessavin::ConfigUpload(session, code);
    if (result.length == 0) {
        // Which chunk failed, and why, behind the details.
        form.showMessage(msg::transferFailed(),
                         result.error == tessavin::LinkError::None ? QString() : tessavin::ConfigUploadFailure(result));
        return;
    }
    showConfigText(area, tessavin::TransferText(session.transfer));
    form.showMessage(msg::ok());
}

// Behind a failed command's message: that it may have taken effect all the
// same, when its reply came damaged.
QString commandDetails(tessavin::LinkError error)
{
    return tessavin::ReplyDamaged(error) ? tessavin::UnconfirmedText(error) : QString();
}

// A command of the configuration link: one exchange at a time, the Activity
// label emptied around it, and "       COM?" instead of traffic when no port is open.
template <typename Run>
void portCommand(TForm1& form, const TForm1::ConfigArea& area, Run run)
{
    ActivityReset activity(area.activity);
    if (!form.session().link.isOpen()) {
        form.showMessage(msg::noPort());
        return;
    }
    run();
}

} // namespace

void TForm1::TestClick()
{
    portCommand(*this, configArea(), [this] { showMessage(msg::statusQuery(tessavin::StatusQuery(session()).value)); });
}

void TForm1::Set_TestClick()
{
    portCommand(*this, configArea(), [this] {
        const tessavin::LinkError error = tessavin::SetTestMode(session());
        showMessage(error == tessavin::LinkError::None ? msg::ok() : msg::commandFailed(), commandDetails(error));
    });
}

void TForm1::BuRebootClick()
{
    portCommand(*this, configArea(), [this] {
        const tessavin::LinkError error = tessavin::RebootController(session());
        // The controller restarts either way: the port is closed whatever the result.
        session().link.close();
        showMessage(error == tessavin::LinkError::None ? msg::ok() : msg::commandFailed(), commandDetails(error));
        ok->setVisible(false);
    });
}

void TForm1::OpeClick()
{
    const QString path = seam().openFileName(this, kConfigSuffix, kConfigFilter);
    if (path.isEmpty())
        return;
    setWindowTitle(path);
    const tessavin::ConfigFileResult file = tessavin::ReadConfigFile(path, session().transfer);
    switch (file.outcome) {
    case tessavin::ConfigFileOutcome::Read: {
        const QByteArray text = tessavin::TransferText(session().transfer);
        showConfigText(configArea(), text);
        // The memo shows the text up to a zero byte: say so, so that the cut text is not sent unknowingly.
        if (text.size() < file.size)
            showMessage(tessavin::ConfigZeroByteMessage(QDir::toNativeSeparators(path), text.size()));
        break;
    }
    case tessavin::ConfigFileOutcome::Empty:
    case tessavin::ConfigFileOutcome::CannotOpen:
        Memo->clear();
        break;
    case tessavin::ConfigFileOutcome::TooLarge:
        Memo->clear();
        showMessage(tessavin::ConfigTooLargeMessage(file.size));
        break;
    }
}

void TForm1::SavClick()
{
    const QString path = seam().saveFileName(this, kConfigSuffix, kConfigFilter);
    if (path.isEmpty())
        return;
    const QString error = tessavin::WriteConfigFile(path, memoBytes(configArea()), session().transfer);
    if (!error.isEmpty())
        showMessage(error);
}

void TForm1::UplClick() { runUpload(*this, configArea(), tessavin::cfg::kUploadConfig); }

void TForm1::Upl_testClick() { runUpload(*this, configArea(), tessavin::cfg::kUploadTestConfig); }

void TForm1::Down_testClick()
{
    portCommand(*this, configArea(), [this] {
        const QByteArray text = memoBytes(configArea());
        if (!tessavin::PutTransferText(session().transfer, text)) {
            showMessage(tessavin::ConfigTooLargeMessage(text.size()));
            return;
        }
        if (const tessavin::ConfigCheck check = tessavin::CheckConfigJson(text); check.needsConsent()) {
            const QString question
                = tr("The configuration is not valid JSON:\n%1\n\nSend it anyway?").arg(check.error->text());
            if (!seam().ask(this, question))
                return;
        }
        const auto sent = tessavin::ConfigDownload(session(), session().transfer.bytes.data(),
                                                   static_cast<std::size_t>(text.size()));
        showMessage(sent.value ? msg::ok() : msg::transferFailed(), commandDetails(sent.error));
    });
}

void TForm1::CompareWithControllerClick()
{
    portCommand(*this, configArea(), [this] {
        tessavin::Session& s = session();
        s.transfer.clear();
        if (tessavin::ConfigUpload(s, tessavin::cfg::kUploadConfig).length == 0) {
            showMessage(msg::transferFailed());
            return;
        }
        ConfigDiffDialog dialog(tessavin::DiffConfigs(tessavin::TransferText(s.transfer), memoBytes(configArea())),
                                this);
        seam().showDialog(dialog);
    });
}

std::unique_ptr<QMenu> TForm1::configMemoMenu()
{
    std::unique_ptr<QMenu> menu(Memo->createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(CompareWithController);
    return menu;
}
