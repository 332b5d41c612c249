#include "host.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "suite_tables.h"

namespace kestrova::hostsim {
namespace {

constexpr host::Result kError = 1;

std::atomic<Host*> gCurrent{nullptr};

// Text of a zero-terminated field of `bytes` bytes (all of it when unterminated).
std::string fieldText(const uint8_t* field, std::size_t bytes) {
    const auto* end = std::find(field, field + bytes, uint8_t{0});
    return std::string(field, end);
}

// Extensions are zero-terminated texts one after another; an empty one ends the list.
std::vector<std::string> splitExtensions(const uint8_t* list, std::size_t bytes) {
    std::vector<std::string> extensions;
    std::size_t at = 0;
    while (at < bytes && list[at] != 0) {
        std::string extension = fieldText(list + at, bytes - at);
        at += extension.size() + 1;
        extensions.push_back(std::move(extension));
    }
    return extensions;
}

// Volatile operands keep the optimiser from seeing each fault coming and
// putting a trap of its own in its place; the undefined-behaviour sanitizer
// is off so the processor reports each one.
int* volatile gNullTarget = nullptr;
volatile int gZero = 0;
volatile bool gStopRecursion = false;
// Results land here, so the optimiser cannot drop a call whose value is unused.
volatile int gSink = 0;

#define FAULTING __attribute__((noinline, no_sanitize("undefined")))
FAULTING void writeThroughNull() {
    *gNullTarget = 1;
}
FAULTING int divideByZero() {
    return 7 / gZero;
}
FAULTING int overflowStack() {
    volatile char frame[512];
    frame[0] = 1;
    return gStopRecursion ? 0 : overflowStack() + frame[0];
}

void crash(Fault fault) {
    switch (fault) {
        case Fault::NullWrite:
            writeThroughNull();
            break;
        case Fault::DivideByZero:
            gSink = divideByZero();
            break;
        case Fault::StackOverflow:
            gSink = overflowStack();
            break;
        case Fault::None:
            break;
    }
}

void setMember(std::set<Callback>& callbacks, Callback callback, bool member) {
    if (member) {
        callbacks.insert(callback);
    } else {
        callbacks.erase(callback);
    }
}

}  // namespace

Host::Host(const Module& module, HostOptions options)
    : module_(module), previous_(gCurrent.exchange(this)) {
    host::writeField<int32_t>(stdParms_.data(), host::stdparms::kInterfaceVersion,
                              options.importerApiVersion);
    host::writeField(stdParms_.data(), host::stdparms::kSuites, suitesRecord());
}

Host::~Host() {
    if (initialised_) {
        shutdown();
    }
    gCurrent.store(previous_);
}

Host* Host::current() {
    return gCurrent.load();
}

host::Result Host::call(host::Selector selector, void* param1, void* param2) const {
    return module_.call(selector, const_cast<uint8_t*>(stdParms_.data()), param1, param2);
}

host::Result Host::init() {
    info_.fill(kFillByte);
    acceleratorExtension_.fill(kFillUnit);
    host::writeField(info_.data(), host::importinfo::kAcceleratorExtension,
                     acceleratorExtension_.data());
    initialised_ = true;
    return call(host::imInit, info_.data(), nullptr);
}

host::Result Host::shutdown() {
    initialised_ = false;
    return call(host::imShutdown, nullptr, nullptr);
}

FormatAnswer Host::getIndFormat(int32_t index) const {
    namespace fd = host::formatdesc;
    FormatAnswer answer;
    FormatRecord& record = answer.record;
    record.bytes.fill(kFillByte);
    answer.result =
        call(host::imGetIndFormat, reinterpret_cast<void*>(intptr_t{index}), record.bytes.data());
    const uint8_t* bytes = record.bytes.data();
    record.typeCode = host::readField<uint32_t>(bytes, fd::kFileType);
    record.name = fieldText(bytes + fd::kFormatName, fd::kFormatNameBytes);
    record.shortName = fieldText(bytes + fd::kShortName, fd::kShortNameBytes);
    record.extensions = splitExtensions(bytes + fd::kExtensions, fd::kExtensionsBytes);
    return answer;
}

PrefsAnswer Host::getPrefs8(void* buffer, int32_t length, bool firstTime) const {
    namespace pr = host::prefsrec;
    std::array<uint8_t, pr::kSize> record{};
    host::writeField(record.data(), pr::kBuffer, buffer);
    host::writeField(record.data(), pr::kLength, length);
    host::writeField<uint8_t>(record.data(), pr::kFirstTime, firstTime ? 1 : 0);
    PrefsAnswer answer;
    answer.result = call(host::imGetPrefs8, nullptr, record.data());
    answer.length = host::readField<int32_t>(record.data(), pr::kLength);
    return answer;
}

// ---- Suites and callbacks ----

void Host::refuseSuite(std::string_view name) {
    std::lock_guard lock(mutex_);
    refused_.emplace(name);
}

void Host::failCallback(Callback callback, bool fail) {
    std::lock_guard lock(mutex_);
    setMember(failing_, callback, fail);
}

void Host::holdCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    held_.insert(callback);
}

void Host::releaseCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    held_.erase(callback);
    heldChanged_.notify_all();
}

bool Host::waitForHeldCall(Callback callback, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return heldChanged_.wait_for(lock, timeout, [&] { return blockedCallers_[callback] > 0; });
}

void Host::faultCallback(Callback callback, Fault fault) {
    std::lock_guard lock(mutex_);
    if (fault == Fault::None) {
        faulting_.erase(callback);
    } else {
        faulting_[callback] = fault;
    }
}

void Host::enterCallback(Callback callback) {
    std::unique_lock lock(mutex_);
    if (held_.count(callback) != 0) {
        ++blockedCallers_[callback];
        heldChanged_.notify_all();
        heldChanged_.wait(lock, [&] { return held_.count(callback) == 0; });
        --blockedCallers_[callback];
    }
    if (const auto found = faulting_.find(callback); found != faulting_.end()) {
        const Fault fault = found->second;
        lock.unlock();
        crash(fault);
    }
}

bool Host::fails(Callback callback) const {
    std::lock_guard lock(mutex_);
    return failing_.count(callback) != 0;
}

SuiteCounts Host::suiteCounts(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto found = counts_.find(name);
    return found == counts_.end() ? SuiteCounts{} : found->second;
}

std::map<std::string, SuiteCounts> Host::allSuiteCounts() const {
    std::lock_guard lock(mutex_);
    return {counts_.begin(), counts_.end()};
}

host::Result Host::acquire(std::string_view name, int32_t version, const void** suite) {
    const void* table = suiteTable(name, version);
    std::lock_guard lock(mutex_);
    *suite = nullptr;
    if (!table || refused_.count(name) != 0) {
        return kError;
    }
    *suite = table;
    ++counts_[std::string(name)].acquired;
    return host::imNoErr;
}

host::Result Host::release(std::string_view name, int32_t version) {
    std::lock_guard lock(mutex_);
    SuiteCounts& counts = counts_[std::string(name)];
    if (!suiteTable(name, version) || counts.released >= counts.acquired) {
        ++counts.unbalancedReleases;
        return kError;
    }
    ++counts.released;
    return host::imNoErr;
}

void* Host::allocate(std::size_t size) {
    if (fails(Callback::Allocate)) {
        return nullptr;
    }
    void* block = std::malloc(std::max<std::size_t>(size, 1));
    if (block) {
        std::lock_guard lock(mutex_);
        blocks_.insert(block);
    }
    return block;
}

// A block this host did not hand out is counted, never freed: freeing it
// could hide the fault from the test or crash the process.
void Host::dispose(void* block) {
    if (!block) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (blocks_.erase(block) == 0) {
            ++badDisposals_;
            return;
        }
    }
    std::free(block);
}

std::size_t Host::liveBlocks() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

int32_t Host::badDisposals() const {
    std::lock_guard lock(mutex_);
    return badDisposals_;
}

host::Result Host::createString(std::string_view utf8, host::HostString& out) {
    enterCallback(Callback::CreateString);
    if (fails(Callback::CreateString) || !platform::utf8ToUtf16(utf8)) {
        return kError;
    }
    std::lock_guard lock(mutex_);
    out.handle = nextString_++;
    strings_.emplace(out.handle, utf8);
    return host::imNoErr;
}

host::Result Host::disposeString(const host::HostString& string) {
    std::lock_guard lock(mutex_);
    return strings_.erase(string.handle) != 0 ? host::imNoErr : kError;
}

// A null buffer asks for the size; a short buffer answers an error and the size.
host::Result Host::copyString(const host::HostString& string, uint8_t* buffer,
                              uint32_t* bytes) const {
    std::lock_guard lock(mutex_);
    const auto found = strings_.find(string.handle);
    if (found == strings_.end()) {
        return kError;
    }
    const std::string& text = found->second;
    const uint32_t needed = static_cast<uint32_t>(text.size() + 1);
    if (!buffer || *bytes < needed) {
        *bytes = needed;
        return buffer ? kError : host::imNoErr;
    }
    std::memcpy(buffer, text.c_str(), needed);
    *bytes = needed;
    return host::imNoErr;
}

std::size_t Host::liveStrings() const {
    std::lock_guard lock(mutex_);
    return strings_.size();
}

std::optional<std::string> Host::stringText(const host::HostString& string) const {
    std::lock_guard lock(mutex_);
    const auto found = strings_.find(string.handle);
    if (found == strings_.end()) {
        return std::nullopt;
    }
    return found->second;
}

host::Result Host::refresh(std::string utf8Path) {
    const bool fail = fails(Callback::RefreshFile);
    std::lock_guard lock(mutex_);
    refreshRequests_.push_back(std::move(utf8Path));
    return fail ? kError : host::imNoErr;
}

std::vector<std::string> Host::refreshRequests() const {
    std::lock_guard lock(mutex_);
    return refreshRequests_;
}

}  // namespace kestrova::hostsim
