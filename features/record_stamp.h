#pragma once

namespace tessavin {

// A record's date and time as a download reads it: the event log's text fields
// (each as an unsigned 16-bit value), the archive's bytes (shifted to local time
// when dated; year 0 when undated).
struct RecordStamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

} // namespace tessavin
