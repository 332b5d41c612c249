#include "host/dispatch.h"

#include <cstdint>

#include "async/async_create.h"
#include "audio/audio_selectors.h"
#include "fileops/fileops_selectors.h"
#include "captions/caption_selectors.h"
#include "host/boundary_guard.h"
#include "host/clip_queries.h"
#include "host/clip_selectors.h"
#include "host/plugin_lifecycle.h"
#include "host/retarget_accelerator.h"
#include "host/selector_names.h"

namespace kestrova::host {
namespace {

// Indexes travel in the pointer-sized first parameter.
int32_t indexOf(void* param) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(param));
}

Result dispatchEntry(void* arguments) {
    const auto* args = static_cast<const EntryArguments*>(arguments);
    return dispatchSelector(args->selector, args->stdParms, args->param1, args->param2);
}

}  // namespace

Result dispatchSelector(Selector selector, void* stdParms, void* param1, void* param2) {
    switch (selector) {
        case imInit:
            return imInitHandler(stdParms, param1);
        case imShutdown:
            return imShutdownHandler();
        case imGetIndFormat:
            return imGetIndFormatHandler(indexOf(param1), param2);
        case imGetSupports7:
            return imSupports7;
        case imGetSupports8:
            return imSupports8;
        case imGetPrefs8:
            return imGetPrefs8Handler(param1, param2);
        case imOpenFile8:
            return imOpenFile8Handler(param1, param2);
        case imQuietFile:
            return imQuietFileHandler(param2);
        case imCloseFile:
            return imCloseFileHandler(param2);
        case imGetInfo8:
            return imGetInfo8Handler(param1, param2);
        case imGetPreferredFrameSize:
            return imGetPreferredFrameSizeHandler(param1);
        case imGetIndPixelFormat:
            return imGetIndPixelFormatHandler(indexOf(param1), param2);
        case imSelectClipFrameDescriptor:
            return imSelectClipFrameDescriptorHandler(stdParms, param1);
        case imGetIndColorSpace:
            return imGetIndColorSpaceHandler(indexOf(param1), param2);
        case imPerformSourceSettingsCommand:
            return imPerformSourceSettingsCommandHandler(param1);
        case imGetSourceVideo:
            return imGetSourceVideoHandler(param2);
        case imCreateAsyncImporter:
            return async::imCreateAsyncImporterHandler(param1);
        case imImportAudio7:
            return imImportAudio7Handler(param2);
        case imGetSequentialAudio:
            return imGetSequentialAudioHandler(param2);
        case imResetSequentialAudio:
            return imResetSequentialAudioHandler(param2);
        case imGetPeakAudio:
            return imGetPeakAudioHandler(param1);
        case imGetAudioChannelLayout:
            return imGetAudioChannelLayoutHandler(param1, param2);
        case imCalcSize8:
            return imCalcSize8Handler(param1, param2);
        case imCheckTrim8:
            return imCheckTrim8Handler(param1, param2);
        case imTrimFile8:
            return imTrimFile8Handler(param1, param2);
        case imCopyFile:
            return imCopyFileHandler(param1);
        case imRetargetAccelerator:
            return imRetargetAcceleratorHandler(param1);
        case imAnalysis:
            return imAnalysisHandler(param1);
        case imGetMetaData:
            return imGetMetaDataHandler(param1, param2);
        case imQueryStreamLabel:
            return imQueryStreamLabelHandler(param1);
        case imQueryContentState:
            return imQueryContentStateHandler(param1);
        case imQueryInputFileList:
            return imQueryInputFileListHandler(param1);
        case imQueryDestinationPath:
            return imQueryDestinationPathHandler(param1);
        case imGetEmbeddedLUT:
            return imGetEmbeddedLutHandler(param1);
        case imInitiateAsyncClosedCaptionScan:
            return imInitiateAsyncClosedCaptionScanHandler(param1);
        case imGetNextClosedCaption:
            return imGetNextClosedCaptionHandler(param1);
        case imCompleteAsyncClosedCaptionScan:
            return imCompleteAsyncClosedCaptionScanHandler(param1);
        default:
            // Selectors this importer does not handle, and every unknown number.
            return imUnsupported;
    }
}

Result guardedImportEntry(Selector selector, void* stdParms, void* param1, void* param2) {
    EntryArguments arguments{selector, stdParms, param1, param2};
    return HostBoundaryGuard(&dispatchEntry, &arguments, imFailure, "xImportEntry",
                             selectorName(selector), selector);
}

}  // namespace kestrova::host
