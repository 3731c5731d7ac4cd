// tessavin-cli's configuration transfer and checks: upload, download (refusing
// a text that is not JSON unless forced, reading it back when asked), validate a
// file, and compare a file with the controller's configuration.
#include "cli/cli_context.h"
#include "cli/cli_operations.h"

#include "features/config/config_commands.h"
#include "features/config/config_json.h"
#include "features/config/config_text.h"
#include "features/config/config_transfer.h"
#include "util/open_files.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>

namespace tessavin::cli {

namespace {

// download, validate and diff read a file whole up to this size, so that a file
// too large for the controller is still reported with its size after conversion.
constexpr qint64 kCheckedFileLimit = 16 * 1024 * 1024;

// FILE's bytes (standard input for "-"); false, with the message said, when it
// cannot be read or is larger than kCheckedFileLimit.
bool readArgumentFile(Context& c, QByteArray* bytes, int* code)
{
    const QString path = c.inv.argument;
    const auto tooLarge = [&](const QString& size) {
        *code = Fail(exit_code::kUsage,
                     QStringLiteral("%1: too large: %2; a configuration holds at most %3 bytes")
                         .arg(NativePath(path), size)
                         .arg(kTransferTextLimit));
        return false;
    };
    if (path == QLatin1String("-")) {
        const auto in = ReadStandardInput(kCheckedFileLimit);
        if (!in) {
            *code = Fail(exit_code::kUsage, Unreadable(path));
            return false;
        }
        if (in->size() > kCheckedFileLimit)
            return tooLarge(QStringLiteral("more than %1 bytes").arg(kCheckedFileLimit));
        *bytes = *in;
        return true;
    }
    bool large = false;
    if (ReadWholeFile(path, kCheckedFileLimit, bytes, &large))
        return true;
    if (large)
        return tooLarge(QStringLiteral("%1 bytes").arg(QFileInfo(path).size()));
    *code = Fail(exit_code::kUsage, Unreadable(path));
    return false;
}

struct Uploaded {
    std::optional<int> failed; // the exit code, the message said
    QByteArray text; // may be empty: the controller holds nothing
};

// Reads the configuration (or the test configuration) as `config upload` does.
Uploaded upload(Context& c, bool test)
{
    Session& s = c.session;
    s.transfer.clear();
    const ConfigUploadResult result = ConfigUpload(s, test ? cfg::kUploadTestConfig : cfg::kUploadConfig);
    const QString what = test ? QStringLiteral("test configuration upload") : QStringLiteral("configuration upload");
    if (result.error != LinkError::None)
        return {result.failedChunk ? Fail(exit_code::kController,
                                          QStringLiteral("%1: %2: %3").arg(c.device, what, ConfigUploadFailure(result)))
                                   : c.linkFailure(what, result.error),
                {}};
    if (result.tooLarge)
        return {Fail(exit_code::kController,
                     QStringLiteral("%1: %2: more than %3 bytes").arg(c.device, what).arg(kTransferTextLimit)),
                {}};
    return {std::nullopt, TransferText(s.transfer)};
}

// FILE as the window sends it after opening it, put into the transfer buffer;
// the exit code, its message said, when it is refused. The refusals follow the
// file's check, so that config validate fails wherever this would refuse. The
// window would send the text up to the first zero byte: a file saved as UTF-16
// would go as its first bytes. Nothing of such a file is sent.
std::optional<int> loadConfig(Context& c, bool force, QByteArray* text)
{
    const QString path = c.inv.argument;
    QByteArray bytes;
    int code = 0;
    if (!readArgumentFile(c, &bytes, &code))
        return code;
    const ConfigCheck check = CheckConfigFile(bytes);
    if (check.zeroAt >= 0)
        return Fail(exit_code::kUsage,
                    ConfigZeroByteMessage(NativePath(path), check.zeroAt) + QStringLiteral("; nothing was sent"));
    // What the window sends after opening the file.
    *text = ConfigTextAsSent(bytes);
    if (text->isEmpty())
        return Fail(exit_code::kUsage, QStringLiteral("%1: empty: nothing to send").arg(NativePath(path)));
    if (!check.fits || !PutTransferText(c.session.transfer, *text))
        return Fail(exit_code::kUsage,
                    QStringLiteral("%1: %2").arg(NativePath(path), ConfigTooLargeMessage(text->size())));
    if (check.needsConsent() && !force)
        return Fail(exit_code::kUsage,
                    QStringLiteral("%1: not valid JSON: %2; nothing was sent (--force sends it anyway)")
                        .arg(NativePath(path), check.error->text()));
    return std::nullopt;
}

// Sends the transfer buffer's `size` bytes, with a progress line; the first
// Ctrl+C is told that the transfer goes on to its end, a second abandons it.
LinkResult<bool> sendConfig(Context& c, qsizetype size)
{
    ProgressLine progress(!c.quiet && StderrIsTerminal(), "bytes");
    bool told = false;
    const auto going = [&](std::size_t sent, std::size_t total) {
        progress.update(static_cast<int>(sent), static_cast<int>(total));
        if (Interrupts() == 1 && !told) {
            progress.finish();
            Say(QStringLiteral("finishing the transfer (%1 of %2 bytes); Ctrl+C again abandons it")
                    .arg(sent)
                    .arg(total));
            told = true;
        }
        return Interrupts() < 2;
    };
    const auto sent = ConfigDownload(c.session, c.session.transfer.bytes.data(), static_cast<std::size_t>(size), going);
    progress.finish();
    return sent;
}

// --verify: the configuration read back must be the text sent, byte for byte.
int verifyConfig(Context& c, const QByteArray& text)
{
    const Uploaded back = upload(c, false);
    if (back.failed)
        return *back.failed;
    if (back.text != text) {
        const auto common = std::min(back.text.size(), text.size());
        const auto at = std::mismatch(text.begin(), text.begin() + common, back.text.begin()).first - text.begin();
        return Fail(exit_code::kDownload,
                    QStringLiteral("%1: configuration read back differs from what was sent at byte "
                                   "offset %2 (sent %3 bytes, read back %4)")
                        .arg(c.device)
                        .arg(at)
                        .arg(text.size())
                        .arg(back.text.size()));
    }
    c.tell(QStringLiteral("configuration sent (%1 bytes) and read back the same").arg(text.size()));
    return exit_code::kDone;
}

} // namespace

int RunConfigUpload(Context& c, const WhichConfig& o)
{
    if (auto code = c.start())
        return *code;
    const bool test = o.test;
    const Uploaded up = upload(c, test);
    if (up.failed)
        return *up.failed;
    if (up.text.isEmpty())
        return Fail(
            exit_code::kController,
            QStringLiteral("%1: %2: the controller sent nothing")
                .arg(c.device,
                     test ? QStringLiteral("test configuration upload") : QStringLiteral("configuration upload")));
    return c.write(up.text) ? exit_code::kDone : c.writeFailure();
}

int RunConfigDownload(Context& c, const ConfigDownloadOptions& o)
{
    QByteArray text;
    if (auto refused = loadConfig(c, o.force, &text))
        return *refused;
    // Ctrl+C does not cut a transfer short: the first finishes it, a second abandons it.
    CatchInterrupts(true);
    if (auto started = c.start())
        return *started;
    const LinkResult<bool> sent = sendConfig(c, text.size());
    if (!sent.value && sent.error == LinkError::None)
        return Fail(exit_code::kInterrupted,
                    QStringLiteral("interrupted: the transfer was abandoned; the controller "
                                   "did not get the configuration's end"));
    if (!sent.value)
        return c.commandFailure(QStringLiteral("configuration download"), sent.error);
    if (!o.verify) {
        c.tell(QStringLiteral("configuration sent (%1 bytes)").arg(text.size()));
        return exit_code::kDone;
    }
    return verifyConfig(c, text);
}

int RunConfigValidate(Context& c)
{
    QByteArray bytes;
    int code = 0;
    if (!readArgumentFile(c, &bytes, &code))
        return code;
    if (auto failed = c.openOutput())
        return *failed;
    const QString path = NativePath(c.inv.argument);
    const ConfigCheck check = CheckConfigFile(bytes);
    QByteArray out;
    if (c.inv.format == Format::Jsonl) {
        JsonArray repeatedKeys;
        for (const QString& key : check.repeatedKeys)
            repeatedKeys.add(Json::string(key));
        JsonObject line;
        line.string("file", path)
            .boolean("valid", check.valid())
            .boolean("json", check.json())
            .integer("size", static_cast<long long>(check.size))
            .boolean("fits", check.fits)
            .boolean("utf8", check.utf8)
            .integerOrNull("zero_at", check.zeroAt >= 0 ? std::optional<long long>(check.zeroAt) : std::nullopt)
            .boolean("bom", check.byteOrderMark)
            .add("repeated_keys", repeatedKeys.json());
        if (check.error)
            line.integer("line", check.error->line)
                .integer("column", check.error->column)
                .string("problem", check.error->problem);
        out = line.line();
    } else {
        for (const QString& line : check.report().split(QLatin1Char('\n')))
            out += (path + QStringLiteral(": ") + line + QLatin1Char('\n')).toUtf8();
    }
    if (!c.write(out))
        return c.writeFailure();
    return check.valid() ? exit_code::kDone : exit_code::kInvalid;
}

int RunConfigDiff(Context& c, const WhichConfig& o)
{
    QByteArray bytes;
    int code = 0;
    if (!readArgumentFile(c, &bytes, &code))
        return code;
    if (auto started = c.start())
        return *started;
    const Uploaded controller = upload(c, o.test);
    if (controller.failed)
        return *controller.failed;
    const ConfigDiff diff = DiffConfigs(controller.text, ConfigTextAsSent(bytes));
    if (!diff.json)
        c.tell(QStringLiteral("not JSON (%1): compared line by line").arg(diff.notJsonSide));
    QByteArray out;
    for (const ConfigDifference& d : diff.differences) {
        if (c.inv.format == Format::Text) {
            out += d.line().toUtf8() + '\n';
            continue;
        }
        JsonObject line;
        if (diff.json)
            line.string("path", d.path);
        else
            line.integer("line", d.controllerLine ? d.controllerLine : d.fileLine);
        line.string("op", ConfigDifference::opMark(d.op));
        if (d.op != ConfigDifference::Op::Added)
            line.add("controller", d.controllerJson);
        if (d.op != ConfigDifference::Op::Removed)
            line.add("file", d.fileJson);
        out += line.line();
    }
    if (!c.write(out))
        return c.writeFailure();
    return diff.equal() ? exit_code::kDone : exit_code::kDiffer;
}

} // namespace tessavin::cli
