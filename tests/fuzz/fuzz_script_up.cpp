// Up script against a far end that answers from the input, a few times on one
// session, with fast replies on or off (the input's first byte). Checked each time:
//  - the read-back request is sent, 14 bytes;
//  - a reply that fails the reference verdict fails with that verdict (or why
//    nothing came), and no file is written;
//  - a valid reply of L + 6 < 11 bytes fails: TooShort (no script), no file;
//  - otherwise the script is exactly the reply's bytes 8 to L + 3 (bytes behind
//    its stated end are in no script), the shown text is the script up to its
//    first zero byte, and the file holds the script.
// At the end, the frame log, trailing bytes and the guard gap with it.
#include "tests/fuzz/fuzz_peer.h"

#include "features/script_transfer.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tessavin;
using namespace tessavin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/up.log");

    Input in(data, size);
    const PeerLine line = ReadPeerLine(in);
    Peer peer(in, RegisterReplyFromInput, line);
    Session& s = peer.session();
    s.frame.fill(in.byte()); // whatever an older exchange left
    for (int round = 0; round < 3 && !in.empty(); ++round) {
        QFile::remove(path);
        const std::size_t written = peer.exchanges().size();
        const ScriptUpResult result = ReadScriptBack(s, path);

        FUZZ_CHECK(peer.exchanges().size() <= written + 1);
        const PeerExchange* e = peer.exchanges().size() > written ? &peer.exchanges().back() : nullptr;
        if (e)
            FUZZ_CHECK(e->request == RegisterRequest(0x0E, 0, 0));
        FUZZ_CHECK(peer.sends() == round + 1);
        const RegisterReception expect = peer.reception(round);
        const QByteArray& received = expect.received;
        const qsizetype n = expect.verdict == LinkError::None
            ? 6 + (static_cast<std::uint8_t>(received[2]) | (static_cast<std::uint8_t>(received[3]) << 8))
            : received.size();
        FUZZ_CHECK(result.received == static_cast<std::size_t>(n));
        if (expect.verdict != LinkError::None || n < 11) {
            FUZZ_CHECK(!result.ok);
            FUZZ_CHECK(result.error == (expect.verdict != LinkError::None ? expect.verdict : LinkError::TooShort));
            FUZZ_CHECK(result.script.isEmpty() && result.shown.isEmpty() && !result.saved);
            FUZZ_CHECK(!QFile::exists(path));
            continue;
        }
        const QByteArray script = received.mid(8, n - 10);
        FUZZ_CHECK(result.ok && result.error == LinkError::None);
        FUZZ_CHECK(result.script == script);
        const qsizetype zero = script.indexOf('\0');
        FUZZ_CHECK(result.shown == (zero < 0 ? script : script.left(zero)));
        FUZZ_CHECK(result.saved && result.fileError.isEmpty());
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        FUZZ_CHECK(file.readAll() == script);
    }
    peer.closeAndCheckRegisterLog();
    return 0;
}
