#include "pixels/summary_pixels.h"

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/plane_layout.h"

namespace kestrova {
namespace {

constexpr int32_t kUnspecified = 2;
constexpr int32_t kBt709 = 1;
constexpr int32_t kBt470bg = 5;
constexpr int32_t kSmpte170m = 6;
constexpr int32_t kBt2020 = 9;
constexpr int32_t kBt2020Constant = 10;
constexpr int32_t kBt2020Ten = 14;

void fill(int32_t& value, int32_t with) {
    if (value == kUnspecified) {
        value = with;
    }
}

}  // namespace

ColourTags applyColourDefaults(int32_t primaries, int32_t transfer, int32_t matrix,
                               int32_t codedHeight) {
    ColourTags tags{primaries, transfer, matrix, false, false};
    if (primaries != kUnspecified && transfer != kUnspecified && matrix != kUnspecified) {
        tags.tagged = true;
        return tags;
    }
    const bool bt2020Matrix = matrix == kBt2020 || matrix == kBt2020Constant;
    if (primaries == kBt2020) {
        fill(tags.matrix, kBt2020);
        fill(tags.transfer, kBt2020Ten);
        tags.guessed = true;
    } else if (!bt2020Matrix && !isHdrTransfer(transfer)) {
        // Standard-definition heights keep their broadcast colourimetry.
        const bool ntsc =
            codedHeight == 240 || codedHeight == 480 || codedHeight == 486 || codedHeight == 512;
        const bool pal = codedHeight == 288 || codedHeight == 576;
        if (ntsc || pal) {
            fill(tags.primaries, ntsc ? kSmpte170m : kBt470bg);
            fill(tags.matrix, ntsc ? kSmpte170m : kBt470bg);
            fill(tags.transfer, kSmpte170m);
        } else {
            fill(tags.primaries, kBt709);
            fill(tags.matrix, kBt709);
            fill(tags.transfer, kBt709);
        }
        tags.guessed = true;
    } else {
        fill(tags.primaries, kBt2020);
        fill(tags.matrix, kBt2020);
        fill(tags.transfer, kBt2020Ten);
        tags.guessed = true;
    }
    return tags;
}

FieldOrder fieldOrderFromFfmpeg(int32_t ffmpegFieldOrder) {
    switch (ffmpegFieldOrder) {
        case AV_FIELD_PROGRESSIVE:
            return FieldOrder::Progressive;
        case AV_FIELD_TT:
        case AV_FIELD_TB:
            return FieldOrder::UpperFirst;
        case AV_FIELD_BB:
        case AV_FIELD_BT:
            return FieldOrder::LowerFirst;
        default:
            return FieldOrder::Unknown;
    }
}

bool isProgressiveOnlyCodec(int32_t codecId) {
    return codecId == AV_CODEC_ID_VP8 || codecId == AV_CODEC_ID_VP9 || codecId == AV_CODEC_ID_AV1;
}

AlphaMode alphaModeFor(bool formatHasAlpha, const std::string& alphaModeTag,
                       const std::string& premultipliedTag, bool& assumed) {
    assumed = false;
    if (!formatHasAlpha) {
        return AlphaMode::Opaque;
    }
    for (const std::string* tag : {&alphaModeTag, &premultipliedTag}) {
        if (*tag == "1") {
            return AlphaMode::Premultiplied;
        }
        if (*tag == "0") {
            return AlphaMode::Straight;
        }
    }
    assumed = true;
    return AlphaMode::Straight;
}

int32_t bitDepthOf(int32_t pixelFormat) {
    const AVPixFmtDescriptor* descriptor = pixelFormatDescriptor(pixelFormat);
    return descriptor && descriptor->nb_components > 0 && descriptor->comp[0].depth > 0
               ? descriptor->comp[0].depth
               : 8;
}

bool pixelFormatHasAlpha(int32_t pixelFormat) {
    const AVPixFmtDescriptor* descriptor = pixelFormatDescriptor(pixelFormat);
    return descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

}  // namespace kestrova
