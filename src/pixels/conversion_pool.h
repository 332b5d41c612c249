// The process-wide worker pool that converts row ranges of one frame in
// parallel, and the pure rules that decide its size and the ranges.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

namespace kestrova {

struct RowRange {
    int32_t begin = 0;
    int32_t end = 0;
};

struct RowRanges {
    std::array<RowRange, 16> ranges{};
    int32_t count = 0;
};

// Ranges of `rows` rows for a pool of `workers`; each range but the last is a
// multiple of `alignment` rows long. One range below 128 rows or without workers.
RowRanges splitRows(int32_t rows, int32_t alignment, int32_t workers);

// Workers for a KESTROVA_CONVERT_THREADS value (absent or empty: the
// default) and a hardware thread count (0 when unknown).
int32_t workerCountFrom(const std::optional<std::string>& value, uint32_t hardwareThreads);

using RangeFunction = void (*)(void* context, int32_t begin, int32_t end);

// Runs `function` over `rows` rows: on the calling thread, or split over the
// pool (created on first use) when the frame is tall enough.
void runRowRanges(RangeFunction function, void* context, int32_t rows, int32_t alignment);

class ConversionPool {
  public:
    // The process's pool: created on first use with the configured worker
    // count, never destroyed; its threads are detached.
    static ConversionPool& instance();
    // A further pool that is never destroyed either (tests, benchmarks).
    static ConversionPool& create(int32_t workers);
    int32_t workers() {
        std::lock_guard lock(mutex_);
        return workers_;
    }
    // Runs every range, range 0 and any the pool cannot take on this thread,
    // and returns when all have finished. An exception from any range is
    // rethrown here, once every range has finished with the caller's data.
    void run(RangeFunction function, void* context, const RowRanges& ranges);

  private:
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        int32_t pending = 0;
        std::exception_ptr error;  // the first range that threw
    };
    struct Job {
        RangeFunction function = nullptr;
        void* context = nullptr;
        RowRange range;
        Completion* completion = nullptr;
    };
    ConversionPool() = default;
    void start(int32_t workers);
    bool enqueue(const Job& job);
    [[noreturn]] void workerLoop();

    static constexpr int32_t kRingSize = 256;
    int32_t workers_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::array<Job, kRingSize> ring_{};
    int32_t head_ = 0;
    int32_t count_ = 0;
};

}  // namespace kestrova
