#pragma once
// The controller's event log: a ring of text records read one per request.
//
// Before the records the download asks three questions about the ring — its
// capacity M (only when asked for; otherwise 2000), the number of records C and
// the begin B (the slot after the newest record) — and from the ticked record
// choice it takes the first index S and the number of records K. The record loop
// then reads K records from S on, wrapping from M - 1 to 0, and hands each one,
// presented as a line, to the window and to the file.
#include "features/download.h"
#include "features/log_presentation.h"

namespace tessavin {

// The capacity assumed when it is not asked for.
constexpr int kDefaultLogCapacity = 2000;

// S and K for a choice. `number` is the integer typed for Index (how many of the
// newest records) or for One (the record's index), or the first index of From;
// the other choices ignore it. The newest-records choices end with the record
// at begin - 1; a full ring (count >= capacity) wraps a negative S by adding the
// count. No choice reads nothing, and neither does Index with a number below 1.
// From I reads I to begin - 1, oldest first: on a full ring an I at or past the
// begin wraps through the ring's end; otherwise (and for I outside the ring)
// nothing is read.
RecordSpan ChooseLogSpan(RecordChoice choice, int number, int begin, int count, int capacity);

// Reads the records of the span, one 0x1A request each, in the record loop
// (RunRecordLoop, download.h: Stop, retries, a record that still fails — no
// reply, a bad checksum, an empty payload — ending it). After capacity - 1 comes
// 0. Each record is shown, then written; after a '>' record window events run
// before its ordinal is reported and it is written, after any other once it is
// written.
DownloadOutcome RunLogRecordLoop(Session& session, const RecordSpan& span, int capacity,
                                 const RecordSink<LogLine>& sink);

// The LOG button's whole download: the capacity question only with
// `askCapacity` (otherwise the capacity is taken as kDefaultLogCapacity), the
// count and begin questions, the choice, the record loop.
DownloadOutcome DownloadEventLog(Session& session, bool askCapacity, const DownloadSteps<LogLine>& steps);

} // namespace tessavin
