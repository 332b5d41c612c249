// The process-wide table of FFmpeg functions, bound at run time by name from
// the "ffmpeg" folder beside the module. Nothing links FFmpeg at build time.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::ffmpeg {

enum class DiscoveryStatus : int32_t {
    Ok = 0,
    NoCandidateDirectory = 1,
    IncompleteSet = 2,
    ArchitectureMismatch = 3,
    VersionMismatch = 4,
};

enum class LoadStatus : int32_t {
    Ok = 0,
    NotLocated = 1,
    LibraryOpenFailed = 2,
    SymbolMissing = 3,
    VersionMismatch = 4,
};

// Both terms above zero: a usable rate or time base.
inline bool isPositive(AVRational r) {
    return r.num > 0 && r.den > 0;
}

const char* statusName(DiscoveryStatus status);
const char* statusName(LoadStatus status);

// One row of the library table: base name and the major version expected.
struct FfmpegLibrarySpec {
    const char* baseName;
    int expectedMajor;
};
inline constexpr int kLibraryCount = 5;
inline constexpr FfmpegLibrarySpec kLibrarySpecs[kLibraryCount] = {
    {"avutil", 61}, {"avcodec", 63}, {"avformat", 63}, {"swscale", 10}, {"swresample", 7}};
// File name of a library on this platform ("libavutil.so.61").
std::string libraryFileName(const FfmpegLibrarySpec& library);

struct LibraryFile {
    std::string baseName;
    std::string fileName;
    std::string path;
};

struct CandidateSet {
    std::string directory;
    std::vector<LibraryFile> files;
    bool setComplete = false;
    bool architectureOk = false;
};

struct LibraryVersion {
    std::string baseName;
    int major = 0;
    int minor = 0;
    int micro = 0;
    int expectedMajor = 0;
};

// The symbols bound, in slot order, with the index into kLibrarySpecs of the
// library that exports each.
struct FfmpegSymbol {
    int library;
    const char* name;
};
inline constexpr FfmpegSymbol kSymbols[] = {
#define KESTROVA_FFMPEG_SYMBOL(library, name) {library, #name},
#include "ffmpeg/ffmpeg_symbols.inc"
#undef KESTROVA_FFMPEG_SYMBOL
};
inline constexpr int kSymbolCount = static_cast<int>(std::size(kSymbols));

// The bound functions, one typed pointer per symbol, in slot order: the
// required ones, then the optional ones (null when absent).
struct FfmpegFunctions {
#define KESTROVA_FFMPEG_SYMBOL(library, name) decltype(&::name) name = nullptr;
#define KESTROVA_FFMPEG_OPTIONAL_SYMBOL(library, name) decltype(&::name) name = nullptr;
#include "ffmpeg/ffmpeg_symbols.inc"
// clang-format off: the required slots come first
#include "ffmpeg/ffmpeg_optional_symbols.inc"
// clang-format on
#undef KESTROVA_FFMPEG_OPTIONAL_SYMBOL
#undef KESTROVA_FFMPEG_SYMBOL
};
inline constexpr int kOptionalSymbolCount = 0
#define KESTROVA_FFMPEG_OPTIONAL_SYMBOL(library, name) +1
#include "ffmpeg/ffmpeg_optional_symbols.inc"
#undef KESTROVA_FFMPEG_OPTIONAL_SYMBOL
    ;

class FfmpegRuntime {
  public:
    // The process-wide runtime, loaded from the "ffmpeg" folder beside the
    // module on first use.
    static const FfmpegRuntime& instance();
    // Runs the whole loading procedure for the folder that holds the module
    // (the "ffmpeg" folder below it is searched). Used by instance() and tests.
    static std::unique_ptr<FfmpegRuntime> loadFrom(const std::string& moduleDirectory);
    ~FfmpegRuntime();
    FfmpegRuntime(const FfmpegRuntime&) = delete;
    FfmpegRuntime& operator=(const FfmpegRuntime&) = delete;

    bool available() const { return loadStatus == LoadStatus::Ok; }
    const FfmpegFunctions& fn() const { return functions; }

    FfmpegFunctions functions;
    LoadStatus loadStatus = LoadStatus::NotLocated;
    std::string loadMessage;
    std::string missingSymbol;
    DiscoveryStatus discoveryStatus = DiscoveryStatus::NoCandidateDirectory;
    std::string directory;
    std::vector<LibraryFile> libraries;
    std::vector<std::string> examinedDirectories;
    std::vector<CandidateSet> candidates;
    std::string discoveryMessage;
    std::vector<LibraryVersion> versions;
    std::string licence;
    std::string configuration;
    std::string fingerprint;

  private:
    FfmpegRuntime() = default;
    // Handles of the bound libraries; kept loaded until the process ends
    // unless the runtime was loaded explicitly by loadFrom.
    std::vector<void*> handles_;
    bool releaseOnDestroy_ = false;
    friend struct RuntimeLoader;
};

}  // namespace kestrova::ffmpeg
