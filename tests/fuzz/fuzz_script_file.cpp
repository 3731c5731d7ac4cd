// Script files of any content and size (up to well past what one request holds),
// a missing file and a folder, loaded into the Transfer buffer; and the bytes the
// window shows for a loaded script.
#include "tests/fuzz/fuzz_support.h"
#include "features/script_transfer.h"
#include "util/text_codec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <memory>

using namespace tessavin;

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir;
    static const auto transfer = std::make_unique<TransferBuffer>();
    FUZZ_CHECK(dir.isValid());

    fuzz::Input in(data, size);
    const std::uint8_t mode = in.byte();
    const std::size_t grow = in.u16() % 4096; // enough to pass the limit by far
    QByteArray content = in.rest();
    // Repeating the content reaches sizes around the limit and beyond it.
    if ((mode & 1) && !content.isEmpty())
        while (static_cast<std::size_t>(content.size()) < grow)
            content += content.left(static_cast<qsizetype>(grow) - content.size());

    transfer->bytes.fill(kUntouched);
    transfer->length = -7;
    const auto untouched = [] {
        return transfer->length == -7
            && std::all_of(transfer->bytes.begin(), transfer->bytes.end(),
                           [](std::uint8_t b) { return b == kUntouched; });
    };

    if (mode & 2) {
        // Neither a missing file nor a folder is read.
        const QString path = dir.filePath((mode & 4) ? QStringLiteral("missing.scr") : QString());
        FUZZ_CHECK(LoadScriptFile(path, *transfer).status == ScriptFileStatus::Unreadable);
        FUZZ_CHECK(untouched());
        return 0;
    }

    const QString path = dir.filePath(QStringLiteral("script.scr"));
    {
        // A new file each time: rewriting one in place makes ext4 flush it to disk.
        QFile::remove(path);
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        FUZZ_CHECK(file.write(content) == content.size());
    }
    const ScriptFile loaded = LoadScriptFile(path, *transfer);
    FUZZ_CHECK(fileBytes(path) == content); // read-only: the file stays as it was
    const std::size_t n = static_cast<std::size_t>(content.size());
    if (n == 0) {
        FUZZ_CHECK(loaded.status == ScriptFileStatus::Empty && untouched());
        return 0;
    }
    if (n > kScriptMaxBytes) {
        FUZZ_CHECK(loaded.status == ScriptFileStatus::TooLong && untouched());
        FUZZ_CHECK(loaded.size == static_cast<qint64>(n));
        return 0;
    }
    FUZZ_CHECK(loaded.status == ScriptFileStatus::Loaded && loaded.size == static_cast<qint64>(n));
    FUZZ_CHECK(transfer->length == static_cast<std::int32_t>(n));
    FUZZ_CHECK(std::memcmp(transfer->bytes.data(), content.constData(), n) == 0);
    FUZZ_CHECK(std::all_of(transfer->bytes.begin() + static_cast<std::ptrdiff_t>(n), transfer->bytes.end(),
                           [](std::uint8_t b) { return b == 0; })); // the rest cleared

    // Shown: the script up to its first zero byte, as UTF-8 with every byte kept
    // when it is well-formed UTF-8.
    const QByteArray shown = ScriptShownBytes(transfer->bytes.data(), n);
    FUZZ_CHECK(shown == content.left(content.indexOf('\0') >= 0 ? content.indexOf('\0') : content.size()));
    if (fuzz::WellFormedUtf8(shown))
        FUZZ_CHECK(DecodeText(shown).toUtf8() == shown);
    return 0;
}
