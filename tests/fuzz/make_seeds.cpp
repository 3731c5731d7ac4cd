// Writes the seed inputs of every fuzz target into FOLDER/<target>/seed-<name>:
// the worked examples of the tests and of the emulated controller, laid out as
// each target reads its input. Run by `scripts/fuzz --seeds`; the seeds are
// committed under tests/fuzz/corpus/.
#include "config_link.h"
#include "controller.h"
#include "register_link.h"
#include "sim_options.h"

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
        {"last100-c150-b150", 2, 0, 150, 150, 2000}, {"last10-full-b3", 1, 0, 3, 2000, 2000},
        {"last10-c5", 1, 0, 5, 5, 2000},             {"index30-c20", 4, 30, 20, 20, 2000},
        {"index4-full-b2", 4, 4, 2, 2000, 2000},     {"one-3", 5, 3, 150, 150, 2000},
        {"last100-c-over-m", 2, 0, 20, 150, 100},    {"none", 0, 0, 150, 150, 2000},
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
    seed("fuzz_archive", QStringLiteral("worked-utc-last10"), worked + i32(0) + i32(7) + u16(10) + u8(1) + i32(0) + i32(1001));
    seed("fuzz_archive", QStringLiteral("worked-plus3h-index10"), worked + i32(3 * 3600) + i32(7) + u16(5) + u8(4) + i32(10) + i32(2002));
    seed("fuzz_archive", QStringLiteral("new-year-plus3h-last500"), newYear + i32(3 * 3600) + i32(1000) + u16(0) + u8(3) + i32(0) + i32(5));
    seed("fuzz_archive", QStringLiteral("undated-minus5h-one"), undated + i32(-5 * 3600) + i32(1000) + u16(5) + u8(5) + i32(3) + i32(-1));
    seed("fuzz_archive", QStringLiteral("feb29-minus5h-index2500"),
         QByteArray::fromHex("18 03 01 03 00 00 00 00 80 3F") + i32(-5 * 3600) + i32(0) + u16(10) + u8(4) + i32(2500) + i32(0));
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
    seed("fuzz_poll_answer", QStringLiteral("day-not-integer"), poll(1, 0, 1, 1, 1, tenNine, chunk("1.5") + chunk("0") + chunk("0")));
    seed("fuzz_poll_answer", QStringLiteral("offset-too-large"), poll(9, 0, 1, 1, 1, 0, chunk("28") + chunk("3600") + chunk("0")));
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
    seed("fuzz_config_text", QStringLiteral("mixed-line-ends"), "a\nb\r\nc\rd\xE2\x80\xA9" "e\n\r");
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
        const std::size_t n = read ? BuildConfigReadFrame(0, frame, p, static_cast<std::size_t>(bytes.size()), address, {})
                                   : BuildConfigFrame(0, frame, p, static_cast<std::size_t>(bytes.size()), address, {});
        return raw(QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(n)));
    };
    const auto script = [&](const QByteArray& bytes) {
        FrameBuffer frame{};
        const std::size_t n = BuildRegDataRequest(frame, reg::kScriptDown, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
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
         settings + script("set 1\r\nrun\r\n") + reg(reg::kScriptUp) + script(QByteArray(986, 's')) + reg(reg::kScriptUp));
    seed("fuzz_sim_controller", QStringLiteral("config-upload"),
         settings + cmd(cfg::kStatusQuery) + cmd(cfg::kUploadConfig) + data(true, "\x01", 0) + data(true, "\x01", 100)
             + data(true, "\x01", 700) + cmd(cfg::kUploadTestConfig) + data(true, "\x01", 0));
    seed("fuzz_sim_controller", QStringLiteral("config-download"),
         settings + cmd(cfg::kDownloadStart) + data(false, "{\"a\": 1}", 0) + data(false, "\r\n", 8) + cmd(cfg::kDownloadStop)
             + cmd(cfg::kDownloadStop) + cmd(cfg::kSetTestMode));
    seed("fuzz_sim_controller", QStringLiteral("reboot-silence"),
         settings + cmd(cfg::kReboot) + cmd(cfg::kStatusQuery) + cmd(cfg::kStatusQuery, 10) + reg(reg::kLogCount));
    seed("fuzz_sim_controller", QStringLiteral("built-frames"),
         settings + u8(1) + u8(0) + QByteArray::fromHex("1C 06 00 00 00 00") + u16(0) + u8(2) + u8(0) + u8(6)
             + u16(0) + u8(0x37) + u8(0));
    // A split fault on every reply, then one request.
    seed("fuzz_sim_controller", QStringLiteral("fault-split"),
         u16(1999) + u8(30) + u16(59) + u8(12) + u8(100) + u8(10) + u8(50) + u8(0) + u8(1 | (4 << 1)) + u16(5) + u8(10)
             + u8(0) + u8(0) + reg(reg::kLogCount));
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
    std::printf("%d seeds written under %s\n", written, argv[1]);
    return 0;
}
