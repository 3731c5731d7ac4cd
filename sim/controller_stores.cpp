#include "sim/controller_stores.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace tessavin::sim {

namespace {

const char* const kDefaultConfiguration
    = "{\n"
      "  \"device\": { \"number\": 1234, \"name\": \"pump station 4\" },\n"
      "  \"line\": { \"baud\": 38400, \"address\": 1 },\n"
      "  \"log\": { \"capacity\": 2000, \"period_min\": 10 },\n"
      "  \"modem\": { \"apn\": \"internet\", \"report\": \"+70000000000\" },\n"
      "  \"channels\": [\n"
      "    { \"id\": 1, \"kind\": \"pressure\", \"unit\": \"bar\", \"min\": 0.0, \"max\": 16.0 },\n"
      "    { \"id\": 2, \"kind\": \"temperature\", \"unit\": \"C\", \"min\": -40.0, \"max\": 85.0 },\n"
      "    { \"id\": 3, \"kind\": \"flow\", \"unit\": \"m3/h\", \"min\": 0.0, \"max\": 120.0 }\n"
      "  ]\n"
      "}\n";

const char* const kDefaultTestConfiguration
    = "{\n"
      "  \"test\": { \"mode\": \"loop\", \"period_s\": 5 },\n"
      "  \"outputs\": [ { \"id\": 1, \"state\": \"on\" }, { \"id\": 2, \"state\": \"off\" } ]\n"
      "}\n";

// Message heads and tails of the default log; the part between them is padded to
// the wanted length. Markers: '>' what the controller sent to its modem, '<' what
// came back, '#' its own events.
struct Template {
    char marker;
    const char* head;
    const char* tail;
};
const Template kTemplates[] = {
    {'>', "AT+CSQ", "\r"},
    {'<', "\r\n+CSQ: 17,99", "\r\n\r\nOK\r\n"},
    {'#', "power on, reset cause 3", ""},
    {'<', "pressure 1.52 bar, temperature 21.4 C", ""},
    {'>', "AT+CMGS=\"+70000000000\"", "\r"},
    {'<', "report sent", "\rOK"},
    {'<', "door contact open", "\r\n"},
};

QByteArray padded(const Template& t, int seq, int messageLength)
{
    QByteArray head(t.head);
    const QByteArray tail(t.tail);
    const QByteArray tag = " #" + QByteArray::number(seq);
    const char* filler = " ch1=1.50 ch2=21.4 ch3=37.2 in=0101 out=10 u=12.31V";
    QByteArray middle = tag;
    const qsizetype room = messageLength - head.size() - tail.size();
    if (middle.size() < room) {
        const QByteArray fill(filler);
        while (middle.size() < room)
            middle.append(fill.left(room - middle.size()));
    }
    return head + middle + tail;
}

} // namespace

void EventLog::reset(int newCapacity)
{
    capacity = std::max(0, newCapacity);
    records.assign(static_cast<std::size_t>(capacity), QByteArray());
    count = 0;
    begin = 0;
}

void EventLog::clear() { reset(capacity); }

void EventLog::appendText(const QByteArray& record)
{
    if (capacity <= 0)
        return;
    if (static_cast<int>(records.size()) != capacity)
        records.resize(static_cast<std::size_t>(capacity));
    begin = std::clamp(begin, 0, capacity - 1);
    records[static_cast<std::size_t>(begin)] = record;
    begin = (begin + 1) % capacity;
    count = std::min(count + 1, capacity);
}

QByteArray EventLog::at(int index) const
{
    if (index < 0 || index >= static_cast<int>(records.size()))
        return {};
    return records[static_cast<std::size_t>(index)];
}

QByteArray MakeLogRecord(char marker, int year, int month, int day, int hour, int minute, int second,
                         const QByteArray& message)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%c%04d/%02d/%02d %02d:%02d:%02d ", marker, year % 10000, month % 100,
                  day % 100, hour % 100, minute % 100, second % 100);
    return QByteArray(prefix) + message;
}

QByteArray SampleLogRecord(int index, const QDateTime& time, int messageLength)
{
    const Template& tpl = kTemplates[index % static_cast<int>(std::size(kTemplates))];
    return MakeLogRecord(tpl.marker, time.date().year(), time.date().month(), time.date().day(), time.time().hour(),
                         time.time().minute(), time.time().second(), padded(tpl, index + 1, messageLength));
}

std::vector<QByteArray> DefaultLogRecords(int count, int approxLength)
{
    std::vector<QByteArray> out;
    if (count <= 0)
        return out;
    out.reserve(static_cast<std::size_t>(count));
    const QDateTime start(QDate(2024, 3, 1), QTime(8, 0, 0));
    const int messageLength = std::max(0, approxLength - 21);
    for (int i = 0; i < count; ++i)
        out.push_back(SampleLogRecord(i, start.addSecs(static_cast<qint64>(i) * 37 + (i % 5) * 3), messageLength));
    return out;
}

QByteArray DefaultConfiguration() { return kDefaultConfiguration; }

QByteArray DefaultTestConfiguration() { return kDefaultTestConfiguration; }

void Archive::append(int year, int month, int day, int hour, int minute, int second, float value)
{
    begin = std::clamp(begin, 0, kSlots - 1);
    auto& r = records[static_cast<std::size_t>(begin)];
    r[0] = static_cast<std::uint8_t>(year - 2000);
    r[1] = static_cast<std::uint8_t>(month);
    r[2] = static_cast<std::uint8_t>(day);
    r[3] = static_cast<std::uint8_t>(hour);
    r[4] = static_cast<std::uint8_t>(minute);
    r[5] = static_cast<std::uint8_t>(second);
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        r[static_cast<std::size_t>(6 + i)] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFF);
    begin = (begin + 1) % kSlots;
}

void Archive::fillDefault(int count)
{
    const QDateTime start(QDate(2024, 3, 1), QTime(0, 0, 0));
    for (int i = 0; i < count; ++i) {
        const QDateTime t = start.addSecs(static_cast<qint64>(i) * 3600);
        const float value = static_cast<float>(1.5 + 0.25 * std::sin(i / 6.0) + 0.001 * (i % 7));
        append(t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second(),
               value);
    }
}

} // namespace tessavin::sim
