// The archive without the line: ring positions, the shift to local time, impossible
// stamps and the line formats; the chart's layout of a known series. The record
// loop, the worked record and the zone cases of the computer are tested through
// the window.
#include "features/archive.h"
#include "report/archive_chart.h"

#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstdio>

using namespace tessavin;

Q_DECLARE_METATYPE(tessavin::RecordChoice)
Q_DECLARE_METATYPE(tessavin::ArchiveStampError)

namespace {

constexpr long long kHour = 3600;

// Archive lines from 2024-03-05 00:00 on, one per hour given; hour -1 is an
// undated record. Indexes count from 10.
std::vector<ArchiveLine> hourlyLines(const QList<int>& hours, const QList<double>& values)
{
    std::vector<ArchiveLine> lines;
    for (int i = 0; i < hours.size(); ++i) {
        ArchiveLine line;
        line.index = 10 + i;
        line.record.value = float(values[i]);
        if (hours[i] >= 0) {
            line.record.yearByte = 24;
            line.stamp = {2024, 3, 5 + hours[i] / 24, hours[i] % 24, 0, 0};
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

private slots:
    // ---- ring positions ----

    void rangeFromBegin_data()
    {
        QTest::addColumn<int>("begin");
        QTest::addColumn<RecordChoice>("choice");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");

        QTest::newRow("B=1001 Last10") << 1001 << RecordChoice::Last10 << 0 << 991 << 10;
        QTest::newRow("B=600 Last500") << 600 << RecordChoice::Last500 << 0 << 100 << 500;
        QTest::newRow("B=50 Last100") << 50 << RecordChoice::Last100 << 0 << 951 << 100;
        QTest::newRow("B=300 Index 30") << 300 << RecordChoice::Index << 30 << 270 << 30;
        QTest::newRow("B=10 Index 2500 (beyond the ring)") << 10 << RecordChoice::Index << 2500 << 510 << 2500;
        QTest::newRow("Index 0 reads nothing") << 10 << RecordChoice::Index << 0 << 0 << 0;
        QTest::newRow("Index -4 reads nothing") << 10 << RecordChoice::Index << -4 << 0 << -4;
        QTest::newRow("One") << 10 << RecordChoice::One << 0 << 0 << 1;
        QTest::newRow("nothing ticked") << 10 << RecordChoice::None << 0 << 0 << 0;
        QTest::newRow("B=10 From 5") << 10 << RecordChoice::From << 5 << 5 << 5;
        QTest::newRow("B=10 From 500 wraps") << 10 << RecordChoice::From << 500 << 500 << 511;
        QTest::newRow("B=10 From 10: the whole ring") << 10 << RecordChoice::From << 10 << 10 << 1001;
        QTest::newRow("From 1001: nothing") << 10 << RecordChoice::From << 1001 << 1001 << 0;
    }

    void rangeFromBegin()
    {
        QFETCH(int, begin);
        QFETCH(RecordChoice, choice);
        QFETCH(int, n);
        QFETCH(int, start);
        QFETCH(int, count);
        const RecordSpan range = ChooseArchiveSpan(ArchiveNewestIndex(begin), choice, n);
        QCOMPARE(range.first, static_cast<long long>(start));
        QCOMPARE(range.count, count);
    }

    // ---- lines ----

    // An undated record keeps its raw fields, however impossible; a five-digit index.
    void undatedRecordLine()
    {
        const std::uint8_t bytes[] = {0x00, 0x02, 0x1F, 0x19, 0x3C, 0x00, 0xCD, 0xCC, 0xFC, 0xC0};
        const ArchiveRecord record = DecodeArchiveRecord(bytes);
        const ShiftedStamp s = ShiftArchiveStamp(record, 3 * kHour);
        QCOMPARE(s.error, ArchiveStampError::None);
        QCOMPARE(ArchiveMemoLine(1000, s.stamp, record.value), std::string(" 1000    0:02:31 25:60:00:  -7.900\n"));
        QCOMPARE(ArchiveFileLine(s.stamp, record.value), std::string("   0:02:31 25:60:00:  -7.900\r\n"));
    }

    void valueFormatMatchesPrintf_data()
    {
        QTest::addColumn<float>("value");
        QTest::newRow("-0") << -0.0f;
        QTest::newRow("0.0005 (rounding)") << 0.0005f;
        QTest::newRow("-0.0004") << -0.0004f;
        QTest::newRow("2.0625 (tie)") << 2.0625f;
        QTest::newRow("123456.789") << 123456.789f;
        QTest::newRow("largest float") << std::numeric_limits<float>::max();
        QTest::newRow("lowest float") << std::numeric_limits<float>::lowest();
        QTest::newRow("smallest subnormal") << std::numeric_limits<float>::denorm_min();
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity();
        QTest::newRow("-infinity") << -std::numeric_limits<float>::infinity();
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN();
    }

    void valueFormatMatchesPrintf()
    {
        QFETCH(float, value);
        const RecordStamp stamp{2024, 3, 5, 14, 7, 9};
        // The reference is printf's in the C locale, whatever the machine's is.
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        std::setlocale(LC_NUMERIC, "C");
        char expected[128];
        std::snprintf(expected, sizeof expected, "%4d:%2.2d:%2.2d %2.2d:%2.2d:%2.2d:  %6.3f\r\n", 2024, 3, 5, 14, 7, 9,
                      static_cast<double>(value));
        std::setlocale(LC_NUMERIC, saved.c_str());
        QCOMPARE(ArchiveFileLine(stamp, value), std::string(expected));
    }

    // scripts/deps installs de_DE.UTF-8 for this test.
    void valueFormatIgnoresNumericLocale()
    {
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        bool switched = false;
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "ru_RU.utf8", "fr_FR.UTF-8", "German_Germany.1252", "de-DE"})
            if (std::setlocale(LC_NUMERIC, name)) {
                switched = true;
                break;
            }
        char comma[16] = "";
        std::snprintf(comma, sizeof comma, "%.1f", 0.5);
        const std::string line = ArchiveFileLine({2024, 3, 5, 14, 7, 9}, 12.5f);
        std::setlocale(LC_NUMERIC, saved.c_str());
        if (!switched)
            QSKIP("[locale] no locale with a decimal comma is installed (scripts/deps installs de_DE.UTF-8)");
        QCOMPARE(QByteArray(comma), QByteArray("0,5")); // the locale really took
        QCOMPARE(line, std::string("2024:03:05 14:07:09:  12.500\r\n"));
    }

    // EdVal's text for ONE.
    void truncatedValue_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("-0.5") << -0.5f << "0";
        QTest::newRow("0.999") << 0.999f << "0";
        QTest::newRow("3e9 (beyond 32 bits)") << 3e9f << "3000000000";
        QTest::newRow("largest float") << std::numeric_limits<float>::max()
                                       << "340282346638528859811704183484516925440";
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << "inf";
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << "nan";
        QTest::newRow("nan with its sign bit set")
            << std::copysign(std::numeric_limits<float>::quiet_NaN(), -1.0f) << "nan";
    }

    void truncatedValue()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(TruncatedValueText(value)), text);
    }

    // ---- the shift to local time ----

    void shift_data()
    {
        QTest::addColumn<QByteArray>("record"); // year byte, month, day, hour, minute, second
        QTest::addColumn<long long>("offset");
        QTest::addColumn<QString>("shown"); // empty: the stamp cannot be shown
        QTest::addColumn<ArchiveStampError>("error");

        const auto r = [](int y, int mo, int d, int h, int mi, int s) {
            const char bytes[] = {char(y), char(mo), char(d), char(h), char(mi), char(s)};
            return QByteArray(bytes, 6);
        };
        const auto shown = [&](const char* name, QByteArray record, long long offset, const char* text) {
            QTest::newRow(name) << record << offset << QString::fromLatin1(text) << ArchiveStampError::None;
        };
        const auto refused = [&](const char* name, QByteArray record, long long offset, ArchiveStampError error) {
            QTest::newRow(name) << record << offset << QString() << error;
        };
        shown("UTC", r(24, 3, 5, 14, 7, 9), 0, "2024-03-05 14:07:09");
        shown("+3 h 29 Feb", r(24, 2, 29, 22, 0, 0), 3 * kHour, "2024-03-01 01:00:00");
        shown("+3 h 28 Feb of a common year", r(23, 2, 28, 23, 0, 0), 3 * kHour, "2023-03-01 02:00:00");
        shown("+3 h 28 Feb 2100 (no leap day)", r(100, 2, 28, 23, 0, 0), 3 * kHour, "2100-03-01 02:00:00");
        shown("+3 h ends exactly at midnight", r(24, 3, 5, 21, 0, 0), 3 * kHour, "2024-03-06 00:00:00");
        shown("-5 h back to 29 Feb", r(24, 3, 1, 3, 0, 0), -5 * kHour, "2024-02-29 22:00:00");
        shown("-5 h from 1 Jan 2001 to 2000", r(1, 1, 1, 1, 0, 0), -5 * kHour, "2000-12-31 20:00:00");
        shown("-3:30 back over midnight", r(24, 1, 1, 1, 0, 0), -3 * kHour - 1800, "2023-12-31 21:30:00");
        shown("+5:45 minutes roll the hour", r(24, 6, 30, 23, 20, 0), 5 * kHour + 2700, "2024-07-01 05:05:00");
        shown("+14 h", r(24, 12, 31, 12, 0, 0), 14 * kHour, "2025-01-01 02:00:00");
        shown("-12 h", r(24, 1, 1, 11, 59, 59), -12 * kHour, "2023-12-31 23:59:59");
        shown("year 2255 rolls into 2256", r(255, 12, 31, 23, 0, 0), 3 * kHour, "2256-01-01 02:00:00");
        shown("undated record with impossible fields", r(0, 0, 99, 77, 88, 99), -5 * kHour, "0000-00-99 77:88:99");
        shown("impossible date without day change is shown", r(24, 13, 40, 10, 0, 0), 3 * kHour, "2024-13-40 13:00:00");
        refused("minute 60", r(24, 3, 5, 1, 60, 0), 3 * kHour, ArchiveStampError::TimeEncode);
        refused("second 60", r(24, 3, 5, 1, 0, 60), -5 * kHour, ArchiveStampError::TimeEncode);
        refused("hour 255 with a bad date too", r(24, 0, 0, 255, 0, 0), 3 * kHour, ArchiveStampError::TimeEncode);
        refused("month 0 over midnight", r(24, 0, 5, 23, 0, 0), 3 * kHour, ArchiveStampError::DateEncode);
        refused("month 13 over midnight", r(24, 13, 5, 23, 0, 0), 3 * kHour, ArchiveStampError::DateEncode);
        refused("30 Feb over midnight", r(24, 2, 30, 23, 0, 0), 3 * kHour, ArchiveStampError::DateEncode);
        refused("29 Feb of a common year", r(23, 2, 29, 23, 0, 0), 3 * kHour, ArchiveStampError::DateEncode);
        refused("31 April", r(24, 4, 31, 23, 0, 0), 3 * kHour, ArchiveStampError::DateEncode);
        refused("day 0 back over midnight", r(24, 3, 0, 1, 0, 0), -5 * kHour, ArchiveStampError::DateEncode);
    }

    void shift()
    {
        QFETCH(QByteArray, record);
        QFETCH(long long, offset);
        QFETCH(QString, shown);
        QFETCH(ArchiveStampError, error);
        std::uint8_t bytes[10] = {};
        std::memcpy(bytes, record.constData(), 6);
        const ShiftedStamp s = ShiftArchiveStamp(DecodeArchiveRecord(bytes), offset);
        QCOMPARE(s.error, error);
        if (error == ArchiveStampError::None)
            QCOMPARE(QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", s.stamp.year, s.stamp.month, s.stamp.day,
                                       s.stamp.hour, s.stamp.minute, s.stamp.second),
                     shown);
    }

    // ---- the chart ----

    // Points, joined runs and axis ends of a known series on a 800 x 400 canvas.
    // The span is the whole series unless fromHour/toHour narrow it.
    void chartLayout_data()
    {
        QTest::addColumn<QList<int>>("hours");
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("fromHour");
        QTest::addColumn<int>("toHour");
        QTest::addColumn<int>("points");
        QTest::addColumn<QList<int>>("runs"); // points in each joined run
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("stats");
        const double nan = std::nan("");
        QTest::newRow("five hours in a row")
            << QList<int>{0, 1, 2, 3, 4} << QList<double>{1, 2, 3, 4, 5} << -1 << -1 << 5 << QList<int>{5} << 1.0 << 5.0
            << "min 1.000   max 5.000   mean 3.000   (5 shown)";
        QTest::newRow("hour 2 missing: a gap")
            << QList<int>{0, 1, 3, 4} << QList<double>{0.5, 0.7, 0.2, 0.4} << -1 << -1 << 4 << QList<int>{2, 2} << 0.2
            << 0.7 << "min 0.200   max 0.700   mean 0.450   (4 shown)";
        QTest::newRow("an undated record: no point, a gap")
            << QList<int>{0, 1, -1, 3, 4} << QList<double>{10, 20, 99, 40, 50} << -1 << -1 << 4 << QList<int>{2, 2}
            << 10.0 << 50.0 << "min 10.000   max 50.000   mean 30.000   (4 shown)";
        QTest::newRow("not a number: no point, a gap")
            << QList<int>{0, 1, 2, 3} << QList<double>{-1, nan, -3, -2} << -1 << -1 << 3 << QList<int>{2} << -3.0
            << -1.0 << "min -3.000   max -1.000   mean -2.000   (3 shown)";
        QTest::newRow("across midnight") << QList<int>{22, 23, 24, 25} << QList<double>{7, 7, 7, 7} << -1 << -1 << 4
                                         << QList<int>{4} << 6.0 << 8.0
                                         << "min 7.000   max 7.000   mean 7.000   (4 shown)";
        QTest::newRow("one record: an hour around it")
            << QList<int>{5} << QList<double>{2.5} << -1 << -1 << 1 << QList<int>{} << 1.5 << 3.5
            << "min 2.500   max 2.500   mean 2.500   (1 shown)";
        QTest::newRow("zoomed to hours 1 to 3: the run reaches one beyond")
            << QList<int>{0, 1, 2, 3, 4} << QList<double>{100, 2, 3, 4, -100} << 1 << 3 << 3 << QList<int>{5} << 2.0
            << 4.0 << "min 2.000   max 4.000   mean 3.000   (3 shown)";
    }

    void chartLayout()
    {
        QFETCH(QList<int>, hours);
        QFETCH(QList<double>, values);
        QFETCH(int, fromHour);
        QFETCH(int, toHour);
        QFETCH(int, points);
        QFETCH(QList<int>, runs);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QString, stats);
        const std::vector<ChartSample> samples = ChartSamples(hourlyLines(hours, values));
        const qint64 midnight = QDateTime(QDate(2024, 3, 5), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
        ChartSpan span = FullSpan(samples);
        if (fromHour >= 0)
            span = {midnight + fromHour * kHour, midnight + toHour * kHour};
        const ChartLayout l = LayoutChart(samples, span, QSizeF(800, 400));

        QCOMPARE(int(l.points.size()), points);
        QList<int> runLengths;
        for (const auto& run : l.lines)
            runLengths << int(run.size());
        QCOMPARE(runLengths, runs);
        QCOMPARE(l.low, low);
        QCOMPARE(l.high, high);
        QCOMPARE(l.statsText, stats);
        QCOMPARE(l.valueTicks.front().position, l.plot.bottom());
        QCOMPARE(l.valueTicks.back().position, l.plot.top());
        // The time axis ends at the span; the newest record shown is marked.
        const qint64 first = samples[l.pointSample.front()].time;
        const qint64 last = samples[l.pointSample.back()].time;
        QCOMPARE(l.points.front().x(),
                 l.plot.left() + double(first - span.from) / double(span.to - span.from) * l.plot.width());
        if (fromHour < 0 && points > 1) {
            QCOMPARE(l.points.front().x(), l.plot.left());
            QCOMPARE(l.points.back().x(), l.plot.right());
        }
        QCOMPARE(l.newestPoint, last == samples.back().time ? points - 1 : -1);
        // The SVG holds one point a record shown, and the newest's mark when shown.
        const QByteArray svg = ChartSvg(l, samples);
        QCOMPARE(svg.count("<circle class=\"point\""), points);
        QCOMPARE(svg.count("class=\"newest-mark\""), l.newestPoint >= 0 ? 1 : 0);
        QCOMPARE(svg.count("<polyline"), int(runs.size()));
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
