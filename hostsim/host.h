// The stand-in host: owns every record and suite the host side provides and
// calls the module's selectors the way the host application does.
//
// The suites are plain C function tables without a context argument, so the
// functions behind them reach the Host through one process-wide pointer: the
// most recently constructed Host that is still alive is the current one
// (construction pushes, destruction pops). Tests use one Host at a time; the
// module may keep the suite tables across Hosts, and they stay valid because
// they are static.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.h"
#include "module.h"
#include "ppix_store.h"

namespace kestrova::hostsim {

struct HostOptions {
    int32_t importerApiVersion = host::kDefaultImporterApiVersion;
};

// Host callbacks a test can make fail.
enum class Callback : int32_t {
    Allocate,        // memory allocate answers null
    CreateString,    // String Suite creation answers an error
    TicksPerSecond,  // Time Suite answers an error and writes nothing
    RefreshFile,     // File Manager refresh answers an error (the request is still recorded)
    CreatePPix,      // PPix creation answers an error and no PPix
    GetPixels,       // GetPixels answers a null pointer
    GetRowBytes,     // GetRowBytes answers 0 bytes
    PlanarBuffers,   // GetYUV420PlanarBuffers answers an error and null planes
};

// How a faulting callback crashes, as a broken host function would.
enum class Fault : int32_t {
    None,
    NullWrite,     // writes through a null pointer
    DivideByZero,  // integer division by zero
    StackOverflow  // recurses without end
};

struct SuiteCounts {
    int32_t acquired = 0;
    int32_t released = 0;
    // Releases of a suite that was not held at the time.
    int32_t unbalancedReleases = 0;
};

// A format description record as the module filled it.
struct FormatRecord {
    std::array<uint8_t, host::formatdesc::kSize> bytes{};
    uint32_t typeCode = 0;
    std::string name;
    std::string shortName;
    std::vector<std::string> extensions;  // the list split at its zero bytes
};
struct FormatAnswer {
    host::Result result = host::imFailure;
    FormatRecord record;
};

struct PrefsAnswer {
    host::Result result = host::imFailure;
    int32_t length = 0;
};

class Host {
  public:
    // The byte every host record is filled with before the module sees it, so
    // tests can tell fields the module wrote from fields it left alone.
    static constexpr uint8_t kFillByte = 0xA5;
    static constexpr char16_t kFillUnit = 0xA5A5;

    // `module` must outlive the Host.
    explicit Host(const Module& module, HostOptions options = {});
    // Shuts the importer down when init() ran without a shutdown() after it.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    static Host* current();

    // Calls a selector with this host's standard parameters.
    host::Result call(host::Selector selector, void* param1, void* param2) const;
    void* standardParameters() { return stdParms_.data(); }

    // imInit with a freshly filled importer info record.
    host::Result init();
    const std::array<uint8_t, host::importinfo::kSize>& importerInfo() const { return info_; }
    const std::array<char16_t, host::importinfo::kAcceleratorExtensionUnits>& acceleratorExtension()
        const {
        return acceleratorExtension_;
    }
    host::Result shutdown();
    FormatAnswer getIndFormat(int32_t index) const;
    // `buffer` may be null (the host asks for the size).
    PrefsAnswer getPrefs8(void* buffer, int32_t length, bool firstTime) const;

    // ---- Suites and callbacks ----
    void refuseSuite(std::string_view name);
    void failCallback(Callback callback, bool fail);
    // A held callback blocks every caller until it is released, so a test
    // can keep a selector inside the module for as long as it likes.
    void holdCallback(Callback callback);
    void releaseCallback(Callback callback);
    // Waits until some caller is blocked in a held callback.
    bool waitForHeldCall(Callback callback, std::chrono::milliseconds timeout);
    // A faulting callback crashes the way `fault` says, on the thread that
    // called it.
    void faultCallback(Callback callback, Fault fault);
    SuiteCounts suiteCounts(std::string_view name) const;
    std::map<std::string, SuiteCounts> allSuiteCounts() const;
    // Memory blocks from the host's allocate function not yet disposed.
    std::size_t liveBlocks() const;
    // Disposals of blocks this host never handed out (or handed out twice).
    int32_t badDisposals() const;
    // Host strings created and not yet disposed, and their text.
    std::size_t liveStrings() const;
    std::optional<std::string> stringText(const host::HostString& string) const;
    // Paths the module asked the host to refresh, as UTF-8.
    std::vector<std::string> refreshRequests() const;
    // The frame buffers and the frame cache behind the PPix suites. Refusing
    // "Premiere PPix Cache Suite" hides the cache from the module; switching
    // the cache off (PPixStore::setCacheEnabled) keeps the suite but makes
    // every lookup miss.
    PPixStore& ppix() { return ppix_; }
    const PPixStore& ppix() const { return ppix_; }

    // Entry points of the static suite functions (host_suites.cpp).
    bool fails(Callback callback) const;
    // Blocks while the callback is held, then faults when asked to.
    void enterCallback(Callback callback);
    host::Result acquire(std::string_view name, int32_t version, const void** suite);
    host::Result release(std::string_view name, int32_t version);
    void* allocate(std::size_t size);
    void dispose(void* block);
    host::Result createString(std::string_view utf8, host::HostString& out);
    host::Result disposeString(const host::HostString& string);
    host::Result copyString(const host::HostString& string, uint8_t* buffer, uint32_t* bytes) const;
    host::Result refresh(std::string utf8Path);

  private:
    const Module& module_;
    Host* previous_;
    std::array<uint8_t, host::stdparms::kSize> stdParms_{};
    std::array<uint8_t, host::importinfo::kSize> info_{};
    std::array<char16_t, host::importinfo::kAcceleratorExtensionUnits> acceleratorExtension_{};
    bool initialised_ = false;

    mutable std::mutex mutex_;
    std::set<std::string, std::less<>> refused_;
    std::set<Callback> failing_;
    std::set<Callback> held_;
    std::map<Callback, Fault> faulting_;
    std::map<Callback, int32_t> blockedCallers_;
    std::condition_variable heldChanged_;
    std::map<std::string, SuiteCounts, std::less<>> counts_;
    std::set<void*> blocks_;
    int32_t badDisposals_ = 0;
    std::map<uint64_t, std::string> strings_;
    uint64_t nextString_ = 1;
    std::vector<std::string> refreshRequests_;
    PPixStore ppix_;
};

}  // namespace kestrova::hostsim
