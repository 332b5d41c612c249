#include "ffmpeg/ffmpeg_runtime.h"

#include <cstring>
#include <utility>

#include "ffmpeg/ffmpeg_discovery.h"
#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::ffmpeg {

static_assert(sizeof(FfmpegFunctions) == (kSymbolCount + kOptionalSymbolCount) * sizeof(void*),
              "one pointer-sized slot per symbol");

const char* statusName(DiscoveryStatus status) {
    switch (status) {
        case DiscoveryStatus::Ok:
            return "Ok";
        case DiscoveryStatus::NoCandidateDirectory:
            return "NoCandidateDirectory";
        case DiscoveryStatus::IncompleteSet:
            return "IncompleteSet";
        case DiscoveryStatus::ArchitectureMismatch:
            return "ArchitectureMismatch";
        case DiscoveryStatus::VersionMismatch:
            return "VersionMismatch";
    }
    return "Unknown";
}

const char* statusName(LoadStatus status) {
    switch (status) {
        case LoadStatus::Ok:
            return "Ok";
        case LoadStatus::NotLocated:
            return "NotLocated";
        case LoadStatus::LibraryOpenFailed:
            return "LibraryOpenFailed";
        case LoadStatus::SymbolMissing:
            return "SymbolMissing";
        case LoadStatus::VersionMismatch:
            return "VersionMismatch";
    }
    return "Unknown";
}

namespace {

// The libraries of one candidate, in table order. Whatever has not been kept
// is released in reverse table order, so dependants go before what they use.
class CandidateLibraries {
  public:
    CandidateLibraries() = default;
    ~CandidateLibraries() { releaseLibraries(handles_); }
    CandidateLibraries(const CandidateLibraries&) = delete;
    CandidateLibraries& operator=(const CandidateLibraries&) = delete;

    void add(platform::LibraryHandle handle) { handles_.push_back(handle); }
    platform::LibraryHandle operator[](int library) const { return handles_[library]; }
    std::vector<platform::LibraryHandle> keep() { return std::exchange(handles_, {}); }

    static void releaseLibraries(const std::vector<platform::LibraryHandle>& handles) {
        for (auto it = handles.rbegin(); it != handles.rend(); ++it) {
            if (*it) {
                platform::freeLibrary(*it);
            }
        }
    }

  private:
    std::vector<platform::LibraryHandle> handles_;
};

template <typename Function>
bool bindSymbol(Function& slot, platform::LibraryHandle library, const char* name,
                std::string& missingSymbol) {
    static_assert(sizeof(Function) == sizeof(void*));
    void* address = platform::findSymbol(library, name);
    if (!address) {
        missingSymbol = name;
        return false;
    }
    std::memcpy(&slot, &address, sizeof slot);
    return true;
}

// Resolves every slot in order; stops at the first symbol not found.
bool bindSymbols(FfmpegFunctions& table, const CandidateLibraries& libraries,
                 std::string& missingSymbol) {
#define KESTROVA_FFMPEG_SYMBOL(library, name)                                \
    if (!bindSymbol(table.name, libraries[library], #name, missingSymbol)) { \
        return false;                                                        \
    }
#include "ffmpeg/ffmpeg_symbols.inc"
#undef KESTROVA_FFMPEG_SYMBOL
    std::string absent;
#define KESTROVA_FFMPEG_OPTIONAL_SYMBOL(library, name) \
    (void)bindSymbol(table.name, libraries[library], #name, absent);
#include "ffmpeg/ffmpeg_optional_symbols.inc"
#undef KESTROVA_FFMPEG_OPTIONAL_SYMBOL
    return true;
}

LibraryVersion unpackVersion(const FfmpegLibrarySpec& library, unsigned packed) {
    LibraryVersion version;
    version.baseName = library.baseName;
    version.major = static_cast<int>((packed >> 16) & 0xFF);
    version.minor = static_cast<int>((packed >> 8) & 0xFF);
    version.micro = static_cast<int>(packed & 0xFF);
    version.expectedMajor = library.expectedMajor;
    return version;
}

std::string buildFingerprint(const std::string& directory,
                             const std::vector<LibraryVersion>& versions,
                             const std::string& licence) {
    std::string fingerprint = directory + "|";
    for (const LibraryVersion& v : versions) {
        fingerprint += v.baseName + "-" + std::to_string(v.major) + "." + std::to_string(v.minor) +
                       "." + std::to_string(v.micro) + ",";
    }
    return fingerprint + "|" + licence;
}

}  // namespace

struct RuntimeLoader {
    static std::unique_ptr<FfmpegRuntime> load(const std::string& ffmpegDirectory,
                                               bool releaseOnDestroy);

  private:
    struct Rejection {
        LoadStatus status = LoadStatus::NotLocated;
        std::string message;
    };
    static bool bindCandidate(FfmpegRuntime& runtime, const CandidateSet& candidate,
                              Rejection& rejection);
    static void reject(const CandidateSet& candidate, Rejection& rejection, LoadStatus status,
                       std::string message);
};

void RuntimeLoader::reject(const CandidateSet& candidate, Rejection& rejection, LoadStatus status,
                           std::string message) {
    rejection.status = status;
    rejection.message = std::move(message);
    Logger::log(LogLevel::Error, "FFmpeg candidate rejected (%s): %s", candidate.directory.c_str(),
                rejection.message.c_str());
}

bool RuntimeLoader::bindCandidate(FfmpegRuntime& runtime, const CandidateSet& candidate,
                                  Rejection& rejection) {
    runtime.functions = {};
    runtime.versions.clear();
    runtime.missingSymbol.clear();

    CandidateLibraries libraries;
    for (const LibraryFile& file : candidate.files) {
        std::string error;
        platform::LibraryHandle handle = platform::loadLibrary(file.path, error);
        if (!handle) {
            reject(candidate, rejection, LoadStatus::LibraryOpenFailed,
                   "could not load " + file.path + ": " + error);
            return false;
        }
        libraries.add(handle);
    }

    if (!bindSymbols(runtime.functions, libraries, runtime.missingSymbol)) {
        runtime.functions = {};
        reject(candidate, rejection, LoadStatus::SymbolMissing,
               "required FFmpeg symbol not found: " + runtime.missingSymbol);
        return false;
    }

    const FfmpegFunctions& fn = runtime.functions;
    const unsigned packed[kLibraryCount] = {fn.avutil_version(), fn.avcodec_version(),
                                            fn.avformat_version(), fn.swscale_version(),
                                            fn.swresample_version()};
    std::string mismatches;
    for (int i = 0; i < kLibraryCount; ++i) {
        const LibraryVersion version = unpackVersion(kLibrarySpecs[i], packed[i]);
        if (version.major != version.expectedMajor) {
            mismatches += " " + version.baseName + " runtime " + std::to_string(version.major) +
                          " expected " + std::to_string(version.expectedMajor) + ";";
        }
        runtime.versions.push_back(version);
    }
    if (!mismatches.empty()) {
        runtime.functions = {};
        runtime.versions.clear();
        reject(candidate, rejection, LoadStatus::VersionMismatch,
               "FFmpeg major version mismatch:" + mismatches);
        return false;
    }

    runtime.directory = candidate.directory;
    runtime.libraries = candidate.files;
    if (const char* licence = fn.avutil_license()) {
        runtime.licence = licence;
    }
    if (const char* configuration = fn.avcodec_configuration()) {
        runtime.configuration = configuration;
    }
    runtime.fingerprint = buildFingerprint(runtime.directory, runtime.versions, runtime.licence);
    runtime.handles_ = libraries.keep();
    return true;
}

std::unique_ptr<FfmpegRuntime> RuntimeLoader::load(const std::string& ffmpegDirectory,
                                                   bool releaseOnDestroy) {
    std::unique_ptr<FfmpegRuntime> runtime(new FfmpegRuntime());
    runtime->releaseOnDestroy_ = releaseOnDestroy;

    DiscoveryResult discovery = discoverFfmpeg(ffmpegDirectory);
    runtime->discoveryStatus = discovery.status;
    runtime->directory = std::move(discovery.directory);
    runtime->examinedDirectories = std::move(discovery.examinedDirectories);
    runtime->candidates = std::move(discovery.candidates);
    runtime->discoveryMessage = std::move(discovery.message);

    bool attempted = false;
    Rejection lastRejection;
    for (const CandidateSet& candidate : runtime->candidates) {
        if (!candidate.setComplete || !candidate.architectureOk) {
            continue;
        }
        attempted = true;
        if (bindCandidate(*runtime, candidate, lastRejection)) {
            runtime->loadStatus = LoadStatus::Ok;
            Logger::log(LogLevel::Info, "FFmpeg loaded from %s (licence: %s), %d symbols bound",
                        runtime->directory.c_str(), runtime->licence.c_str(), kSymbolCount);
            return runtime;
        }
    }

    if (!attempted) {
        runtime->loadStatus = LoadStatus::NotLocated;
        runtime->loadMessage = "FFmpeg not found: " + runtime->discoveryMessage;
        Logger::log(LogLevel::Error, "FFmpeg discovery failed (%s): %s; examined %zu directories",
                    statusName(runtime->discoveryStatus), runtime->discoveryMessage.c_str(),
                    runtime->examinedDirectories.size());
        return runtime;
    }

    // The load message still names a missing symbol.
    runtime->functions = {};
    runtime->versions.clear();
    runtime->missingSymbol.clear();
    runtime->loadStatus = lastRejection.status;
    runtime->loadMessage = "no candidate directory supplied a usable FFmpeg set (" +
                           std::to_string(runtime->examinedDirectories.size()) +
                           " directories examined): " + lastRejection.message;
    Logger::log(LogLevel::Error, "FFmpeg resolution failed after examining all candidates: %s",
                runtime->loadMessage.c_str());
    return runtime;
}

const FfmpegRuntime& FfmpegRuntime::instance() {
    // Built once, whichever thread asks first, and never destroyed: detached
    // conversion workers and FFmpeg's own threads (through the log bridge)
    // may still call through the table while the process exits.
    static const FfmpegRuntime* const runtime =
        RuntimeLoader::load(moduleFfmpegDirectory(), false).release();
    return *runtime;
}

std::unique_ptr<FfmpegRuntime> FfmpegRuntime::loadFrom(const std::string& moduleDirectory) {
    return RuntimeLoader::load(bundledFfmpegDirectory(moduleDirectory), true);
}

FfmpegRuntime::~FfmpegRuntime() {
    if (releaseOnDestroy_) {
        functions = {};
        CandidateLibraries::releaseLibraries(handles_);
    }
}

}  // namespace kestrova::ffmpeg
