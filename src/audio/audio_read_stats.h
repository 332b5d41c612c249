// What a clip's audio reads came to, for the audio summary in the log.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrova {

struct AudioReadStats {
    int64_t reads = 0;
    int64_t emptyReads = 0;
    int64_t partialReads = 0;
    // Counted by callers turned away, who never hold the clip's lock.
    std::atomic<int64_t> declined{0};
    int64_t samplesServed = 0;
    int64_t sequentialStalls = 0;
    int64_t firstReadNs = 0;
    int64_t latestReadNs = 0;
    bool timesValid = false;
    int64_t readsAtLastSummary = -1;
};

// Repeating log lines are written for counts 1 to 8, then at powers of two.
inline bool worthLogging(int64_t count) {
    return count >= 1 && (count <= 8 || (count & (count - 1)) == 0);
}

}  // namespace kestrova
