#pragma once
// What the event-log and archive downloads share: the stretch of a ring they
// read, where the records go, how a download ends, the one sequence both
// front ends run — ask the ring's questions, let the user (or the options)
// choose the records, then read them one request each — and the one record
// loop below it, to which each download gives only how a record is requested
// and presented.
//
// Read requests are sent again when their reply fails (see retry.h); a record
// that still fails ends the download (DownloadEnd::RecordFailed), and what was
// shown and written before it stays.
#include "util/open_files.h"
#include "features/record_choice.h"
#include "features/record_stamp.h"
#include "features/session.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tessavin {

// The stretch of a ring that a download reads: the first index and the number
// of records, stepping on from the first and wrapping at the ring's end. A count
// of 0 or less reads nothing. The first index may lie outside the ring (a typed
// index, or begin less a typed number).
struct RecordSpan {
    long long first = 0;
    int count = 0;
};

// The questions asked before the records (each one 14-byte request whose answer
// is stored in the session): the log's capacity M (0x1D), count C (0x1C) and
// begin B (0x19), and the archive's begin (0x5B, stored as the shared begin).
enum class RingQuestion { LogCapacity, LogCount, LogBegin, ArchiveBegin };

// Asks one question, sent again while its reply fails (retry.h). A question
// that still fails answers 0 with its error, and 0 is stored like any value.
LinkResult<int> AskRingQuestion(Session& session, RingQuestion question);

// The question's name in messages and retry notes: "log capacity", "log
// count", "log begin", "archive begin".
QString RingQuestionName(RingQuestion question);

// The memo line of an answer: "MAX=2000", "N=150", "OK=150" (both begins).
QString RingQuestionLine(RingQuestion question, int value);

// Where a download's records go. Every member may be empty.
template <class Line>
struct RecordSink {
    // A record read and presented.
    std::function<void(const Line& line)> show;
    // An event-log record marked '>' was shown; `ordinal` counts the download's records from 1.
    std::function<void(int ordinal)> marked;
    // After each record: `done` of `total` records read.
    std::function<void(int done, int total)> progress;
    // Receives each record's file bytes as soon as it is presented (when open):
    // the file needs no closing to keep what was written.
    OutputFile* file = nullptr;
    // Whether session.stopRequested ends the download. The window's archive
    // download has no Stop: it reads on whatever the flag says.
    bool stoppable = true;
};

enum class DownloadEnd {
    Completed, // every record of the span was read (or the span was empty)
    Stopped, // session.stopRequested was set before a request
    RecordFailed, // a record's reply failed after its retries: no reply, a bad checksum, a short payload
    TimeEncode, // archive: a dated record with an impossible time
    DateEncode, // archive: a dated record shifted across midnight from an impossible date
    One, // archive: the One choice's record was read; its value is in the outcome
    Unanswered, // a question's answer ended the download (the front end said so)
    NotChosen, // no records were chosen
};

struct DownloadOutcome {
    DownloadEnd end = DownloadEnd::Completed;
    RecordSpan span; // what was to be read
    int read = 0; // records shown (and written)
    long long index = -1; // the record that ended the download (failed, impossible, One)
    LinkError error = LinkError::None; // RecordFailed, Unanswered: why
    std::optional<RingQuestion> question; // Unanswered: which
    std::optional<std::string> oneValue; // One: the value truncated toward zero
    float oneRecordValue = 0; // One: the value as the record holds it
};

// The request of one download's records: one record at an index.
struct RecordRequest {
    std::uint8_t command = 0; // 0x1A (event log), 0x5C (archive)
    const char* name = ""; // "log record": the retry notes name the record by it and its index
    std::size_t minimum = 1; // a shorter payload fails (LinkError::TooShort)
};

// Requests the record at `index`, sent again while its reply fails (retry.h):
// the length of its payload, which is moved to the start of session.frame, or
// why it failed.
LinkResult<std::size_t> ReadRecord(Session& session, const RecordRequest& request, long long index);

// Lets pending window events run once, through the link's pump.
void LetEventsRun(Session& session);

// The record loop of both downloads. For each record of the span the stop flag
// is read (with sink.stoppable), window events run and the flag is read again:
// that is where a click on Stop takes effect, a request already sent being
// completed first. Then the record is read at `slot(position)`, the position
// being span.first and one more after each record (slot wraps it at the ring's
// end, and the loop goes on from the slot), and `present(index, length,
// ordinal, outcome)` shows and writes it, `ordinal` counting the records from
// 1; it returns an end that stops the loop at that record (an impossible time,
// the One choice's value), having set what else the outcome says. After each
// record, sink.progress. A record that still fails ends the loop (RecordFailed
// with its index).
template <class Line, class Slot, class Present>
DownloadOutcome RunRecordLoop(Session& session, const RecordSpan& span, const RecordSink<Line>& sink,
                              const RecordRequest& request, Slot slot, Present present)
{
    DownloadOutcome outcome;
    outcome.span = span;
    const auto stopped = [&] { return sink.stoppable && session.stopRequested; };
    long long position = span.first;
    for (int i = 0; i < span.count; ++i, ++position) {
        if (!stopped())
            LetEventsRun(session);
        if (stopped()) {
            outcome.end = DownloadEnd::Stopped;
            return outcome;
        }
        position = slot(position);
        const LinkResult<std::size_t> block = ReadRecord(session, request, position);
        if (!block.ok()) {
            outcome.end = DownloadEnd::RecordFailed;
            outcome.error = block.error;
            outcome.index = position;
            return outcome;
        }
        if (const std::optional<DownloadEnd> end = present(position, block.value, i + 1, outcome)) {
            outcome.end = *end;
            outcome.index = position;
            return outcome;
        }
        ++outcome.read;
        if (sink.progress)
            sink.progress(i + 1, span.count);
    }
    outcome.end = DownloadEnd::Completed;
    return outcome;
}

// How a front end takes part in a download. Every member may be empty.
template <class Line>
struct DownloadSteps {
    // Before each question (the window hides its verdict and lets events run).
    std::function<void(RingQuestion)> asking;
    // After each question with its answer; false ends the download (Unanswered).
    std::function<bool(RingQuestion, const LinkResult<int>&)> answered;
    // After the questions: the records to read; nullopt reads none (NotChosen).
    std::function<std::optional<RecordPick>()> choose;
    // The span about to be read.
    std::function<void(const RecordSpan&)> chosen;
    RecordSink<Line> sink;
};

// Runs the questions in turn, then `choose`, then `read` with the pick. The one
// sequence of both downloads.
template <class Line, class Read>
DownloadOutcome RunDownload(Session& session, std::initializer_list<RingQuestion> questions,
                            const DownloadSteps<Line>& steps, Read read)
{
    for (const RingQuestion question : questions) {
        if (steps.asking)
            steps.asking(question);
        const LinkResult<int> answer = AskRingQuestion(session, question);
        if (steps.answered && !steps.answered(question, answer)) {
            DownloadOutcome outcome;
            outcome.end = DownloadEnd::Unanswered;
            outcome.error = answer.error;
            outcome.question = question;
            return outcome;
        }
    }
    const std::optional<RecordPick> pick = steps.choose ? steps.choose() : std::nullopt;
    if (!pick) {
        DownloadOutcome outcome;
        outcome.end = DownloadEnd::NotChosen;
        return outcome;
    }
    return read(*pick);
}

} // namespace tessavin
