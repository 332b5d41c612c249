#include "host/selector_names.h"

namespace kestrova::host {

const char* selectorName(Selector selector) {
    switch (selector) {
        case imInit:
            return "imInit";
        case imShutdown:
            return "imShutdown";
        case imQuietFile:
            return "imQuietFile";
        case imCloseFile:
            return "imCloseFile";
        case imAnalysis:
            return "imAnalysis";
        case imGetIndFormat:
            return "imGetIndFormat";
        case imGetMetaData:
            return "imGetMetaData";
        case imImportAudio7:
            return "imImportAudio7";
        case imGetIndPixelFormat:
            return "imGetIndPixelFormat";
        case imGetSupports7:
            return "imGetSupports7";
        case imResetSequentialAudio:
            return "imResetSequentialAudio";
        case imGetSequentialAudio:
            return "imGetSequentialAudio";
        case imGetSupports8:
            return "imGetSupports8";
        case imGetInfo8:
            return "imGetInfo8";
        case imGetPrefs8:
            return "imGetPrefs8";
        case imOpenFile8:
            return "imOpenFile8";
        case imCalcSize8:
            return "imCalcSize8";
        case imCheckTrim8:
            return "imCheckTrim8";
        case imTrimFile8:
            return "imTrimFile8";
        case imGetPreferredFrameSize:
            return "imGetPreferredFrameSize";
        case imCreateAsyncImporter:
            return "imCreateAsyncImporter";
        case imGetSourceVideo:
            return "imGetSourceVideo";
        case imGetPeakAudio:
            return "imGetPeakAudio";
        case imRetargetAccelerator:
            return "imRetargetAccelerator";
        case imCopyFile:
            return "imCopyFile";
        case imQueryDestinationPath:
            return "imQueryDestinationPath";
        case imQueryContentState:
            return "imQueryContentState";
        case imQueryInputFileList:
            return "imQueryInputFileList";
        case imQueryStreamLabel:
            return "imQueryStreamLabel";
        case imInitiateAsyncClosedCaptionScan:
            return "imInitiateAsyncClosedCaptionScan";
        case imGetNextClosedCaption:
            return "imGetNextClosedCaption";
        case imCompleteAsyncClosedCaptionScan:
            return "imCompleteAsyncClosedCaptionScan";
        case imGetAudioChannelLayout:
            return "imGetAudioChannelLayout";
        case imSelectClipFrameDescriptor:
            return "imSelectClipFrameDescriptor";
        case imPerformSourceSettingsCommand:
            return "imPerformSourceSettingsCommand";
        case imGetIndColorSpace:
            return "imGetIndColorSpace";
        case imGetEmbeddedLUT:
            return "imGetEmbeddedLUT";
        default:
            return "unrecognised selector";
    }
}

}  // namespace kestrova::host
