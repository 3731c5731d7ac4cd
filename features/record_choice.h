#pragma once
// The record choice boxes shared by the event-log and archive downloads:
// the newest 10, 100 or 500, the newest N typed in Beg, or the one record whose
// index is in EdONE. At most one is ticked; None reads nothing.

namespace tessavin {

enum class RecordChoice { None, Last10, Last100, Last500, Index, One };

} // namespace tessavin
