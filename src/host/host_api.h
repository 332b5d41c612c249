// Host interface definitions shared by the module and the stand-in host.
// Records the host hands over are byte buffers read and written at fixed
// offsets; where the host interface leaves a layout open it is fixed here,
// once, so a build for the real host only swaps this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrova::host {

using Selector = int32_t;
using Result = int32_t;

// Result codes.
inline constexpr Result imNoErr = 0;
inline constexpr Result imUnsupported = 3;
inline constexpr Result imFailure = 5;
inline constexpr Result imAsyncFailure = 2;
inline constexpr Result imSupports7 = 100;
inline constexpr Result imSupports8 = 101;
inline constexpr Result imBadFormatIndex = 301;
inline constexpr Result imInitOk = 400;
inline constexpr Result imAnotherStream = 18;
inline constexpr Result imNoCaptions = 40;

// Selector numbers.
enum SelectorNumber : Selector {
    imInit = 0,
    imShutdown = 1,
    imQuietFile = 8,
    imCloseFile = 9,
    imAnalysis = 12,
    imGetIndFormat = 14,
    imGetMetaData = 23,
    imImportAudio7 = 25,
    imGetIndPixelFormat = 27,
    imGetSupports7 = 28,
    imResetSequentialAudio = 29,
    imGetSequentialAudio = 30,
    imGetSupports8 = 36,
    imGetInfo8 = 37,
    imGetPrefs8 = 38,
    imOpenFile8 = 39,
    imCalcSize8 = 42,
    imCheckTrim8 = 43,
    imTrimFile8 = 44,
    imGetPreferredFrameSize = 45,
    imCreateAsyncImporter = 46,
    imGetSourceVideo = 47,
    imGetPeakAudio = 49,
    imRetargetAccelerator = 50,
    imCopyFile = 51,
    imQueryDestinationPath = 56,
    imQueryContentState = 57,
    imQueryInputFileList = 59,
    imQueryStreamLabel = 60,
    imInitiateAsyncClosedCaptionScan = 61,
    imGetNextClosedCaption = 62,
    imCompleteAsyncClosedCaptionScan = 63,
    imGetAudioChannelLayout = 64,
    imSelectClipFrameDescriptor = 65,
    imPerformSourceSettingsCommand = 66,
    imGetIndColorSpace = 73,
    imGetEmbeddedLUT = 82,
};

// The exported entry: selector, standard parameters, first and second parameter.
using ImportEntryFn = Result (*)(Selector, void* stdParms, void* param1, void* param2);
inline constexpr const char* kImportEntryName = "xImportEntry";

// Byte access to host records. Records are little-endian and may be unaligned.
template <typename T>
inline T readField(const void* record, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof(T));
    return value;
}
template <typename T>
inline void writeField(void* record, std::size_t offset, T value) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof(T));
}

// ---- Memory functions, utility functions and suites -----------------------

// Host memory functions: allocate(size) -> block or null; dispose(block).
struct HostMemoryFuncs {
    void* (*allocate)(std::size_t size);
    void (*dispose)(void* block);
};

struct BasicSuite;
// Host utility functions: the accessor for the basic suite.
struct HostUtilityFuncs {
    BasicSuite* (*getBasicSuite)();
};

// Suites record: the host's memory functions and utility functions.
struct HostSuitesRecord {
    int32_t version;
    HostMemoryFuncs* memFuncs;
    HostUtilityFuncs* utilFuncs;
};

// Standard parameters: the first 32-bit field is the importer API version.
namespace stdparms {
inline constexpr std::size_t kInterfaceVersion = 0;  // int32
inline constexpr std::size_t kSuites = 8;            // HostSuitesRecord*
inline constexpr std::size_t kSize = 16;
}  // namespace stdparms
inline constexpr int32_t kDefaultImporterApiVersion = 22;

// Basic suite: acquires and releases named suites by name and version.
// Both answer 0 on success.
struct BasicSuite {
    int32_t (*acquireSuite)(const char* name, int32_t version, const void** suite);
    int32_t (*releaseSuite)(const char* name, int32_t version);
};

// A host string: an opaque handle the host owns.
struct HostString {
    uint64_t handle;
};

// "MediaCore StringSuite" version 1. All functions answer 0 on success.
struct StringSuite {
    int32_t (*disposeString)(const HostString* string);
    int32_t (*allocateFromUtf8)(const uint8_t* utf8, HostString* out);
    int32_t (*copyToUtf8)(const HostString* string, uint8_t* buffer, uint32_t* bufferBytes);
};

// "Premiere Time Suite" version 1: the first function writes the ticks per second.
struct TimeSuite {
    int32_t (*getTicksPerSecond)(int64_t* ticksPerSecond);
};
inline constexpr int64_t kTicksPerSecond = 254016000000;

// "Importer File Manager Suite" version 4: the second function refreshes a file.
struct FileManagerSuite {
    int32_t (*reserved)();
    int32_t (*refreshFileAsync)(const char16_t* path);
};

// ---- Pixel buffers ----------------------------------------------------------

// A host frame buffer; the host owns it.
using PPixHand = void*;
inline constexpr int32_t kPPixReadWrite = 1;

// "Premiere PPix Suite" version 1. The first function releases a PPix.
struct PPixSuite {
    int32_t (*dispose)(PPixHand ppix);
    int32_t (*getPixels)(PPixHand ppix, int32_t access, char** pixels);
    int32_t (*getBounds)(PPixHand ppix, int32_t* width, int32_t* height);
    int32_t (*getRowBytes)(PPixHand ppix, int32_t* rowBytes);
    int32_t (*getPixelFormat)(PPixHand ppix, uint32_t* format);
};

// "Premiere PPix 2 Suite" version 3: the planes of planar and biplanar
// 4:2:0 buffers (a biplanar buffer answers null for its third plane).
struct PPix2Suite {
    int32_t (*getSize)(PPixHand ppix, std::size_t* bytes);
    int32_t (*getYUV420PlanarBuffers)(PPixHand ppix, int32_t access, char** y, uint32_t* yRowBytes,
                                      char** u, uint32_t* uRowBytes, char** v, uint32_t* vRowBytes);
};

// "Premiere PPix Creator 2 Suite" version 4.
struct PPixCreator2Suite {
    int32_t (*createPPix)(PPixHand* out, int32_t access, uint32_t format, int32_t width,
                          int32_t height, bool useFields, int32_t fieldNumber, int32_t aspectNum,
                          int32_t aspectDen);
};

// One acceptable frame format: size and FourCC.
struct FrameFormat {
    int32_t width;
    int32_t height;
    uint32_t format;
};
static_assert(sizeof(FrameFormat) == 12);

// "Premiere PPix Cache Suite" version 8: the host's own frame cache. The last
// two arguments are the request's pass-through values.
struct PPixCacheSuite {
    int32_t (*addFrameToCache)(int32_t importerId, int32_t streamIndex, PPixHand ppix,
                               int64_t frame, void* passThrough, int32_t passThroughValue);
    int32_t (*getFrameFromCache)(int32_t importerId, int32_t streamIndex, int64_t frame,
                                 int32_t formatCount, const FrameFormat* formats, PPixHand* out,
                                 void* passThrough, int32_t passThroughValue);
};

struct SuiteName {
    const char* name;
    int32_t version;
};
inline constexpr SuiteName kStringSuite{"MediaCore StringSuite", 1};
inline constexpr SuiteName kPPixSuite{"Premiere PPix Suite", 1};
inline constexpr SuiteName kPPix2Suite{"Premiere PPix 2 Suite", 3};
inline constexpr SuiteName kPPixCreator2Suite{"Premiere PPix Creator 2 Suite", 4};
inline constexpr SuiteName kPPixCacheSuite{"Premiere PPix Cache Suite", 8};
inline constexpr SuiteName kTimeSuite{"Premiere Time Suite", 1};
inline constexpr SuiteName kFileManagerSuite{"Importer File Manager Suite", 4};
// In the order they are acquired and released.
inline constexpr SuiteName kSuiteTable[] = {kStringSuite,       kPPixSuite,      kPPix2Suite,
                                            kPPixCreator2Suite, kPPixCacheSuite, kTimeSuite,
                                            kFileManagerSuite};

// ---- Records of imInit, imGetIndFormat and imGetPrefs8 ---------------------

// Importer info record (imInit). Fields are 32-bit unless stated.
namespace importinfo {
inline constexpr std::size_t kPriority = 52;
inline constexpr std::size_t kCanCalcSize = 64;
inline constexpr std::size_t kCanTrim = 68;
inline constexpr std::size_t kAvoidAudioConform = 72;
inline constexpr std::size_t kAcceleratorExtension = 76;  // char16_t*, 255 units at most
inline constexpr std::size_t kCanCopy = 84;
inline constexpr std::size_t kCanProvidePeakAudio = 96;
inline constexpr std::size_t kCanProvideFileList = 100;
inline constexpr std::size_t kCanProvideClosedCaptions = 104;
inline constexpr std::size_t kUnalignedFlag = 145;
inline constexpr std::size_t kClearedFlags[] = {8, 12, 28, 36, 40, 44, 48, 88};
inline constexpr std::size_t kSize = 160;
inline constexpr std::size_t kAcceleratorExtensionUnits = 256;
static_assert(kUnalignedFlag + 4 <= kSize);
}  // namespace importinfo

// Format description record (imGetIndFormat).
namespace formatdesc {
inline constexpr std::size_t kFileType = 0;  // uint32
inline constexpr std::size_t kClearedFields[] = {8, 556, 760};
inline constexpr std::size_t kFormatName = 12;
inline constexpr std::size_t kFormatNameBytes = 256;
inline constexpr std::size_t kShortName = 268;
inline constexpr std::size_t kShortNameBytes = 32;
inline constexpr std::size_t kExtensions = 300;
inline constexpr std::size_t kExtensionsBytes = 256;
inline constexpr std::size_t kSize = 768;
static_assert(kFormatName + kFormatNameBytes == kShortName);
static_assert(kShortName + kShortNameBytes == kExtensions);
static_assert(kExtensions + kExtensionsBytes == 556);
static_assert(760 + 4 <= kSize);
}  // namespace formatdesc

// Prefs record (imGetPrefs8): buffer pointer, length in bytes, first-time flag.
namespace prefsrec {
inline constexpr std::size_t kBuffer = 0;      // void*
inline constexpr std::size_t kLength = 8;      // int32
inline constexpr std::size_t kFirstTime = 12;  // uint8
inline constexpr std::size_t kSize = 16;
}  // namespace prefsrec

// The per-clip settings record the host stores with each clip.
inline constexpr int32_t kClipPrefsBytes = 112;
inline constexpr int32_t kClipPrefsFields = 28;
static_assert(kClipPrefsFields * 4 == kClipPrefsBytes);

// ---- Clip records ----------------------------------------------------------

// imQuietFile and imCloseFile: the first parameter is the host's file
// reference, the second the clip's private data itself.

// File access record, the first parameter of several clip selectors.
namespace fileaccess {
inline constexpr std::size_t kPath = 8;  // const char16_t*, zero-terminated
inline constexpr std::size_t kSize = 16;
}  // namespace fileaccess

// Open record (imOpenFile8, second parameter).
namespace openrec {
inline constexpr std::size_t kPath = 12;         // const char16_t*, zero-terminated
inline constexpr std::size_t kPrivateData = 36;  // void*
inline constexpr std::size_t kHostValue = 52;    // int32, handed back to the PPix Cache Suite
inline constexpr std::size_t kExtraMemory = 56;  // int64 out
inline constexpr std::size_t kStreamIndex = 64;  // int32
inline constexpr std::size_t kSize = 72;
}  // namespace openrec

// Info record (imGetInfo8, second parameter).
namespace inforec {
inline constexpr std::size_t kHasVideo = 0;                // uint8
inline constexpr std::size_t kHasAudio = 1;                // uint8
inline constexpr std::size_t kWidth = 2;                   // int32
inline constexpr std::size_t kHeight = 6;                  // int32
inline constexpr std::size_t kDepth = 12;                  // int16
inline constexpr std::size_t kSubType = 14;                // uint32 four-character code
inline constexpr std::size_t kFieldType = 18;              // uint8
inline constexpr std::size_t kAlphaType = 22;              // uint8
inline constexpr std::size_t kIsStill = 31;                // uint8
inline constexpr std::size_t kNoDuration = 32;             // uint8
inline constexpr std::size_t kAspectNum = 34;              // int32
inline constexpr std::size_t kAspectDen = 38;              // int32
inline constexpr std::size_t kVideoOnes[] = {50, 54, 98};  // int32 each
inline constexpr std::size_t kDetectionFlags = 74;         // int32
inline constexpr std::size_t kCodecDescription = 82;       // HostString
inline constexpr std::size_t kPrivateData = 198;           // void*
inline constexpr std::size_t kHasEmbeddedLut = 110;        // int32
inline constexpr std::size_t kBitDepth = 114;              // int32
inline constexpr std::size_t kFrameRateNum = 162;          // int32
inline constexpr std::size_t kFrameRateDen = 166;          // int32
inline constexpr std::size_t kDurationFrames = 170;        // int32
inline constexpr std::size_t kChannels = 174;              // int32
inline constexpr std::size_t kSampleRate = 178;            // float
inline constexpr std::size_t kSampleType = 182;            // int32
inline constexpr std::size_t kAudioDuration = 186;         // int64
inline constexpr std::size_t kAudioAccessModes = 194;      // int32
inline constexpr std::size_t kStreamIndex = 215;           // int32 in
inline constexpr std::size_t kReservedByte = 219;          // uint8
inline constexpr std::size_t kPath = 738;                  // char16_t[2048]
inline constexpr std::size_t kPathUnits = 2048;
inline constexpr std::size_t kAudioPresent = 4834;      // uint8
inline constexpr std::size_t kAudioNoDuration = 4835;   // uint8
inline constexpr std::size_t kHostNoDurationIn = 4836;  // uint8 in
inline constexpr std::size_t kSettingsId = 4837;        // char16_t[256]
inline constexpr std::size_t kSettingsIdUnits = 256;
inline constexpr std::size_t kDurationFrames64 = 5349;  // int64
inline constexpr std::size_t kCaptionsPossible = 5373;  // uint8
inline constexpr std::size_t kSize = 5376;
static_assert(kPath + kPathUnits * 2 <= kAudioPresent);
static_assert(kSettingsId + kSettingsIdUnits * 2 <= kDurationFrames64);
}  // namespace inforec

// Frame size record (imGetPreferredFrameSize, first parameter).
namespace framesizerec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kIndex = 20;       // int32
inline constexpr std::size_t kWidth = 24;       // int32 out
inline constexpr std::size_t kHeight = 28;      // int32 out
inline constexpr std::size_t kSize = 32;
}  // namespace framesizerec

// imRetargetAccelerator record: two zero-terminated UTF-16 path pointers.
namespace retargetrec {
inline constexpr std::size_t kMediaPath = 0;        // const char16_t*
inline constexpr std::size_t kAcceleratorPath = 8;  // const char16_t*
inline constexpr std::size_t kSize = 16;
}  // namespace retargetrec

// imGetIndPixelFormat: the index is the first parameter, this record the second.
namespace pixelformatrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kFormat = 8;       // uint32 out
inline constexpr std::size_t kSize = 16;
}  // namespace pixelformatrec

// imSelectClipFrameDescriptor (first parameter). A frame descriptor is 28
// bytes: pixel format, width, height, then fields passed through unchanged.
namespace framedescrec {
inline constexpr std::size_t kDescriptorBytes = 28;
inline constexpr std::size_t kDesired = 8;       // descriptor in
inline constexpr std::size_t kOutput = 36;       // descriptor out
inline constexpr std::size_t kOutWidth = 40;     // int32
inline constexpr std::size_t kOutHeight = 44;    // int32
inline constexpr std::size_t kPrivateData = 64;  // void*
inline constexpr std::size_t kSize = 72;
static_assert(kDesired + kDescriptorBytes == kOutput);
static_assert(kOutput + kDescriptorBytes == kPrivateData);
}  // namespace framedescrec

// imGetIndColorSpace: the index is the first parameter, this record the second.
namespace colorspacerec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kKind = 8;         // int32 out: 3 described, 1 ICC
inline constexpr std::size_t kIccSize = 16;     // int32 in and out
inline constexpr std::size_t kIccBuffer = 24;   // uint8_t*
inline constexpr std::size_t kPrimaries = 48;   // int32 each from here
inline constexpr std::size_t kTransfer = 52;
inline constexpr std::size_t kMatrix = 56;
inline constexpr std::size_t kBitDepth = 60;
inline constexpr std::size_t kFullRange = 64;
inline constexpr std::size_t kRgb = 68;
inline constexpr std::size_t kSceneReferred = 72;
inline constexpr std::size_t kSize = 80;
inline constexpr int32_t kKindDescribed = 3;
inline constexpr int32_t kKindIcc = 1;
}  // namespace colorspacerec

// imPerformSourceSettingsCommand (first parameter).
namespace settingsrec {
inline constexpr std::size_t kBuffer = 0;        // void*
inline constexpr std::size_t kBufferSize = 8;    // int32
inline constexpr std::size_t kPrivateData = 12;  // void*
inline constexpr std::size_t kSize = 20;
}  // namespace settingsrec

// imGetSourceVideo: the file reference is the first parameter, this record
// the second.
namespace sourcevideorec {
inline constexpr std::size_t kPrivateData = 0;        // void*
inline constexpr std::size_t kTime = 8;               // int64 host ticks
inline constexpr std::size_t kFormats = 16;           // const FrameFormat*
inline constexpr std::size_t kFormatCount = 24;       // int32
inline constexpr std::size_t kQuality = 28;           // int32
inline constexpr std::size_t kOutPPix = 32;           // PPixHand*
inline constexpr std::size_t kPassThrough = 40;       // void*, for the PPix Cache Suite
inline constexpr std::size_t kPassThroughValue = 48;  // int32, likewise
inline constexpr std::size_t kSize = 56;
}  // namespace sourcevideorec

// Audio read record (imImportAudio7 and, without the position,
// imGetSequentialAudio and imResetSequentialAudio; second parameter).
namespace audiorec {
inline constexpr std::size_t kPosition = 0;      // int64 sample frame
inline constexpr std::size_t kFrameCount = 8;    // uint32
inline constexpr std::size_t kPlanes = 12;       // float** host planes, one per channel
inline constexpr std::size_t kPrivateData = 20;  // void*
inline constexpr std::size_t kSize = 28;
}  // namespace audiorec

// Channel layout record (imGetAudioChannelLayout).
namespace layoutrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kLabels = 8;       // int32[32]
inline constexpr int32_t kLabelCount = 32;
inline constexpr std::size_t kSize = kLabels + kLabelCount * 4;
}  // namespace layoutrec

// Peak record (imGetPeakAudio, first parameter).
namespace peakrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kPosition = 16;    // int64, in peak frames
inline constexpr std::size_t kRate = 24;        // float, peak frames per second
inline constexpr std::size_t kFrames = 28;      // int32
inline constexpr std::size_t kMaxima = 32;      // float** one plane per channel
inline constexpr std::size_t kMinima = 40;      // float**
inline constexpr std::size_t kSize = 48;
}  // namespace peakrec

// ---- Analysis, metadata and file queries ------------------------------------

inline constexpr Result imNoMetadata = 16;
inline constexpr Result imCannotExamineFile = 38;

// imAnalysis (first parameter): the text buffer may be null (size query).
namespace analysisrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kBufferSize = 16;  // int32 in and out, bytes
inline constexpr std::size_t kBuffer = 20;      // char*
inline constexpr std::size_t kSize = 28;
}  // namespace analysisrec

// imGetMetaData (second parameter; the first is the file access record).
namespace metadatarec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kCode = 16;        // uint32 requested code
inline constexpr std::size_t kBufferSize = 20;  // int32 in and out, bytes
inline constexpr std::size_t kBuffer = 24;      // uint8_t*
inline constexpr std::size_t kSize = 32;
}  // namespace metadatarec
// The one metadata code served: the characters "XMP_" from the highest byte down.
inline constexpr uint32_t kXmpMetadataCode = 0x584D505F;

// imQueryStreamLabel (first parameter).
namespace streamlabelrec {
inline constexpr std::size_t kPrivateData = 0;   // void*
inline constexpr std::size_t kStreamIndex = 16;  // int32
inline constexpr std::size_t kLabel = 20;        // HostString out
inline constexpr std::size_t kSize = 28;
}  // namespace streamlabelrec

// imQueryContentState (first parameter).
namespace contentstaterec {
inline constexpr std::size_t kPath = 0;   // const char16_t*
inline constexpr std::size_t kState = 8;  // char[37] out
inline constexpr std::size_t kStateBytes = 37;
inline constexpr std::size_t kSize = kState + kStateBytes;
}  // namespace contentstaterec

// imQueryInputFileList (first parameter). Each array entry holds a host
// string in its first eight bytes; the rest is the host's.
namespace filelistrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kCount = 32;       // int32 in (capacity) and out
inline constexpr std::size_t kEntries = 36;     // uint8_t*, kEntryBytes per entry
inline constexpr std::size_t kEntryBytes = 16;
inline constexpr std::size_t kSize = 44;
static_assert(sizeof(HostString) <= kEntryBytes);
}  // namespace filelistrec

// imQueryDestinationPath (first parameter). The destination buffer is the
// host's and may be null.
namespace destpathrec {
inline constexpr std::size_t kSourcePath = 16;   // const char16_t*
inline constexpr std::size_t kDestination = 32;  // char16_t*, kDestinationUnits
inline constexpr std::size_t kDestinationUnits = 260;
inline constexpr std::size_t kSize = 40;
}  // namespace destpathrec

// imGetEmbeddedLUT (first parameter): the buffer may be null (size query).
namespace lutrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
inline constexpr std::size_t kBufferSize = 8;   // int32 in and out, bytes
inline constexpr std::size_t kBuffer = 16;      // uint8_t*
inline constexpr std::size_t kSize = 24;
}  // namespace lutrec

// ---- The asynchronous importer ---------------------------------------------

// imCreateAsyncImporter (first parameter).
namespace asynccreaterec {
inline constexpr std::size_t kPrivateData = 0;      // void*, the clip
inline constexpr std::size_t kPassThrough = 8;      // int64, kept with the instance
inline constexpr std::size_t kOutEntry = 16;        // AsyncEntryFn out
inline constexpr std::size_t kOutPrivateData = 24;  // void* out, the async instance
inline constexpr std::size_t kSize = 32;
}  // namespace asynccreaterec

// The second entry: selector and one parameter, a record or the instance.
using AsyncEntryFn = Result (*)(Selector, void* param);

enum AsyncSelectorNumber : Selector {
    aiInitiateAsyncRead = 0,
    aiCancelAsyncRead = 1,
    aiFlush = 2,
    aiGetFrame = 3,
    aiClose = 4,
    aiContinueToWaitForAsyncIO = 5,
    aiSelectEfficientRenderTime = 6,
    aiGetMinPlaybackSpeedForSelectingEfficientTime = 7,
};

// Async result codes beside imNoErr.
inline constexpr Result aiNotHandled = 1;
inline constexpr Result aiFailure = imAsyncFailure;
inline constexpr Result aiClosing = 3;

// Every async record begins with the instance (aiFlush and aiClose take the
// instance itself).
namespace asyncrec {
inline constexpr std::size_t kPrivateData = 0;  // void*
}  // namespace asyncrec

// aiGetFrame.
namespace asyncframerec {
inline constexpr std::size_t kPrivateData = asyncrec::kPrivateData;
inline constexpr std::size_t kTime = 8;               // int64 host ticks
inline constexpr std::size_t kFormats = 16;           // const FrameFormat*
inline constexpr std::size_t kFormatCount = 24;       // int32
inline constexpr std::size_t kOutPPix = 32;           // PPixHand*
inline constexpr std::size_t kPassThrough = 40;       // void*, for the PPix Cache Suite
inline constexpr std::size_t kPassThroughValue = 48;  // int32, likewise
inline constexpr std::size_t kSize = 56;
}  // namespace asyncframerec

// aiSelectEfficientRenderTime: the time is read and rewritten.
namespace asynctimerec {
inline constexpr std::size_t kPrivateData = asyncrec::kPrivateData;
inline constexpr std::size_t kTime = 8;  // int64 host ticks
inline constexpr std::size_t kSize = 16;
}  // namespace asynctimerec

// aiGetMinPlaybackSpeedForSelectingEfficientTime.
namespace asyncspeedrec {
inline constexpr std::size_t kPrivateData = asyncrec::kPrivateData;
inline constexpr std::size_t kSpeed = 8;  // double out
inline constexpr std::size_t kSize = 16;
}  // namespace asyncspeedrec

// ---- Closed captions ----------------------------------------------------------
// The three caption selectors take their record as the first parameter.

// imInitiateAsyncClosedCaptionScan.
namespace captionscanrec {
inline constexpr std::size_t kPrivateData = 0;      // void*, the clip
inline constexpr std::size_t kScanState = 8;        // void* out, the scan
inline constexpr std::size_t kFrameRateNum = 16;    // int64 out
inline constexpr std::size_t kFrameRateDen = 24;    // int64 out
inline constexpr std::size_t kDurationFrames = 32;  // int64 out, estimated
inline constexpr std::size_t kSize = 40;
}  // namespace captionscanrec

// imGetNextClosedCaption. Byte captions go into the host's buffer, whose
// capacity the size slot holds on entry; text captions into the inline
// field, always zero-terminated. The size slot receives the bytes delivered.
namespace nextcaptionrec {
inline constexpr std::size_t kScanState = 0;      // void*
inline constexpr std::size_t kProgress = 8;       // float out, 0..1
inline constexpr std::size_t kFrameRateNum = 16;  // int64 out
inline constexpr std::size_t kFrameRateDen = 24;  // int64 out
inline constexpr std::size_t kTime = 32;          // int64 out, frames of that rate
inline constexpr std::size_t kFormat = 40;        // uint32 out: a caption format
inline constexpr std::size_t kData = 48;          // uint8_t*, may be null
inline constexpr std::size_t kDataSize = 56;      // uint64 in: capacity; out: bytes
inline constexpr std::size_t kText = 64;          // char[512]
inline constexpr std::size_t kTextBytes = 512;
inline constexpr std::size_t kSize = kText + kTextBytes;
}  // namespace nextcaptionrec

// imCompleteAsyncClosedCaptionScan.
namespace completecaptionrec {
inline constexpr std::size_t kScanState = 0;  // void*
inline constexpr std::size_t kCompleted = 8;  // int32, non-zero: the host walked without error
inline constexpr std::size_t kSize = 16;
}  // namespace completecaptionrec

inline constexpr Result imBadStreamIndex = 19;
inline constexpr Result imIterateFrameSizes = 24;
inline constexpr Result imDeclined = 2;
inline constexpr Result imMemErr = 4;

// A four-character host code, first character in the lowest byte.
inline constexpr uint32_t fourCC(const char (&c)[5]) {
    return uint32_t(uint8_t(c[0])) | uint32_t(uint8_t(c[1])) << 8 | uint32_t(uint8_t(c[2])) << 16 |
           uint32_t(uint8_t(c[3])) << 24;
}
inline constexpr uint32_t kBadFormat = fourCC("badf");

// Caption formats: EIA-608 byte pairs, CEA-708 caption data, and text (the
// code 'TTML', whose bytes in a little-endian field read "LMTT").
inline constexpr uint32_t kCaptionFormat608 = 608;
inline constexpr uint32_t kCaptionFormat708 = 708;
inline constexpr uint32_t kCaptionFormatText = fourCC("LMTT");

}  // namespace kestrova::host
