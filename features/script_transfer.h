#pragma once
// The controller's script over the register and log link: sending a script file
// (Down script, 0x0C data request), reading the script back (Up script, 0x0E) and
// clearing it (Clr script, the 0x19 request).
//
// A script is raw bytes, without header or conversion. One data request carries
// it whole, its 16-bit length and count fields filled in full, so a script may
// hold up to kScriptMaxBytes bytes (what the Frame buffer holds besides the
// request's own 14 bytes). A longer script file is refused and nothing is sent.
#include "features/session.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessavin {

constexpr std::size_t kScriptMaxBytes = kRegMaxData;

// The shortest Up script reply that carries a script byte: 8 bytes of header and
// body start, then the script, then the two checksum bytes.
constexpr std::size_t kScriptReplyMinimum = 11;

enum class ScriptFileStatus {
    Loaded, // in the Transfer buffer, Transfer length set
    Empty, // the file holds no bytes
    Unreadable, // missing, not a plain file, or not readable
    TooLong, // more than kScriptMaxBytes bytes
};

struct ScriptFile {
    ScriptFileStatus status = ScriptFileStatus::Unreadable;
    qint64 size = 0; // the file's size as far as known (TooLong: at least kScriptMaxBytes + 1)
};

// Reads a script file into the Transfer buffer (cleared whole first) and sets the
// Transfer length. The file is opened read-only: never created, truncated or
// changed. Only a Loaded file touches the buffer.
ScriptFile LoadScriptFile(const QString& path, TransferBuffer& transfer);

// What is said of a script file of `size` bytes that is too long to send.
QString ScriptTooLongMessage(qint64 size);

// The part of a script that is shown as text: its bytes up to the first zero byte.
QByteArray ScriptShownBytes(const std::uint8_t* bytes, std::size_t n);

struct ScriptDownResult {
    ScriptFile file;
    bool sent = false; // the request went out
    bool replied = false; // a reply came that passes the reply check
    LinkError error = LinkError::None; // sent but not replied: why (ReplyDamaged: unconfirmed)
};

// Down script: loads the file, tells `loaded` the bytes to show, then sends the
// whole script in one data request. Nothing is sent unless the file was Loaded.
ScriptDownResult SendScriptFile(Session& session, const QString& path,
                                const std::function<void(const QByteArray& shown)>& loaded = {});

struct ScriptSendResult {
    bool sent = false; // the request went out
    LinkError error = LinkError::None; // None: a reply came that passes the reply check
    bool replied() const { return sent && error == LinkError::None; }
};

// The script in the Transfer buffer (1 to kScriptMaxBytes bytes) in one data
// request. Nothing is sent for any other length.
ScriptSendResult SendTransferScript(Session& session);

struct ScriptUpResult {
    std::size_t received = 0; // reply bytes (a valid reply: up to its stated end)
    bool ok = false; // a valid reply of at least kScriptReplyMinimum bytes came
    QByteArray script; // the received - 10 script bytes, zeros and all
    QByteArray shown; // the script up to its first zero byte
    bool saved = false; // the file was created and every byte written
    QString fileError; // not saved: the message that says which file and why
    LinkError error = LinkError::None; // not ok: why (TooShort: a valid reply without a script byte)
    // A valid reply that carries no script byte: the controller holds no script.
    bool noScript() const { return error == LinkError::TooShort && received == kScriptReplyMinimum - 1; }
};

// Up script: sends the read-back request; when a script came, writes it whole to
// `path` (replacing any file of that name). The reply must pass the reply check
// (register_link.h): a damaged reply is asked for again (the request only reads),
// and one still damaged is a failed read, never a script.
ScriptUpResult ReadScriptBack(Session& session, const QString& path);
// The same exchange without the file (saved stays false): for a caller that
// writes the script elsewhere.
ScriptUpResult ReceiveScript(Session& session);

// Clr script: None when a reply came that passes the reply check; a damaged
// reply (ReplyDamaged) leaves it unconfirmed.
LinkError ClearScript(Session& session);

} // namespace tessavin
