// The emulated controller as a pure state machine: hand-written request bytes in,
// reply bytes and state out.
#include "protocol/checksum.h"
#include "sim/controller.h"
#include "sim/controller_polls.h"
#include "sim/sim_options.h"
#include "tests/support/test_support.h"

#include <QRegularExpression>
#include <QTest>

#include <chrono>
#include <cstring>

using namespace tessavin;
using namespace tessavin::sim;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(tessavin::sim::Fault)

namespace {

using tessavin::test::hex;
QByteArray spaced(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }

bool frameChecksumOk(const QByteArray& bytes, qsizetype from, qsizetype count)
{
    return from + count + 2 <= bytes.size()
        && tessavin::ChecksumMatches(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + from,
                                     static_cast<std::size_t>(count));
}

const QByteArray kCountRequest = hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 47");
const QByteArray kRecord291Request = hex("05 64 08 00 46 F7 1A 06 23 01 01 00 D1 F5");
const QByteArray kBeginRequest = hex("05 64 08 00 46 F7 19 06 00 00 00 00 8A 12");
const QByteArray kUpScriptRequest = hex("05 64 08 00 46 F7 0E 06 00 00 00 00 89 35");
const QByteArray kDownScriptAbc = hex("05 64 0B 00 46 07 0C 0C 00 00 03 00 61 62 63 23 32");
const QByteArray kIdentRequest = hex("05 64 08 00 46 F7 2C 06 00 00 00 00 8F B7");
const QByteArray kPressRequest = hex("05 64 08 00 46 F7 2D 06 00 00 00 00 8E 66");
const QByteArray kClearLogRequest = hex("05 64 08 00 46 F7 1B 06 00 00 00 00 8B F0");
const QByteArray kStartLogRequest = hex("05 64 08 00 46 F7 33 06 00 00 00 00 8D D8");
const QByteArray kStopLogRequest = hex("05 64 08 00 46 F7 34 06 00 00 00 00 8C 6F");
const QByteArray kRegistrationRequest = hex("05 64 08 00 46 F7 5D 06 00 00 00 00 85 56");

const QByteArray kStatusCommand = hex("05 64 03 0B 01 06 00 00 00 37 C8 1C");
const QByteArray kUploadCommand = hex("05 64 03 0B 01 06 00 00 00 3D 48 1B");
const QByteArray kStartCommand = hex("05 64 03 0B 01 06 00 00 00 15 48 05");
const QByteArray kStopCommand = hex("05 64 03 0B 01 06 00 00 00 17 C9 C4");
const QByteArray kRebootCommand = hex("05 64 03 0B 01 06 00 00 00 63 C9 E3");
const QByteArray kSetTestCommand = hex("05 64 03 0B 01 06 00 00 00 36 09 DC");
const QByteArray kUploadTestCommand = hex("05 64 03 0B 01 06 00 00 00 18 89 C0");

// A controller whose log holds 300 records, record 291 being a known one.
Controller controllerWithKnownLog()
{
    Controller c;
    c.state().eventLog.reset(2000);
    for (int i = 0; i < 300; ++i)
        c.state().eventLog.appendText(i == 291 ? QByteArray(">2024/01/02 03:04:05 AT+X\r") : QByteArray("<x"));
    c.state().eventLog.count = 291; // as if the oldest records had been read out
    c.state().eventLog.begin = 7;
    c.state().script = "abc";
    c.state().archive.begin = 0;
    c.state().archive.append(2024, 3, 5, 14, 7, 9, 12.5f);
    c.state().archive.begin = 11;
    return c;
}

} // namespace

class TestSimController : public QObject {
    Q_OBJECT

private slots:
    void registerReplies_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        // Count 291: the 12-byte word reply of the worked example.
        QTest::newRow("count 05 64 08 00 46 F7 1C") << kCountRequest << hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        QTest::newRow("record 291 05 64 08 00 46 F7 1A 06 23 01")
            << kRecord291Request
            << hex("05 64 1E 00 48 97 1A 06 3E 32 30 32 34 2F 30 31 2F 30 32 20 30 33 3A 30 34 3A 30 35 20 41 54 2B 58 "
                   "0D 47 9B");
        QTest::newRow("begin 05 64 08 00 46 F7 19") << kBeginRequest << hex("05 64 06 00 42 97 19 06 07 00 E5 49");
        QTest::newRow("up script 05 64 08 00 46 F7 0E")
            << kUpScriptRequest << hex("05 64 07 00 43 07 0E 06 61 62 63 75 DE");
        QTest::newRow("ident 05 64 08 00 46 F7 2C")
            << kIdentRequest << hex("05 64 08 00 46 F7 2C 06 D2 04 00 00 F7 0E");
        QTest::newRow("press 05 64 08 00 46 F7 2D")
            << kPressRequest << hex("05 64 08 00 46 F7 2D 06 00 00 C0 3F 9E 76");
        QTest::newRow("down script abc 05 64 0B 00 46 07 0C 0C")
            << kDownScriptAbc << hex("05 64 06 00 42 97 0C 0C 03 00 C3 87");
        // Archive slot 0 holds 2024-03-05 14:07:09, 12.5.
        QTest::newRow("archive record 0 05 64 08 00 46 F7 5C 06 00 00 01 00")
            << hex("05 64 08 00 46 F7 5C 06 00 00 01 00 85 17")
            << hex("05 64 0E 00 45 57 5C 06 18 03 05 0E 07 09 00 00 48 41 3A AC");
    }

    void registerReplies()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        Controller c = controllerWithKnownLog();
        const Reply r = c.handle(request);
        QCOMPARE(r.parts.size(), std::size_t(1));
        QCOMPARE(r.parts[0].pauseBefore, 0ms);
        QCOMPARE(spaced(r.bytes()), spaced(reply));
    }

    void registerCommandsChangeState()
    {
        Controller c = controllerWithKnownLog();
        auto& s = c.state();

        QVERIFY(!c.handle(kDownScriptAbc).silent());
        QCOMPARE(s.script, QByteArray("abc"));
        QCOMPARE(s.scriptStores, 1);

        // 0x19 is the log's begin request and "clear script" alike: answered with the
        // begin, the script kept, the request counted.
        QVERIFY(!c.handle(kBeginRequest).silent());
        QCOMPARE(s.logBeginRequests, 1);
        QCOMPARE(s.script, QByteArray("abc"));

        QVERIFY(!c.handle(kRegistrationRequest).silent());
        QVERIFY(s.registered);

        QVERIFY(!c.handle(kClearLogRequest).silent());
        QCOMPARE(s.eventLog.count, 0);
        QCOMPARE(s.eventLog.begin, 0);
        QCOMPARE(s.logClears, 1);
        QCOMPARE(spaced(c.handle(kCountRequest).bytes()), spaced(hex("05 64 06 00 42 97 1C 06 00 00 E7 B5")));
        // A cleared slot reads as an empty record (L = 4).
        QCOMPARE(c.handle(kRecord291Request).bytes().size(), 10);
    }

    void loggingAppendsRecordsWhileOn()
    {
        ControllerSettings settings;
        settings.logRecords = 5;
        settings.loggingInterval = 100ms;
        Controller c(settings);
        const auto t0 = SimClock::now();
        c.tick(t0 + 1s);
        QCOMPARE(c.state().eventLog.count, 5); // logging is off at start

        QVERIFY(!c.handle(kStartLogRequest, t0).silent());
        QVERIFY(c.state().logging);
        c.tick(t0 + 50ms);
        QCOMPARE(c.state().eventLog.count, 5);
        c.tick(t0 + 100ms);
        c.tick(t0 + 150ms);
        c.tick(t0 + 200ms);
        QCOMPARE(c.state().eventLog.count, 7);
        const QByteArray newest = c.state().eventLog.at(c.state().eventLog.begin - 1);
        QVERIFY2(newest.size() > 21 && newest[5] == '/' && newest[11] == ' ' && newest[20] == ' ', newest.constData());

        QVERIFY(!c.handle(kStopLogRequest, t0 + 200ms).silent());
        c.tick(t0 + 10s);
        QCOMPARE(c.state().eventLog.count, 7);
        QCOMPARE(c.state().loggingAppended, 2);
    }

    void requestsWithBadFramesAreNotAnswered_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("count with wrong body checksum") << hex("05 64 08 00 46 F7 1C 06 00 00 00 00 8A 48");
        QTest::newRow("count with wrong header checksum") << hex("05 64 08 00 47 F7 1C 06 00 00 00 00 8A 47");
        QTest::newRow("count cut short") << hex("05 64 08 00 46 F7 1C 06 00 00");
        QTest::newRow("unknown command 0x77") << hex("05 64 08 00 46 F7 77 06 00 00 00 00 82 9C");
        QTest::newRow("status with wrong checksum") << hex("05 64 03 0B 01 06 00 00 00 37 C8 1D");
        QTest::newRow("garbage") << hex("13 37 00 FF");
        QTest::newRow("nothing") << QByteArray();
    }

    void requestsWithBadFramesAreNotAnswered()
    {
        QFETCH(QByteArray, request);
        Controller c;
        const Reply r = c.handle(request);
        QVERIFY(r.silent());
        QVERIFY(!r.note.isEmpty());
        QCOMPARE(c.state().requestsRejected, 1);
    }

    void configurationUploadInChunks_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("testConfiguration");
        QTest::newRow("upload 61") << kUploadCommand << false;
        QTest::newRow("upload test 24") << kUploadTestCommand << true;
    }

    void configurationUploadInChunks()
    {
        QFETCH(QByteArray, command);
        QFETCH(bool, testConfiguration);
        Controller c;
        QByteArray text(237, '\0');
        for (int i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>('a' + i % 26);
        (testConfiguration ? c.state().testConfiguration : c.state().configuration) = text;
        (testConfiguration ? c.state().configuration : c.state().testConfiguration) = "the other one";

        QCOMPARE(spaced(c.handle(command).bytes()), spaced(hex("01 00 00 20 00")));
        const struct {
            const char* request;
            int offset;
            int length;
        } steps[] = {
            {"05 64 03 0B 01 11 00 00 00 01 00 09 11", 0, 100},
            {"05 64 03 0B 01 11 00 64 00 01 00 16 21", 100, 100},
            {"05 64 03 0B 01 11 00 C8 00 01 00 37 71", 200, 37},
            {"05 64 03 0B 01 11 00 ED 00 01 00 3C 7D", 237, 0},
        };
        for (const auto& step : steps) {
            const QByteArray reply = c.handle(hex(step.request)).bytes();
            QCOMPARE(reply.size(), step.length + 5);
            QCOMPARE(spaced(reply.left(3)), spaced(QByteArray("\x01\x00", 2) + QByteArray(1, char(step.length))));
            QCOMPARE(reply.mid(3, step.length), text.mid(step.offset, step.length));
            QVERIFY(frameChecksumOk(reply, 0, reply.size() - 2));
        }
        QCOMPARE(spaced(c.handle(hex("05 64 03 0B 01 11 00 ED 00 01 00 3C 7D")).bytes()),
                 spaced(hex("01 00 00 20 00")));
    }

    void configurationDownloadStoresText()
    {
        Controller c;
        const QByteArray text = "0123456789abcdefghijklmnopqrstuvwxyzABCDE"; // 41 bytes
        QCOMPARE(text.size(), 41);
        const QByteArray ok = hex("01 00 00 20 00");
        QCOMPARE(spaced(c.handle(kStartCommand).bytes()), spaced(ok));
        QVERIFY(c.state().downloadActive);
        QCOMPARE(spaced(c.handle(hex("05 64 03 0B 01 10 00 00 00 28 30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 67 "
                                     "68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 41 42 43 44 CC 77"))
                            .bytes()),
                 spaced(ok));
        QCOMPARE(spaced(c.handle(hex("05 64 03 0B 01 10 00 28 00 01 45 C0 93")).bytes()), spaced(ok));
        QVERIFY(c.state().configuration != text); // stored only at STOP
        QCOMPARE(spaced(c.handle(kStopCommand).bytes()), spaced(ok));
        QCOMPARE(c.state().configuration, text);
        QCOMPARE(c.state().downloadsStored, 1);

        // The stored text is what the next upload sends.
        c.state().chunkSize = 100;
        c.handle(kUploadCommand);
        QCOMPARE(c.handle(hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")).bytes().mid(3, 41), text);

        // A STOP without START stores nothing and says so in the result code.
        QCOMPARE(c.handle(kStopCommand).bytes().at(1), char(1));
        QCOMPARE(c.state().downloadsStored, 1);
    }

    void rebootAnswersThenStaysSilent()
    {
        Controller c;
        c.state().rebootSilence = 2s;
        const auto t0 = SimClock::now();
        QCOMPARE(spaced(c.handle(kRebootCommand, t0).bytes()), spaced(hex("01 00 00 20 00")));
        QCOMPARE(c.state().rebootCount, 1);
        QVERIFY(c.handle(kStatusCommand, t0 + 10ms).silent());
        QVERIFY(c.handle(kCountRequest, t0 + 1999ms).silent());
        QVERIFY(!c.handle(kStatusCommand, t0 + 2s).silent());
    }

    void faultsShapeTheReply_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected"); // parts joined
        QTest::addColumn<int>("parts");
        QTest::addColumn<int>("firstPauseMs");
        const QByteArray word291 = hex("05 64 06 00 42 97 1C 06 23 01 3F 45");
        QTest::newRow("silence") << int(FaultKind::Silence) << -1 << kCountRequest << QByteArray() << 0 << 0;
        QTest::newRow("bad header checksum") << int(FaultKind::BadHeaderChecksum) << -1 << kCountRequest
                                             << hex("05 64 06 00 43 97 1C 06 23 01 3F 45") << 1 << 0;
        QTest::newRow("bad body checksum") << int(FaultKind::BadBodyChecksum) << -1 << kCountRequest
                                           << hex("05 64 06 00 42 97 1C 06 23 01 3E 45") << 1 << 0;
        QTest::newRow("truncated to 7") << int(FaultKind::Truncated) << 7 << kCountRequest << word291.left(7) << 1 << 0;
        QTest::newRow("truncated by default to half")
            << int(FaultKind::Truncated) << -1 << kCountRequest << word291.left(6) << 1 << 0;
        QTest::newRow("trailing garbage")
            << int(FaultKind::TrailingGarbage) << -1 << kCountRequest << word291 + hex("A5 5A FF") << 1 << 0;
        QTest::newRow("split") << int(FaultKind::Split) << 4 << kCountRequest << word291 << 2 << 0;
        QTest::newRow("slow turnaround") << int(FaultKind::SlowTurnaround) << -1 << kCountRequest << word291 << 1
                                         << 500;
        QTest::newRow("config status bad checksum")
            << int(FaultKind::BadBodyChecksum) << -1 << kStatusCommand << hex("01 00 00 21 00") << 1 << 0;
        QTest::newRow("config status truncated to 1")
            << int(FaultKind::Truncated) << 1 << kStatusCommand << hex("01") << 1 << 0;
    }

    void faultsShapeTheReply()
    {
        QFETCH(int, kind);
        QFETCH(int, bytes);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QFETCH(int, parts);
        QFETCH(int, firstPauseMs);
        Controller c = controllerWithKnownLog();
        Fault f;
        f.kind = static_cast<FaultKind>(kind);
        f.bytes = bytes;
        f.times = 1;
        c.addFault(f);
        const Reply r = c.handle(request);
        QCOMPARE(int(r.parts.size()), parts);
        QCOMPARE(spaced(r.bytes()), spaced(expected));
        if (parts > 0)
            QCOMPARE(r.parts[0].pauseBefore, std::chrono::milliseconds(firstPauseMs));
        if (parts == 2) {
            QCOMPARE(r.parts[0].bytes.size(), 4);
            // Longer than the 60 ms at which the application takes a reply as ended.
            QVERIFY(r.parts[1].pauseBefore > 60ms);
        }
        QVERIFY(r.note.contains("fault"));
        // One use only: the next reply is clean.
        QCOMPARE(c.faults().size(), std::size_t(0));
        QCOMPARE(c.handle(request).parts.size(), std::size_t(1));
    }

    void faultsFollowTheirTargetAndCount()
    {
        Controller c;
        c.state().deviceNumber = 1234;
        c.addFault({FaultKind::Silence, FaultTarget::registerCommand(reg::kPressure), 2, -1, -1ms});
        QVERIFY(!c.handle(kIdentRequest).silent());
        QVERIFY(c.handle(kPressRequest).silent());
        QVERIFY(!c.handle(kStatusCommand).silent());
        QVERIFY(c.handle(kPressRequest).silent());
        QVERIFY(!c.handle(kPressRequest).silent());

        // Configuration targets: a command code, a data function.
        c.addFault({FaultKind::Silence, FaultTarget::configCommand(cfg::kReboot), -1, -1, -1ms});
        c.addFault({FaultKind::Truncated, FaultTarget::configFunction(cfg::kFunctionRead), -1, 2, -1ms});
        QVERIFY(!c.handle(kStatusCommand).silent());
        QVERIFY(c.handle(kRebootCommand).silent());
        QCOMPARE(c.state().rebootCount, 1); // the controller acted; only its reply was lost
        c.state().silentUntil.reset();
        c.handle(kUploadCommand);
        QCOMPARE(c.handle(hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")).bytes().size(), 2);
        QCOMPARE(c.handle(hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")).bytes().size(), 2); // until removed
        c.clearFaults();
        QCOMPARE(c.handle(hex("05 64 03 0B 01 11 00 00 00 01 00 09 11")).bytes().size(), 105);

        // A reply over 1000 bytes: the register link's length field covers it and both
        // checksums hold, so only the length tells it is impossible.
        c.addFault({FaultKind::Oversized, FaultTarget::any(), 1, -1, -1ms});
        const QByteArray big = c.handle(kIdentRequest).bytes();
        QCOMPARE(big.size(), 1200);
        QCOMPARE(int(std::uint8_t(big[2]) | std::uint8_t(big[3]) << 8), 1194);
        QVERIFY(frameChecksumOk(big, 0, 4));
        QVERIFY(frameChecksumOk(big, 6, 1192));
        QCOMPARE(spaced(big.mid(6, 6)), spaced(hex("2C 06 D2 04 00 00")));
    }

    void defaultRecordsHaveTheRecordLayout()
    {
        // The controller starts with its default log: records of about the asked
        // length in the record layout, in time order, some with CR LF or a lone CR.
        ControllerSettings settings;
        settings.logRecords = 2500;
        Controller c(settings);
        QCOMPARE(c.state().eventLog.count, 2000);
        QCOMPARE(c.state().eventLog.begin, 500);
        const QRegularExpression layout(QStringLiteral("^[<>#]\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d "));
        int withCrLf = 0, withCrOnly = 0;
        QByteArray previous;
        for (const QByteArray& r : DefaultLogRecords(50, 60)) {
            QVERIFY2(r.size() >= 55 && r.size() <= 65 && layout.match(QString::fromLatin1(r)).hasMatch(),
                     r.constData());
            QVERIFY(r.mid(1, 19) > previous);
            previous = r.mid(1, 19);
            withCrLf += r.contains("\r\n");
            withCrOnly += !r.contains("\r\n") && r.contains('\r');
        }
        QVERIFY(withCrLf > 0 && withCrOnly > 0);
    }

    void pollAnswerChecks_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("ok");
        QTest::newRow("report answer 55 05 06 83 43 E8") << 10 << 5 << hex("55 05 06 83 43 E8") << true;
        QTest::newRow("report answer, bad checksum") << 10 << 5 << hex("55 05 06 83 43 E9") << false;
        QTest::newRow("report answer, wrong code 0x81") << 10 << 5 << hex("55 05 06 81 C2 29") << false;
        QTest::newRow("report answer, wrong address") << 10 << 4 << hex("55 05 06 83 43 E8") << false;
        QTest::newRow("report answer, none") << 10 << 5 << QByteArray() << false;
        QTest::newRow("function 7, none due, none came") << 7 << 1 << QByteArray() << true;
        QTest::newRow("function 7 answered") << 7 << 1 << hex("55 01 06 83 02 29") << false;
    }

    void pollAnswerChecks()
    {
        QFETCH(int, function);
        QFETCH(int, address);
        QFETCH(QByteArray, answer);
        QFETCH(bool, ok);
        PollSpec pollSpec;
        pollSpec.function = static_cast<std::uint8_t>(function);
        pollSpec.address = static_cast<std::uint8_t>(address);
        QCOMPARE(CheckPollAnswer(pollSpec, answer).ok(), ok);

        if (function != 10 || address != 5 || !ok)
            return;
        // A date-and-time answer built by hand: day 28, 13:45:30, the answer made over
        // an older poll's bytes (which the check must not mind).
        QByteArray date(165, '\x5A');
        const std::uint8_t fixed[][2] = {{0, 0x55}, {1, 1},   {2, 165}, {3, 0x81}, {4, 1},  {56, 8},    {57, 28},
                                         {58, 17},  {59, 13}, {60, 45}, {61, 30},  {62, 9}, {63, 0x26}, {69, 0x0B}};
        for (const auto& f : fixed)
            date[f[0]] = static_cast<char>(f[1]);
        tessavin::AppendChecksum(reinterpret_cast<std::uint8_t*>(date.data()), 163);
        PollSpec dateSpec;
        const PollResult r = CheckPollAnswer(dateSpec, date, 13 * 3600 + 46 * 60 + 45);
        QVERIFY(r.ok());
        QCOMPARE(r.day, 28);
        QCOMPARE(r.hour, 13);
        QCOMPARE(r.minute, 45);
        QCOMPARE(r.second, 30);
        QCOMPARE(r.clockOffsetSeconds.value_or(0), -75);
        date[62] = 10;
        tessavin::AppendChecksum(reinterpret_cast<std::uint8_t*>(date.data()), 163);
        QVERIFY(!CheckPollAnswer(dateSpec, date).ok());
    }

    void faultSpecs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<Fault>("fault");
        using T = FaultTarget;
        QTest::newRow("silence") << "silence" << true << Fault{};
        QTest::newRow("split:reg=0x1A,times=3,bytes=6,pause=200")
            << "split:reg=0x1A,times=3,bytes=6,pause=200" << true
            << Fault{FaultKind::Split, T::registerCommand(0x1A), 3, 6, 200ms};
        QTest::newRow("slow:cfg=99") << "slow:cfg=99" << true << Fault{FaultKind::SlowTurnaround, T::configCommand(99)};
        QTest::newRow("truncated:fn=17,bytes=2")
            << "truncated:fn=17,bytes=2" << true << Fault{FaultKind::Truncated, T::configFunction(17), -1, 2};
        QTest::newRow("oversized,bytes=1500")
            << "oversized,bytes=1500" << true << Fault{FaultKind::Oversized, T::any(), -1, 1500};
        QTest::newRow("unknown target") << "silence:port=1" << false << Fault{};
        QTest::newRow("target out of range") << "silence:reg=300" << false << Fault{};
        QTest::newRow("no such data function") << "truncated:fn=5" << false << Fault{};
        QTest::newRow("bad setting") << "split,times=x" << false << Fault{};
    }

    void faultSpecs()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(Fault, fault);
        QString error;
        const auto f = ParseFault(text, &error);
        QCOMPARE(f.has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (!f)
            return;
        QCOMPARE(int(f->kind), int(fault.kind));
        QCOMPARE(int(f->target.scope), int(fault.target.scope));
        QCOMPARE(f->target.code, fault.target.code);
        QCOMPARE(f->times, fault.times);
        QCOMPARE(f->bytes, fault.bytes);
        QCOMPARE(f->pause.count(), fault.pause.count());
    }

    // Line noise on the replies: what 200 record requests meet, by noise and
    // seed. Each seed's noise comes again; the request itself is never spoiled.
    void lineNoise_data()
    {
        QTest::addColumn<QString>("flip");
        QTest::addColumn<QString>("drop");
        QTest::addColumn<bool>("changed"); // some replies have flipped bits
        QTest::addColumn<bool>("dropped"); // some replies are missing
        QTest::addColumn<bool>("valid");
        QTest::newRow("quiet") << "0"
                               << "0" << false << false << true;
        QTest::newRow("--noise 0.01") << "0.01"
                                      << "0" << true << false << true;
        QTest::newRow("--drop 1e-1") << "0"
                                     << "1e-1" << false << true << true;
        QTest::newRow("--noise 0.2: refused") << "0.2"
                                              << "0" << false << false << false;
        QTest::newRow("--drop x: refused") << "0"
                                           << "x" << false << false << false;
    }

    void lineNoise()
    {
        QFETCH(QString, flip);
        QFETCH(QString, drop);
        QFETCH(bool, changed);
        QFETCH(bool, dropped);
        QFETCH(bool, valid);
        const auto f = ParseNoiseProbability(flip), d = ParseNoiseProbability(drop);
        QCOMPARE(f && d, valid);
        if (!f || !d)
            return;
        Controller quiet, noisy, again;
        noisy.setLineNoise({*f, *d, 7});
        again.setLineNoise({*f, *d, 7});
        int changes = 0, drops = 0;
        for (int i = 0; i < 200; ++i) {
            const QByteArray expected = quiet.handle(kRecord291Request).bytes();
            const Reply reply = noisy.handle(kRecord291Request);
            QCOMPARE(again.handle(kRecord291Request).bytes(), reply.bytes());
            drops += reply.silent() ? 1 : 0;
            changes += !reply.silent() && reply.bytes() != expected ? 1 : 0;
        }
        QCOMPARE(changes > 0, changed);
        QCOMPARE(drops > 0, dropped);
        QCOMPARE(noisy.state().requestsRejected, 0);
    }

    void pollSpecs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("poll"); // empty: refused
        QTest::newRow("1,addr=1") << "1,addr=1" << hex("AA 01 08 01 00 00 76 71");
        QTest::newRow("10,addr=0x05,strand=3,fill=2") << "10,addr=0x05,strand=3,fill=2" << hex("FF FF AA 05 24 0A 03");
        QTest::newRow("1,addr=010 (decimal)") << "1,addr=010" << hex("AA 0A 08 01");
        QTest::newRow("1,fill=497") << "1,fill=497" << QByteArray(497, '\xFF') + hex("AA 01 08 01");
        QTest::newRow("1,fill=498 (its head would be lost)") << "1,fill=498" << QByteArray();
        QTest::newRow("10,addr=0xAA,start=0xFF (a fill byte)") << "10,addr=0xAA,start=0xFF" << QByteArray();
        QTest::newRow("10,start=0x55") << "10,start=0x55" << hex("55 01 24 0A 01");
        QTest::newRow("2,addr=300") << "2,addr=300" << QByteArray();
        QTest::newRow("x") << "x" << QByteArray();
    }

    void pollSpecs()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, poll);
        const auto pollSpec = ParsePoll(text);
        QCOMPARE(pollSpec.has_value(), !poll.isEmpty());
        if (pollSpec)
            QCOMPARE(spaced(BuildPoll(*pollSpec).left(poll.size())), spaced(poll));
    }
};

QTEST_GUILESS_MAIN(TestSimController)
#include "tst_sim_controller.moc"
