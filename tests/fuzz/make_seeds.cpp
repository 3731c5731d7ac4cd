// Writes the seed inputs of every fuzz target into FOLDER/<target>/seed-<name>:
// the worked examples of the tests and of the emulated controller, laid out as
// each target reads its input. Run by `scripts/fuzz --seeds`; the seeds are
// committed under tests/fuzz/corpus/.
#include "protocol/config_link.h"
#include "sim/controller.h"
#include "protocol/register_link.h"
#include "sim/sim_options.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>

using namespace tessavin;

namespace {

QString root;
int written = 0;

void seed(const char* target, const QString& name, const QByteArray& bytes)
{
    const QString folder = root + QLatin1Char('/') + QLatin1String(target);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/seed-") + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++written;
}

QByteArray u8(int v) { return QByteArray(1, static_cast<char>(v)); }
QByteArray u16(int v) { return u8(v & 0xFF) + u8((v >> 8) & 0xFF); }
QByteArray i32(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return u16(static_cast<int>(u & 0xFFFF)) + u16(static_cast<int>(u >> 16));
}
QByteArray chunk(const QByteArray& bytes) { return u8(static_cast<int>(bytes.size())) + bytes; }
QByteArray f32(float v)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return i32(static_cast<std::int32_t>(bits));
}

void logRecords()
{
    const struct {
        const char* name;
        QByteArray record;
    } rows[] = {
        {"crlf-ok", "<2024/01/02 03:04:05 \r\nOK\r\n"},
        {"marked-cr", ">2024/01/02 03:04:05 AT+X\r"},
        {"other-marker", "#2024-01-02 03:04:05 power on"},
        {"lone-cr", "<2024/01/02 03:04:05 ab\rcd"},
        {"three-bytes", ">20"},
        {"crlf-pair", "<2024/01/02 03:04:05 x\r\n\r\ny"},
        {"blank-fields", "<  24/ 1/ 2  3: 4: 5 x"},
        {"negative-month", "<2024/-1/02 03:04:05 x"},
        {"zero-inside", QByteArray("<2024/01/02 03:04:05 ab\0cd\r\n", 28)},
        {"utf8", "<2024/01/02 03:04:05 Привет"},
        {"cp1251", "<2024/01/02 03:04:05 \xCF\xF0\xE8\xE2\xE5\xF2"},
    };
    for (const auto& row : rows)
        seed("fuzz_log_record", QLatin1String(row.name), row.record);
    int i = 0;
    for (const QByteArray& record : sim::DefaultLogRecords(7, 60))
        seed("fuzz_log_record", QStringLiteral("emulated-%1").arg(++i), record);
}

void logSpans()
{
    // choice (None, Last10, Last100, Last500, Index, One), ring mode, number, begin, count, capacity
    const struct {
        const char* name;
        int choice, number, begin, count, capacity;
    } rows[] = {
        {"last100-c150-b150", 2, 0, 150, 150, 2000},
        {"last10-full-b3", 1, 0, 3, 2000, 2000},
        {"last10-c5", 1, 0, 5, 5, 2000},
        {"index30-c20", 4, 30, 20, 20, 2000},
        {"index4-full-b2", 4, 4, 2, 2000, 2000},
        {"one-3", 5, 3, 150, 150, 2000},
        {"last100-c-over-m", 2, 0, 20, 150, 100},
        {"none", 0, 0, 150, 150, 2000},
    };
    for (const auto& row : rows)
        seed("fuzz_log_span", QLatin1String(row.name),
             u8(row.choice) + u8(0) + i32(row.number) + i32(row.begin) + i32(row.count) + i32(row.capacity));
    // A ring as the controller keeps it: full (odd count) at begin 3, capacity 2000.
    seed("fuzz_log_span", QStringLiteral("ring-full-last500"), u8(3) + u8(1) + i32(0) + i32(3) + i32(1) + i32(1999));
}

void archive()
{
    const QByteArray worked = QByteArray::fromHex("18 03 05 0E 07 09 00 00 48 41");
    const QByteArray newYear = QByteArray::fromHex("18 0C 1F 17 1E 00 00 00 48 41");
    const QByteArray undated = QByteArray::fromHex("00 02 1F 19 3C 00 CD CC FC C0");
    // record, offset from UTC, memo index; then begin, choice, typed number, a slot probe
    seed("fuzz_archive", QStringLiteral("worked-utc-last10"),
         worked + i32(0) + i32(7) + u16(10) + u8(1) + i32(0) + i32(1001));
    seed("fuzz_archive", QStringLiteral("worked-plus3h-index10"),
         worked + i32(3 * 3600) + i32(7) + u16(5) + u8(4) + i32(10) + i32(2002));
    seed("fuzz_archive", QStringLiteral("new-year-plus3h-last500"),
         newYear + i32(3 * 3600) + i32(1000) + u16(0) + u8(3) + i32(0) + i32(5));
    seed("fuzz_archive", QStringLiteral("undated-minus5h-one"),
         undated + i32(-5 * 3600) + i32(1000) + u16(5) + u8(5) + i32(3) + i32(-1));
    seed("fuzz_archive", QStringLiteral("feb29-minus5h-index2500"),
         QByteArray::fromHex("18 03 01 03 00 00 00 00 80 3F") + i32(-5 * 3600) + i32(0) + u16(10) + u8(4) + i32(2500)
             + i32(0));
}

void polls()
{
    // mode (1 lay the emulator's poll, 2 typed numbers, 4 own start byte, 8 no
    // local time, 16 decimal comma), fill, address, function, strand, [start],
    // three values, local time in ms, then the three fields and the buffer.
    const auto poll = [](int mode, int fill, int address, int function, int strand, int ms, const QByteArray& fields) {
        return u8(mode) + u16(fill) + u8(address) + u8(function) + u8(strand) + f32(12.5f) + f32(0.8f) + f32(-3.25f)
            + i32(ms) + fields + QByteArray(40, '\x30');
    };
    const QByteArray typed = chunk("28") + chunk("-75") + chunk("60");
    const int tenNine = (10 * 3600 + 9 * 60) * 1000;
    seed("fuzz_poll_answer", QStringLiteral("date-addr1"), poll(1, 0, 1, 1, 1, tenNine, typed));
    seed("fuzz_poll_answer", QStringLiteral("date-addr1-fill3"), poll(1, 3, 1, 1, 1, tenNine, typed));
    seed("fuzz_poll_answer", QStringLiteral("coefficients-addr2"), poll(1, 0, 2, 2, 1, tenNine, typed));
    seed("fuzz_poll_answer", QStringLiteral("report-addr5-strand3"), poll(17, 7, 5, 10, 3, tenNine, typed));
    seed("fuzz_poll_answer", QStringLiteral("date-addr0-numbers"),
         poll(3, 0, 0, 1, 1, 0, u8(0) + i32(300) + u8(1) + i32(-75) + u8(2) + i32(3599)));
    seed("fuzz_poll_answer", QStringLiteral("unknown-function"), poll(1, 0, 1, 7, 1, tenNine, typed));
    seed("fuzz_poll_answer", QStringLiteral("day-not-integer"),
         poll(1, 0, 1, 1, 1, tenNine, chunk("1.5") + chunk("0") + chunk("0")));
    seed("fuzz_poll_answer", QStringLiteral("offset-too-large"),
         poll(9, 0, 1, 1, 1, 0, chunk("28") + chunk("3600") + chunk("0")));
    seed("fuzz_poll_answer", QStringLiteral("raw-buffer"),
         u8(0) + QByteArray(21, '\0') + typed + QByteArray::fromHex("FF FF AA 01 08 01 11 22 5A 6B"));
}

void configTexts()
{
    sim::Controller controller;
    seed("fuzz_config_text", QStringLiteral("emulated-configuration"), controller.state().configuration);
    seed("fuzz_config_text", QStringLiteral("emulated-test-configuration"), controller.state().testConfiguration);
    seed("fuzz_config_text", QStringLiteral("utf8-crlf"), "{\r\n  \"name\": \"насосная 4\"\r\n}\r\n");
    seed("fuzz_config_text", QStringLiteral("cp1251-cr"), "{\r  \"name\": \"\xED\xE0\xF1\xEE\xF1\xED\xE0\xFF\x98\"\r}");
    seed("fuzz_config_text", QStringLiteral("mixed-line-ends"),
         "a\nb\r\nc\rd\xE2\x80\xA9"
         "e\n\r");
}

void scripts()
{
    // mode (1 repeat to the size, 2 not a file, 6 a missing file), size, content
    seed("fuzz_script_file", QStringLiteral("short"), u8(0) + u16(0) + "set 1\r\nrun\r\n");
    seed("fuzz_script_file", QStringLiteral("longest"), u8(1) + u16(986) + "0123456789");
    seed("fuzz_script_file", QStringLiteral("one-too-long"), u8(1) + u16(987) + "0123456789");
    seed("fuzz_script_file", QStringLiteral("zero-inside"), u8(0) + u16(0) + QByteArray("ab\0cd", 5));
    seed("fuzz_script_file", QStringLiteral("empty"), u8(0) + u16(0));
    seed("fuzz_script_file", QStringLiteral("folder"), u8(2) + u16(0));
    seed("fuzz_script_file", QStringLiteral("missing"), u8(6) + u16(0));
}

void controllerRuns()
{
    // settings: capacity - 1, records (below 32), record length - 1, archive records (below 16), chunk,
    // reboot silence / 10 ms, logging interval, status code; no fault
    const QByteArray settings = u16(1999) + u8(30) + u16(59) + u8(12) + u8(100) + u8(10) + u8(50) + u8(0) + u8(0);
    // a request as raw bytes after a pause of `pause` x 20 ms
    const auto raw = [](const QByteArray& bytes, int pause = 0) {
        return u8(0) + u8(pause) + u16(static_cast<int>(bytes.size())) + bytes;
    };
    const auto reg = [&](std::uint8_t command, std::uint16_t index = 0) {
        FrameBuffer frame{};
        const std::size_t n = BuildRegRequest(frame, command, index, 1);
        return raw(QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n)));
    };
    const auto cmd = [&](std::uint8_t code, int pause = 0) {
        ConfigFrame frame{};
        const std::size_t n = BuildConfigFrame(code, frame, nullptr, 0, 0, {});
        return raw(QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n)), pause);
    };
    const auto data = [&](bool read, const QByteArray& bytes, std::uint16_t address) {
        ConfigFrame frame{};
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        const std::size_t n = read
            ? BuildConfigReadFrame(0, frame, p, static_cast<std::size_t>(bytes.size()), address, {})
            : BuildConfigFrame(0, frame, p, static_cast<std::size_t>(bytes.size()), address, {});
        return raw(QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n)));
    };
    const auto script = [&](const QByteArray& bytes) {
        FrameBuffer frame{};
        const std::size_t n = BuildRegDataRequest(frame, reg::kScriptDown,
                                                  reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                  static_cast<std::size_t>(bytes.size()));
        return raw(QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n)));
    };

    seed("fuzz_sim_controller", QStringLiteral("log-download"),
         settings + reg(reg::kLogCapacity) + reg(reg::kLogCount) + reg(reg::kLogBegin) + reg(reg::kLogRecord, 149)
             + reg(reg::kLogRecord, 5000));
    seed("fuzz_sim_controller", QStringLiteral("archive-download"),
         settings + reg(reg::kArchiveBegin) + reg(reg::kArchiveRecord, 7) + reg(reg::kArchiveRecord, 1001));
    seed("fuzz_sim_controller", QStringLiteral("service-commands"),
         settings + reg(reg::kIdent) + reg(reg::kPressure) + reg(reg::kLogStart) + raw({}, 200) + reg(reg::kLogStop)
             + reg(reg::kLogClear) + reg(reg::kRegistration));
    seed("fuzz_sim_controller", QStringLiteral("script-down-up"),
         settings + script("set 1\r\nrun\r\n") + reg(reg::kScriptUp) + script(QByteArray(986, 's'))
             + reg(reg::kScriptUp));
    seed("fuzz_sim_controller", QStringLiteral("config-upload"),
         settings + cmd(cfg::kStatusQuery) + cmd(cfg::kUploadConfig) + data(true, "\x01", 0) + data(true, "\x01", 100)
             + data(true, "\x01", 700) + cmd(cfg::kUploadTestConfig) + data(true, "\x01", 0));
    seed("fuzz_sim_controller", QStringLiteral("config-download"),
         settings + cmd(cfg::kDownloadStart) + data(false, "{\"a\": 1}", 0) + data(false, "\r\n", 8)
             + cmd(cfg::kDownloadStop) + cmd(cfg::kDownloadStop) + cmd(cfg::kSetTestMode));
    seed("fuzz_sim_controller", QStringLiteral("reboot-silence"),
         settings + cmd(cfg::kReboot) + cmd(cfg::kStatusQuery) + cmd(cfg::kStatusQuery, 10) + reg(reg::kLogCount));
    seed("fuzz_sim_controller", QStringLiteral("built-frames"),
         settings + u8(1) + u8(0) + QByteArray::fromHex("1C 06 00 00 00 00") + u16(0) + u8(2) + u8(0) + u8(6) + u16(0)
             + u8(0x37) + u8(0));
    // A split fault on every reply, then one request.
    seed("fuzz_sim_controller", QStringLiteral("fault-split"),
         u16(1999) + u8(30) + u16(59) + u8(12) + u8(100) + u8(10) + u8(50) + u8(0) + u8(1 | (4 << 1)) + u16(5) + u8(10)
             + u8(0) + u8(0) + reg(reg::kLogCount));
}

// ---- the exchange targets: what the far end (fuzz_peer.h) answers to each frame ----

// The line, the first byte of every exchange target's input (fuzz_peer.h
// PeerLine): fast replies, and the baud rate as an index into 38400, 9600, 1200,
// 115200, 19200, 4800, 2400, 57600 (guard gaps of 2, 4, 30, 2, 2, 8, 15, 2 ms).
QByteArray line(bool fast, int baud = 0) { return u8((fast ? 1 : 0) | (baud << 1)); }
const QByteArray kSlow = line(false);
const QByteArray kFast = line(true);
const QByteArray kFast1200 = line(true, 2);

// How a reply arrives: at once and whole (0), or the first part `delay` ms after
// the frame and the rest in `parts` parts cut at `cuts`, each `gap` ms after the last.
// With a stated end (fast replies), the parts after the one that completes it
// come within the guard gap after it: a gap is taken modulo what is left of it, plus one.
QByteArray arrival(int delay, const QList<int>& cuts, const QList<int>& gaps)
{
    QByteArray out = u8((delay ? 2 : 0) | (static_cast<int>(cuts.size()) << 2)) + (delay ? u16(delay) : QByteArray());
    for (const int cut : cuts)
        out += u16(cut);
    for (const int gap : gaps)
        out += u8(gap);
    return out;
}
QByteArray arrival(int delay = 0, const QList<int>& cuts = {}, int gap = 0)
{
    return arrival(delay, cuts, QList<int>(cuts.size(), gap));
}

// The far end's kinds of reply (fuzz_peer.h): 0 silence, 3 any bytes, 4 behind
// an echo, 8 the device goes away, 10 well-formed, 11 well-formed and then the
// device goes away.
// 1 a byte changed, 2 cut short, 6 followed by more bytes, 9 an echo alone,
// 136 behind an echo and followed by more bytes.
enum Kind {
    kSilence = 0,
    kChanged = 1,
    kCut = 2,
    kRaw = 3,
    kEcho = 4,
    kTrailing = 6,
    kVanish = 8,
    kEchoAlone = 9,
    kGood = 10,
    kGoneAfter = 11,
    kEchoTrailing = 136
};

// A well-formed register reply carrying `payload`; one of 255 bytes or more is
// a run of `fill`.
QByteArray registerReply(const QByteArray& payload, int kind = kGood, const QByteArray& how = arrival())
{
    const QByteArray contents = payload.size() < 255
        ? chunk(payload)
        : u8(255) + u16(static_cast<int>(payload.size())) + payload.left(1);
    return u8(kind) + contents + how;
}
QByteArray silence() { return u8(kSilence); }
// A well-formed reply followed by `more` bytes (behind an echo of the request too).
QByteArray replyThen(const QByteArray& payload, const QByteArray& more, const QByteArray& how = arrival(),
                     bool echo = false)
{
    const QByteArray contents = payload.size() < 255
        ? chunk(payload)
        : u8(255) + u16(static_cast<int>(payload.size())) + payload.left(1);
    return u8(echo ? kEchoTrailing : kTrailing) + contents + chunk(more) + how;
}
QByteArray word(int v) { return registerReply(u16(v)); }

void registerReads()
{
    // frame fill; then per round: operation (0 exchange, 1 raw, 2 word, 3 long,
    // 4 float, 5 block; +128 a data request), command, index and count (or the
    // data's length and first byte), the reply.
    const auto plain = [](int op, std::uint8_t command, int index = 0, int count = 0) {
        return u8(op) + u8(command) + u16(index) + u16(count);
    };
    seed("fuzz_register_reads", QStringLiteral("count-291"), kSlow + u8(0) + plain(2, reg::kLogCount) + word(291));
    seed("fuzz_register_reads", QStringLiteral("pressure-1.5-long-float"),
         kSlow + u8(0xEE) + plain(3, reg::kPressure) + registerReply(f32(1.5f)) + plain(4, reg::kPressure)
             + registerReply(f32(1.5f)));
    seed("fuzz_register_reads", QStringLiteral("record-block-then-raw"),
         kSlow + u8(0x77) + plain(5, reg::kLogRecord, 7, 1) + registerReply("<2024/01/02 03:04:05 power on")
             + plain(1, reg::kLogRecord, 8, 1) + registerReply("<2024/01/02 03:04:06 x"));
    seed("fuzz_register_reads", QStringLiteral("largest-block"),
         kSlow + u8(0) + plain(5, reg::kLogRecord, 1, 1) + registerReply(QByteArray(990, 'z')));
    seed("fuzz_register_reads", QStringLiteral("oversized-block"),
         kSlow + u8(0) + plain(5, reg::kLogRecord, 1, 1) + registerReply(QByteArray(1090, 'y')));
    seed("fuzz_register_reads", QStringLiteral("empty-payload-word"),
         kSlow + u8(0) + plain(2, reg::kLogCount) + registerReply({}));
    seed("fuzz_register_reads", QStringLiteral("echo-count"),
         kSlow + u8(0) + plain(2, reg::kLogCount) + registerReply(u16(291), kEcho));
    seed("fuzz_register_reads", QStringLiteral("split-late-count"),
         kSlow + u8(0) + plain(2, reg::kLogCount) + registerReply(u16(291), kGood, arrival(12900, {3, 7}, 59)));
    seed("fuzz_register_reads", QStringLiteral("silence-vanish-closed"),
         kSlow + u8(0) + plain(2, reg::kLogCount) + silence() + plain(0, reg::kLogClear) + u8(kVanish) + u16(500)
             + plain(2, reg::kLogCount));
    // The count comes, then the device goes away 21 ms after it: the next request finds no port.
    seed("fuzz_register_reads", QStringLiteral("count-then-gone"),
         kSlow + u8(0) + plain(2, reg::kLogCount) + registerReply(u16(291), kGoneAfter, arrival() + u8(20))
             + plain(2, reg::kLogCount));
    seed("fuzz_register_reads", QStringLiteral("script-down-986"),
         kSlow + u8(0) + u8(128 + 1) + u8(reg::kScriptDown) + u16(986) + u8('s') + word(0));

    // Fast replies. The count twice: each reply ends as its twelfth byte comes
    // (10 ms, the end of the first pause), the next request 2 ms later.
    seed("fuzz_register_reads", QStringLiteral("fast-count-twice"),
         kFast + u8(0) + plain(2, reg::kLogCount) + word(291) + plain(2, reg::kLogCount) + word(291));
    // At 1200 baud (a guard gap of 30 ms): the echo at once, the reply 30 ms later
    // with a byte after it, and two more bytes 20 and 9 ms after that, all before
    // the next request, which goes 30 ms after the reply's end.
    seed("fuzz_register_reads", QStringLiteral("fast-1200-echo-then-reply-then-trailing"),
         kFast1200 + u8(0) + plain(2, reg::kLogCount)
             + replyThen(u16(291), QByteArray::fromHex("A5 5A FF"), arrival(0, {14, 27, 28}, {30, 20, 9}), true)
             + plain(2, reg::kLogCount) + word(5));
    // Split by 50 ms, under the idle gap, in the middle of the header: read whole.
    seed("fuzz_register_reads", QStringLiteral("fast-split-50ms-in-header"),
         kFast + u8(0) + plain(3, reg::kPressure) + registerReply(f32(1.5f), kGood, arrival(0, {3}, 50))
             + plain(2, reg::kLogCount) + word(7));
    // RegExchangeRaw counts the reply up to its stated end, not the bytes behind it.
    seed("fuzz_register_reads", QStringLiteral("fast-raw-stops-at-stated-end"),
         kFast + u8(0x33) + plain(1, reg::kLogRecord, 8, 1) + replyThen("<2024/01/02 03:04:06 x", "more bytes")
             + plain(2, reg::kLogCount) + word(1));
    // Bytes that stop short of the stated end, a wrong header checksum, an echo
    // alone: each ends at the idle gap, as without fast replies.
    seed("fuzz_register_reads", QStringLiteral("fast-short-bad-header-echo-alone"),
         kFast + u8(0) + plain(2, reg::kLogCount) + u8(kCut) + chunk(u16(291)) + u16(7) + arrival()
             + plain(2, reg::kLogCount) + u8(kChanged) + chunk(u16(291)) + u16(4) + u8(1) + arrival()
             + plain(2, reg::kLogCount) + u8(kEchoAlone) + arrival() + plain(2, reg::kLogCount) + word(3));
}

void logDownloads()
{
    // capacity asked (1), choice, typed number, Stop moment (0: never), then the replies.
    const auto head = [](int ask, int choice, int number, std::uint32_t stop = 0) {
        return u8(ask) + u8(choice) + i32(number) + i32(static_cast<std::int32_t>(stop));
    };
    QList<QByteArray> records;
    for (const QByteArray& record : sim::DefaultLogRecords(5, 60))
        records << registerReply(record);
    const auto first = [&](int n) { return records.mid(0, n).join(); };
    // Count 5, begin 5, the newest 10: all five, 0 to 4.
    seed("fuzz_log_download", QStringLiteral("last10-c5"), kSlow + head(0, 1, 0) + word(5) + word(5) + first(5));
    // Capacity 5, a full ring at begin 1, the newest 3: slots 3, 4 and 0.
    seed("fuzz_log_download", QStringLiteral("index3-full-ring-wraps"),
         kSlow + head(1, 4, 3) + word(5) + word(5) + word(1) + first(3));
    seed("fuzz_log_download", QStringLiteral("one-7"),
         kSlow + head(0, 5, 7) + word(150) + word(150) + registerReply(">2024/01/02 03:04:05 AT+X\r"));
    // The second record's reply has a payload byte changed: one shown, the loop ends.
    seed("fuzz_log_download", QStringLiteral("second-record-garbled"),
         kSlow + head(0, 1, 0) + word(5) + word(5) + registerReply("<2024/01/02 03:04:05 a")
             + registerReply("<2024/01/02 03:04:05 b", 1, u16(9) + u8(1) + arrival()));
    // Each exchange takes 70 ms; Stop at 301 ms, while the third record is under way: three shown.
    seed("fuzz_log_download", QStringLiteral("stop-at-301ms"),
         kSlow + head(0, 1, 0, 300) + word(5) + word(5) + first(5));
    // Stop in the 33rd run of window events: the one right before the second
    // record request, after the Stop flag was last read. One shown.
    seed("fuzz_log_download", QStringLiteral("stop-in-events-before-second-record"),
         kSlow + head(0, 1, 0, 0x80000000u | 33) + word(5) + word(5) + first(5));
    seed("fuzz_log_download", QStringLiteral("count-silent"), kSlow + head(0, 1, 0) + silence() + word(5) + first(5));
    seed("fuzz_log_download", QStringLiteral("record-empty-payload"),
         kSlow + head(0, 1, 0) + word(2) + word(2) + registerReply({}));

    // Fast replies at 1200 baud: each reply ends 10 ms after its request, the
    // next request goes 30 ms later, every 40 ms: count at 0, begin at 40, the
    // records at 80, 120, 160 and so on.
    seed("fuzz_log_download", QStringLiteral("fast-1200-last10-c5"),
         kFast1200 + head(0, 1, 0) + word(5) + word(5) + first(5));
    // Stop at 140 ms, in the guard gap before the third record's request (130
    // to 160 ms): that request is under way and completes; three shown.
    seed("fuzz_log_download", QStringLiteral("fast-1200-stop-in-guard-gap"),
         kFast1200 + head(0, 1, 0, 139) + word(5) + word(5) + first(5));
    // Stop at 130 ms, as the second record's reply ends: two shown.
    seed("fuzz_log_download", QStringLiteral("fast-1200-stop-as-reply-ends"),
         kFast1200 + head(0, 1, 0, 129) + word(5) + word(5) + first(5));
    // Records with bytes behind them: with the first record's reply; 1 ms after
    // the second's, which comes 20 ms after its request (in a wait, so it ends
    // as it comes), so they are logged before the next request.
    seed("fuzz_log_download", QStringLiteral("fast-records-then-more"),
         kFast + head(0, 1, 0) + word(3) + word(3) + replyThen("<2024/01/02 03:04:05 a", "\r\n")
             + replyThen(">2024/01/02 03:04:05 b", "xyz", arrival(20, {32}, 1)) + records.at(2));
}

void archiveDownloads()
{
    // choice, typed N, one-record index, offset from UTC in seconds, the request
    // before which the loop is asked to stop (0: never), then the replies.
    const auto head = [](int choice, int n, int one, int offset, int stop = 0) {
        return u8(choice) + i32(n) + i32(one) + i32(offset) + u8(stop);
    };
    const QByteArray worked = QByteArray::fromHex("18 03 05 0E 07 09 00 00 48 41");
    QByteArray ten;
    for (int i = 0; i < 10; ++i)
        ten += registerReply(worked);
    // Begin 3: newest 2; the newest 10 are 994 to 1000, then 0 to 2.
    seed("fuzz_archive_download", QStringLiteral("last10-begin3-plus3h"),
         kSlow + head(1, 0, 0, 3 * 3600) + word(3) + ten);
    seed("fuzz_archive_download", QStringLiteral("last10-stop-before-fourth"),
         kSlow + head(1, 0, 0, 0, 4) + word(3) + ten);
    seed("fuzz_archive_download", QStringLiteral("one-291-minus5h"),
         kSlow + head(5, 0, 291, -5 * 3600) + word(3) + registerReply(worked));
    seed("fuzz_archive_download", QStringLiteral("index2500-new-year"),
         kSlow + head(4, 2500, 0, 3 * 3600) + word(0)
             + registerReply(QByteArray::fromHex("18 0C 1F 17 1E 00 00 00 48 41"))
             + registerReply(QByteArray::fromHex("00 02 1F 19 3C 00 CD CC FC C0")) + ten.left(ten.size() / 5));
    seed("fuzz_archive_download", QStringLiteral("nine-byte-payload"),
         kSlow + head(1, 0, 0, 0) + word(3) + registerReply(worked.left(9)));
    seed("fuzz_archive_download", QStringLiteral("hour-24"),
         kSlow + head(1, 0, 0, 0) + word(3) + registerReply(QByteArray::fromHex("18 03 05 18 00 00 00 00 48 41")));
    seed("fuzz_archive_download", QStringLiteral("fast-last10-begin3-then-more"),
         kFast + head(1, 0, 0, 3 * 3600) + word(3) + replyThen(worked, "\x00\x01") + ten);
    seed("fuzz_archive_download", QStringLiteral("day-0-across-midnight"),
         kSlow + head(1, 0, 0, -3600) + word(3) + registerReply(QByteArray::fromHex("18 03 00 00 10 00 00 00 48 41")));
}

// A configuration reply (fuzz_peer.h kind 10): unit 01, result 00, the chunk.
QByteArray configReply(const QByteArray& data, int kind = kGood, const QByteArray& how = arrival())
{
    return u8(kind) + u8(0) + chunk(data) + how;
}
// The same with a counting run of n bytes from `first`.
QByteArray configRun(int n, int first) { return u8(kGood) + u8(4) + u8(n) + u8(first) + arrival(); }

void configTransfers()
{
    // mode (0 upload, 1 test configuration upload, 2 download), bytes for the
    // reply checks, then (download) the text, then the replies.
    const QByteArray noCheck = u8(0);
    const QByteArray ok = configReply({});
    const QByteArray text = "{\n  \"name\": \"" + QByteArray(220, 'q') + "\"\n}\n";
    seed("fuzz_config_transfer", QStringLiteral("upload-100-100-37-0"),
         kSlow + u8(0) + noCheck + ok + configReply(text.mid(0, 100)) + configReply(text.mid(100, 100))
             + configReply(text.mid(200)) + ok);
    seed("fuzz_config_transfer", QStringLiteral("test-upload-behind-echo"),
         kSlow + u8(1) + noCheck + ok + configReply("{}", kEcho) + configReply({}, kEcho));
    seed("fuzz_config_transfer", QStringLiteral("upload-chunk-announces-more"),
         kSlow + u8(0) + chunk(QByteArray::fromHex("00 01 5A")) + ok + u8(kRaw) + u16(32)
             + QByteArray::fromHex("01 00 1E") + QByteArray(29, 'a') + arrival());
    QByteArray full = u8(0) + noCheck + ok;
    for (int i = 0; i < 196; ++i)
        full += configRun(255, i);
    seed("fuzz_config_transfer", QStringLiteral("upload-49999"), kSlow + full + configRun(19, 7) + ok);
    seed("fuzz_config_transfer", QStringLiteral("upload-does-not-fit"), kSlow + full + configRun(20, 7));
    seed("fuzz_config_transfer", QStringLiteral("fast-upload-100-100-37-0"),
         kFast + u8(0) + noCheck + ok + configReply(text.mid(0, 100)) + configReply(text.mid(100, 100))
             + configReply(text.mid(200)) + ok);
    seed("fuzz_config_transfer", QStringLiteral("download-41"),
         kSlow + u8(2) + noCheck + u8(0) + chunk("{\"a\": 1, \"b\": [1, 2, 3], \"c\": \"text\"}\r\n") + ok + ok + ok
             + ok);
    seed("fuzz_config_transfer", QStringLiteral("download-next-00-00"),
         kSlow + u8(2) + noCheck + u8(0) + chunk(QByteArray(41, 'x')) + ok + u8(kRaw) + u16(2) + QByteArray(2, '\0')
             + arrival());
    QByteArray longDownload = u8(2) + noCheck + u8(1) + u16(49999) + u8(32);
    for (int i = 0; i < 1252; ++i)
        longDownload += ok;
    seed("fuzz_config_transfer", QStringLiteral("download-49999"), kSlow + longDownload);
    seed("fuzz_config_transfer", QStringLiteral("download-50000"),
         kSlow + u8(2) + noCheck + u8(1) + u16(50000) + u8(32));
}

void scriptUps()
{
    // frame fill, then up to three read-backs and their replies.
    seed("fuzz_script_up", QStringLiteral("one-byte-11"), kSlow + u8(0) + registerReply("a"));
    seed("fuzz_script_up", QStringLiteral("script-zero-inside"),
         kSlow + u8(0x41) + registerReply(QByteArray("set 1\r\n\0run\r\n", 13)));
    seed("fuzz_script_up", QStringLiteral("ten-bytes-then-silence"),
         kSlow + u8(0x41) + u8(kRaw) + u16(10) + QByteArray::fromHex("05 64 04 00 C3 56 0E 06 12 34") + arrival()
             + silence());
    seed("fuzz_script_up", QStringLiteral("behind-echo"), kSlow + u8(0) + registerReply("abc", kEcho));
    seed("fuzz_script_up", QStringLiteral("longest"), kSlow + u8(0) + registerReply(QByteArray(990, 's')));
    // Fast replies: the bytes after the stated end are in no script.
    seed("fuzz_script_up", QStringLiteral("fast-then-more"),
         kFast + u8(0) + replyThen("set 1\r\n", "run\r\n") + replyThen("abc", "d", arrival(0, {14}, 1), true));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    root = QString::fromLocal8Bit(argv[1]);
    logRecords();
    logSpans();
    archive();
    polls();
    configTexts();
    scripts();
    controllerRuns();
    registerReads();
    logDownloads();
    archiveDownloads();
    configTransfers();
    scriptUps();
    std::printf("%d seeds written under %s\n", written, argv[1]);
    return 0;
}
