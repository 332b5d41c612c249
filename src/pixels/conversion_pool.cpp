#include "pixels/conversion_pool.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/platform.h"

namespace kestrova {
namespace {

constexpr int32_t kMinimumRangeRows = 64;
constexpr int32_t kMaximumRanges = 16;

}  // namespace

RowRanges splitRows(int32_t rows, int32_t alignment, int32_t workers) {
    RowRanges out;
    if (rows <= 0) {
        return out;
    }
    if (rows < 2 * kMinimumRangeRows || workers <= 0) {
        out.ranges[0] = {0, rows};
        out.count = 1;
        return out;
    }
    const int32_t step = std::max(alignment, 1);
    const int32_t count = std::min({kMaximumRanges, rows / kMinimumRangeRows, workers + 1});
    int32_t length = (rows + count - 1) / count;
    length = std::max(step, (length + step - 1) / step * step);
    for (int32_t begin = 0; begin < rows && out.count < kMaximumRanges; begin += length) {
        out.ranges[out.count++] = {begin, std::min(rows, begin + length)};
    }
    return out;
}

int32_t workerCountFrom(const std::optional<std::string>& value, uint32_t hardwareThreads) {
    const int32_t fallback = static_cast<int32_t>(std::min<uint32_t>(hardwareThreads / 2, 8));
    const int32_t byDefault = fallback < 2 ? 0 : fallback;
    if (!value || value->empty()) {
        return byDefault;
    }
    int32_t n = std::atoi(value->c_str());
    if (n < 0) {
        return byDefault;
    }
    n = std::min(n, 255);
    if (hardwareThreads > 0) {
        n = static_cast<int32_t>(
            std::min<uint32_t>(n, std::min<uint32_t>(2 * hardwareThreads, 255)));
    }
    return n < 2 ? 0 : n;
}

void runRowRanges(RangeFunction function, void* context, int32_t rows, int32_t alignment) {
    if (rows <= 0) {
        return;
    }
    if (alignment < 1 || rows < 2 * kMinimumRangeRows) {
        function(context, 0, rows);
        return;
    }
    ConversionPool& pool = ConversionPool::instance();
    const RowRanges ranges = splitRows(rows, alignment, pool.workers());
    if (ranges.count == 1) {
        function(context, 0, rows);
        return;
    }
    pool.run(function, context, ranges);
}

ConversionPool& ConversionPool::instance() {
    // Never destroyed: detached workers may still wait on its queue at exit.
    // A failed thread start leaves the started workers on a pool that is
    // never freed, and the next call tries again.
    static ConversionPool& pool =
        create(workerCountFrom(platform::environmentVariable("KESTROVA_CONVERT_THREADS"),
                               std::thread::hardware_concurrency()));
    return pool;
}

ConversionPool& ConversionPool::create(int32_t workers) {
    auto* pool = new ConversionPool;
    pool->start(workers);
    return *pool;
}

void ConversionPool::start(int32_t workers) {
    if (workers <= 0) {
        return;
    }
    // A worker must never outlive the code it runs.
    platform::pinOwnModule();
    for (int32_t i = 0; i < workers; ++i) {
        std::thread([this] { workerLoop(); }).detach();
        std::lock_guard lock(mutex_);
        workers_ = i + 1;
    }
}

bool ConversionPool::enqueue(const Job& job) {
    {
        std::lock_guard lock(mutex_);
        if (workers_ == 0 || count_ == kRingSize) {
            return false;
        }
        ring_[(head_ + count_) % kRingSize] = job;
        ++count_;
    }
    wake_.notify_one();
    return true;
}

void ConversionPool::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return count_ > 0; });
            job = ring_[head_];
            head_ = (head_ + 1) % kRingSize;
            --count_;
        }
        std::exception_ptr error;
        try {
            job.function(job.context, job.range.begin, job.range.end);
        } catch (...) {
            // Handed to the caller; a worker never ends the process.
            error = std::current_exception();
        }
        // Notified under the lock: the waiter may free the completion as
        // soon as it can take the lock again.
        std::lock_guard lock(job.completion->mutex);
        if (error && !job.completion->error) {
            job.completion->error = error;
        }
        if (--job.completion->pending == 0) {
            job.completion->done.notify_all();
        }
    }
}

void ConversionPool::run(RangeFunction function, void* context, const RowRanges& ranges) {
    Completion completion;
    std::array<bool, 16> returned{};
    for (int32_t i = 1; i < ranges.count; ++i) {
        {
            std::lock_guard lock(completion.mutex);
            ++completion.pending;
        }
        if (!enqueue({function, context, ranges.ranges[i], &completion})) {
            std::lock_guard lock(completion.mutex);
            --completion.pending;
            returned[i] = true;
        }
    }
    // The queued ranges use the caller's data until they finish, so a range
    // that throws here is held until then.
    std::exception_ptr error;
    const auto runHere = [&](const RowRange& range) {
        try {
            function(context, range.begin, range.end);
        } catch (...) {
            if (!error) {
                error = std::current_exception();
            }
        }
    };
    if (ranges.count > 0) {
        runHere(ranges.ranges[0]);
    }
    for (int32_t i = 1; i < ranges.count; ++i) {
        if (returned[i]) {
            runHere(ranges.ranges[i]);
        }
    }
    std::unique_lock lock(completion.mutex);
    completion.done.wait(lock, [&] { return completion.pending == 0; });
    if (!error) {
        error = completion.error;
    }
    lock.unlock();
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace kestrova
