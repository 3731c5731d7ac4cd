#pragma once
// The one point every frame passes: each frame sent and each reply received on
// the configuration link and the register and log link, and each poll and
// answer, with its time, its link, its direction, its bytes and, for received
// frames, the verdict. The configuration link's trace lines (the Diagnostic
// window's text) pass here too, as notes. Subscribers attach to it: the
// Diagnostic window, the logging categories, a JSON Lines file.
#include "serial/clock.h"
#include "util/json_writer.h"
#include "serial/link_error.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tessavin {

enum class LinkKind { Config, Register, Poll };

// "config", "register", "poll"
const char* LinkKindName(LinkKind link);

struct FrameRecord {
    Clock::ms ms{0}; // on the link's clock
    QDateTime time; // the computer's local time
    LinkKind link = LinkKind::Register;
    bool sent = false; // true: to the controller ("tx"); false: from it ("rx")
    QByteArray bytes;
    std::optional<LinkError> verdict; // received replies and polls only
    // Received bytes that came after a reply which ended at its stated length
    // (fast replies): they belong to the reply logged before them and carry no
    // verdict of their own.
    bool trailing = false;
    // A request sent again after its reply failed: 1 for its first repeat.
    int retry = 0;
};

class FrameLog {
public:
    using FrameSink = std::function<void(const FrameRecord&)>;
    using NoteSink = std::function<void(LinkKind, const QString&)>;

    explicit FrameLog(std::shared_ptr<Clock> clock = nullptr);

    // Subscribers; attach returns an id for detach.
    int attach(FrameSink sink);
    int attachNotes(NoteSink sink);
    void detach(int id);

    void sent(LinkKind link, const QByteArray& bytes);
    void received(LinkKind link, const QByteArray& bytes, LinkError verdict);
    void trailing(LinkKind link, const QByteArray& bytes);
    void note(LinkKind link, const QString& line);
    // The next frame sent is the given repeat of a request (FrameRecord::retry).
    void markRetry(int retry) { pendingRetry_ = retry; }

    // Where the local time of each record comes from (tests fix it).
    void setWallClock(std::function<QDateTime()> wallClock) { wallClock_ = std::move(wallClock); }
    void setClock(std::shared_ptr<Clock> clock) { clock_ = std::move(clock); }

private:
    void publish(FrameRecord record);

    std::shared_ptr<Clock> clock_;
    std::function<QDateTime()> wallClock_;
    int nextId_ = 1;
    std::vector<std::pair<int, FrameSink>> frameSinks_;
    std::vector<std::pair<int, NoteSink>> noteSinks_;
    int pendingRetry_ = 0;
};

// ISO 8601 local time with milliseconds and the offset: 2026-12-08T17:21:13.836+03:00.
QString IsoLocalTime(const QDateTime& time);

// Two hexadecimal digits a byte, upper case, separated by blanks.
QString FrameHex(const QByteArray& bytes);

// One JSON object, no line end: {"t":..., "link":..., "dir":"tx"|"rx", "len":N,
// "hex":"05 64 ...", "verdict":"ok"|<error text>} (verdict on received frames
// only). Trailing bytes are an "rx" object with "trailing":true instead of a
// verdict; a request sent again carries "retry":N.
QByteArray FrameJsonLine(const FrameRecord& record);

// One line for a person: "17:21:13.836 register tx 14: 05 64 ..." and, received,
// "... rx 12 [ok]: ..." or "... rx 3 [trailing]: ..."; a request sent again,
// "... tx 14 [retry 1]: ...".
QString FrameTextLine(const FrameRecord& record);

// Prints every frame as a hex dump to the logging category of its link
// (tessavin.link.config, tessavin.link.register, tessavin.link.poll), at debug
// level: off unless QT_LOGGING_RULES turns it on, e.g.
// QT_LOGGING_RULES="tessavin.link.*.debug=true".
void LogFramesToCategories(FrameLog& log);

// Writes every frame as one JSON line to a file, each line written and flushed
// as the frame passes, so nothing logged is lost when the process ends.
class JsonLinesTrace {
public:
    ~JsonLinesTrace();
    // Creates (replaces) the file and attaches to the log. False with *error when
    // the file cannot be created.
    bool open(const QString& path, FrameLog& log, QString* error = nullptr);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    // False once a line could not be written (disk full, file gone).
    bool healthy() const { return healthy_; }

private:
    QFile file_;
    FrameLog* log_ = nullptr;
    int id_ = 0;
    bool healthy_ = true;
};

} // namespace tessavin
