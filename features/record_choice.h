#pragma once
// The record choice boxes shared by the event-log and archive downloads:
// the newest 10, 100 or 500, the newest N typed in Beg, or the one record whose
// index is in EdONE. At most one is ticked; None reads nothing. tessavin-cli
// also reads from a given index to the newest record (From).

namespace tessavin {

enum class RecordChoice { None, Last10, Last100, Last500, Index, One, From };

// A choice with the number it takes: N for Index, the record's index for One
// and From; the other choices ignore it.
struct RecordPick {
    RecordChoice choice = RecordChoice::None;
    int number = 0;
    // The archive's Index choice counts back from this index instead of the
    // ring's newest record (tessavin-cli's one record as a line).
    int newest = -1;
};

} // namespace tessavin
