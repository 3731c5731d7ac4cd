#pragma once
// The controller's stores: the event log and the archive, rings of records, and
// the sample data it starts with (a day of log traffic, hourly archive values,
// its configuration texts). Plain data; the controller answers from them.
#include <QByteArray>
#include <QDateTime>

#include <array>
#include <cstdint>
#include <vector>

namespace tessavin::sim {

// The event log: a ring of text records with capacity, count and begin (the slot
// after the newest record).
struct EventLog {
    int capacity = 2000;
    int count = 0;
    int begin = 0;
    std::vector<QByteArray> records; // capacity entries; an unwritten slot is empty

    void reset(int newCapacity);
    void clear();
    void appendText(const QByteArray& record);
    // The record in a slot; empty for a slot never written or out of range.
    QByteArray at(int index) const;
};

// One record of the event log in its stored layout: marker, "YYYY/MM/DD hh:mm:ss "
// and the message, which may hold CR or CR LF.
QByteArray MakeLogRecord(char marker, int year, int month, int day, int hour, int minute, int second,
                         const QByteArray& message);

// A day of sensible traffic: `count` records about `approxLength` bytes long,
// every few of them with CR or CR LF inside, in time order. Deterministic.
std::vector<QByteArray> DefaultLogRecords(int count, int approxLength);
// Record `index` of that traffic (counting from 0), stamped `time`, its message
// `messageLength` bytes long (longer when its fixed words need it).
QByteArray SampleLogRecord(int index, const QDateTime& time, int messageLength);

// The archive: a ring of 1001 ten-byte records and its begin (the slot after the
// newest). Record: year - 2000, month, day, hour, minute, second, float LE.
struct Archive {
    static constexpr int kSlots = 1001;
    static constexpr int kRecordSize = 10;
    std::vector<std::array<std::uint8_t, kRecordSize>> records = std::vector<std::array<std::uint8_t, kRecordSize>>(
        kSlots);
    int begin = 0;

    void append(int year, int month, int day, int hour, int minute, int second, float value);
    // Fills `count` hourly records with a slowly changing value. Deterministic.
    void fillDefault(int count);
};

// The texts the controller starts with: its configuration, a JSON text of device,
// line, log, modem and channel settings, and its test configuration.
QByteArray DefaultConfiguration();
QByteArray DefaultTestConfiguration();

} // namespace tessavin::sim
