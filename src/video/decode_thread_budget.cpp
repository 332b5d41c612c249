#include "video/decode_thread_budget.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "support/logger.h"

namespace kestrova {
namespace {

constexpr int32_t kMaxThreadsPerDecoder = 16;
constexpr int32_t kHardwareThreads = 2;

struct BudgetState {
    std::mutex mutex;
    int32_t outstanding = 0;
};

BudgetState& budget() {
    // Never destroyed: decoders may release threads while the process exits.
    static BudgetState* state = new BudgetState;
    return *state;
}

}  // namespace

int32_t DecodeThreadBudget::cores() {
    static const int32_t count = [] {
        const unsigned reported = std::thread::hardware_concurrency();
        return reported == 0 ? 2 : static_cast<int32_t>(std::max(reported, 2u));
    }();
    return count;
}

int32_t DecodeThreadBudget::outstanding() {
    BudgetState& state = budget();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.outstanding;
}

int32_t DecodeThreadBudget::grantFor(int32_t requested, ThreadRole role, int32_t cores,
                                     int32_t outstanding, int32_t& cap) {
    const int32_t free = std::max(cores - outstanding, 0);
    int32_t floor = 1;
    int32_t want = requested;
    switch (role) {
        case ThreadRole::Hardware:
            // The decoding happens on the device; a couple of threads feed it.
            want = std::min(requested > 0 ? requested : kHardwareThreads, kHardwareThreads);
            break;
        case ThreadRole::Background:
            if (requested < 1) {
                want = std::max(cores / 8, 1);
            }
            break;
        default:
            if (requested < 1) {
                // A visible decoder always gets a usable share, even when
                // others hold every core.
                floor = std::max(cores / 4, 2);
                want = std::max(free, floor);
            }
            break;
    }
    cap = std::min({std::max(want, 1), cores, kMaxThreadsPerDecoder});
    return std::min({std::max({std::min(free, cap), floor, 1}), cores, kMaxThreadsPerDecoder});
}

int32_t DecodeThreadBudget::acquire(int32_t requested, ThreadRole role) {
    const int32_t machineCores = cores();
    BudgetState& state = budget();
    std::lock_guard<std::mutex> lock(state.mutex);
    int32_t cap = 0;
    const int32_t grant = grantFor(requested, role, machineCores, state.outstanding, cap);
    state.outstanding += grant;
    Logger::log(LogLevel::Debug,
                "DecodeThreadBudget: granted %d of %d requested, role %d (outstanding %d/%d)",
                grant, cap, static_cast<int>(role), state.outstanding, machineCores);
    return grant;
}

void DecodeThreadBudget::release(int32_t threads) {
    if (threads <= 0) {
        return;
    }
    const int32_t machineCores = cores();
    BudgetState& state = budget();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.outstanding = std::max(state.outstanding - threads, 0);
    Logger::log(LogLevel::Debug, "DecodeThreadBudget: released %d (outstanding %d/%d)", threads,
                state.outstanding, machineCores);
}

}  // namespace kestrova
