#pragma once
// The controller's event log: a ring of text records read one per request.
//
// Before the records the download asks three questions about the ring — its
// capacity M (only when asked for; otherwise 2000), the number of records C and
// the begin B (the slot after the newest record) — and from the ticked record
// choice it takes the first index S and the number of records K. The record loop
// then reads K records from S on, wrapping from M - 1 to 0, and hands each one,
// presented as a line, to the window and to the file.
#include "log_presentation.h"
#include "record_choice.h"
#include "open_files.h"
#include "session.h"

#include <QString>

#include <functional>

namespace tessavin {

// The capacity assumed when it is not asked for.
constexpr int kDefaultLogCapacity = 2000;

enum class LogQuestion { Capacity, Count, Begin };

// Asks one question (commands 0x1D, 0x1C, 0x19) with a 14-byte request and stores
// the answer in the session (capacity, count, begin). A failed request answers 0
// (with its error), which is stored like any other value.
LinkResult<int> AskLogQuestion(Session& session, LogQuestion question);

// The memo line of an answer: "MAX=2000", "N=150", "OK=150".
QString LogQuestionLine(LogQuestion question, int value);

struct LogSpan {
    long long first = 0; // S: the index of the first record read; begin less a typed number may leave int
    int count = 0;       // K: how many records are read, never negative
};

// S and K for a choice. `number` is the integer typed for Index (how many of the
// newest records) or for One (the record's index); the other choices ignore it.
// The newest-records choices end with the record at begin - 1; a full ring
// (count >= capacity) wraps a negative S by adding the count. No choice reads
// nothing, and neither does Index with a number below 1.
LogSpan ChooseLogSpan(RecordChoice choice, int number, int begin, int count, int capacity);

// Where the loop's records go. Every member may be empty.
struct LogRecordSink {
    // A record read and presented (with its index and bytes); the window adds
    // line.line to its memo.
    std::function<void(const LogLine& line)> show;
    // A '>' record was shown; `ordinal` counts the records of this download from 1.
    std::function<void(int ordinal)> marked;
    // After each record: `done` of `total` records read.
    std::function<void(int done, int total)> progress;
};

enum class LogLoopEnd { Completed, Stopped, RecordFailed };

struct LogLoopResult {
    LogLoopEnd end = LogLoopEnd::Completed;
    int read = 0; // records shown (and written)
    LinkError error = LinkError::None; // why the failed record failed
    int failedIndex = -1;              // its index
};

// Reads the records of the span, one 0x1A request each. The Stop flag is read
// before every request (after letting window events run, which is where a click
// on Stop takes effect); a request already sent is completed first. A record
// request that fails (no reply, a bad checksum, an empty payload) ends the loop;
// what was shown and written stays. Each line goes to `file` (when open) as soon
// as it is presented: the file needs no closing to keep what was written.
LogLoopResult RunLogRecordLoop(Session& session, const LogSpan& span, int capacity,
                               const LogRecordSink& sink, OutputFile* file);

} // namespace tessavin
