// The choice of the first record and the number of records, for any choice, any
// typed number and any ring geometry; and, for a ring as a controller keeps it,
// the records the loop would then read.
#include "features/event_log.h"
#include "tests/fuzz/fuzz_support.h"

#include <vector>

using namespace tessavin;

namespace {

long long clampedAtZero(long long v) { return v < 0 ? 0 : v; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const auto choice = static_cast<RecordChoice>(in.byte() % 7);
    const bool consistentRing = in.byte() & 1;
    const int number = in.i32();
    int begin = in.i32();
    int count = in.i32();
    int capacity = in.i32();
    if (consistentRing) {
        // What a controller answers: a capacity of 1 to 65535; a ring either full
        // (count = capacity, begin anywhere) or filled from slot 0 (begin = count).
        capacity = 1 + static_cast<int>(static_cast<std::uint32_t>(capacity) % 65535);
        if (count & 1) {
            count = capacity;
            begin = static_cast<int>(static_cast<std::uint32_t>(begin) % static_cast<std::uint32_t>(capacity));
        } else {
            count = static_cast<int>(static_cast<std::uint32_t>(count) % static_cast<std::uint32_t>(capacity));
            begin = count;
        }
    }

    const RecordSpan span = ChooseLogSpan(choice, number, begin, count, capacity);

    // Never a negative count, never more than asked for, never more than the ring holds.
    FUZZ_CHECK(span.count >= 0);
    long long asked = 0;
    switch (choice) {
    case RecordChoice::None:
        FUZZ_CHECK(span.count == 0);
        return 0;
    case RecordChoice::One:
        FUZZ_CHECK(span.count == 1 && span.first == number);
        return 0;
    case RecordChoice::From: {
        // From I to the newest record: each slot once, ending at begin - 1.
        FUZZ_CHECK(span.first == number && span.count <= clampedAtZero(capacity));
        if (!consistentRing || span.count == 0)
            return 0;
        long long index = span.first;
        std::vector<bool> seen(static_cast<std::size_t>(capacity), false);
        for (int i = 0; i < span.count; ++i, ++index) {
            if (index == capacity)
                index = 0;
            FUZZ_CHECK(index >= 0 && index < capacity && !seen[static_cast<std::size_t>(index)]);
            seen[static_cast<std::size_t>(index)] = true;
        }
        FUZZ_CHECK((index - 1 + capacity) % capacity == ((begin - 1) % capacity + capacity) % capacity);
        return 0;
    }
    case RecordChoice::Index:
        asked = number;
        break;
    case RecordChoice::Last10:
        asked = 10;
        break;
    case RecordChoice::Last100:
        asked = 100;
        break;
    case RecordChoice::Last500:
        asked = 500;
        break;
    }
    FUZZ_CHECK(span.count == std::min(clampedAtZero(asked), clampedAtZero(count)));
    if (!consistentRing || span.count == 0)
        return 0;

    // The loop's walk from the first index, wrapping at the capacity, visits
    // exactly the `count` newest slots: those before begin, going back round the ring.
    std::vector<bool> newest(static_cast<std::size_t>(capacity), false);
    for (int k = 1; k <= span.count; ++k)
        newest[static_cast<std::size_t>(((begin - k) % capacity + capacity) % capacity)] = true;
    long long index = span.first;
    for (int i = 0; i < span.count; ++i) {
        if (index == capacity)
            index = 0;
        FUZZ_CHECK(index >= 0 && index < capacity);
        FUZZ_CHECK(newest[static_cast<std::size_t>(index)]);
        newest[static_cast<std::size_t>(index)] = false; // each slot once
        ++index;
    }
    return 0;
}
