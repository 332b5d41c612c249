#include "pixels/target_plan.h"

#include <algorithm>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/host_formats.h"
#include "pixels/plane_layout.h"

namespace kestrova {
namespace {

bool is601(const SourcePixelInfo& s) {
    return s.matrix == AVCOL_SPC_BT470BG || s.matrix == AVCOL_SPC_SMPTE170M;
}
bool isBt2020(const SourcePixelInfo& s) {
    return s.primaries == AVCOL_PRI_BT2020 || s.matrix == AVCOL_SPC_BT2020_NCL ||
           s.matrix == AVCOL_SPC_BT2020_CL;
}

// Four characters from their parts; `c` is the last character.
uint32_t code(char a, char b, char c3, char c4) {
    const char text[5] = {a, b, c3, c4, 0};
    return fourCC(text);
}

uint32_t planar420Variant(const SourcePixelInfo& s) {
    const char last = is601(s) ? (s.fullRange ? 'f' : '2') : (s.fullRange ? 'F' : '7');
    return code(s.chromaSiting == AVCHROMA_LOC_LEFT ? 'y' : 'Y', 'v', s.interlaced ? 'i' : '1',
                last);
}

uint32_t nv12Variant(const SourcePixelInfo& s) {
    const char last = is601(s) ? (s.fullRange ? '1' : '3') : (s.fullRange ? '0' : '2');
    return code('n', 'v', s.interlaced ? 'i' : '1', last);
}

uint32_t p010Variant(const SourcePixelInfo& s) {
    if (s.transfer == AVCOL_TRC_ARIB_STD_B67) {
        if (s.interlaced) {
            return fourCC("Phl0");
        }
        return s.fullRange ? fourCC("PHLf") : fourCC("PHL0");
    }
    const char scan = s.interlaced ? 'i' : '1';
    const char range = s.fullRange ? 'f' : '0';
    if (s.transfer == AVCOL_TRC_SMPTE2084) {
        return code('P', 'O', scan, range);
    }
    return code(isBt2020(s) ? 'P' : 'p', '0', scan, range);
}

uint32_t vuyx8Variant(const SourcePixelInfo& s, bool alpha) {
    if (alpha) {
        return is601(s) ? fourCC("vuya") : fourCC("VUYA");
    }
    return is601(s) ? fourCC("vuyx") : fourCC("vux7");
}

uint32_t vuyxFloatVariant(const SourcePixelInfo& s) {
    if (s.hasAlpha) {
        return is601(s) ? fourCC("VUya") : fourCC("vUYa");
    }
    return is601(s) ? fourCC("VUyx") : fourCC("VUx7");
}

uint32_t rgbFloat(bool alpha, bool linear = false) {
    if (linear) {
        return alpha ? fourCC("BGaL") : fourCC("BGxL");
    }
    return alpha ? fourCC("BGra") : fourCC("BGrx");
}

class PlanList {
  public:
    void add(uint32_t format, ConversionKind kind, int32_t score, const char* reason,
             bool direct = false, bool tagged = false) {
        if (format == kBadFormat) {
            return;
        }
        plans_.push_back({format, kind, score, direct, tagged, -1, reason});
    }
    bool empty() const { return plans_.empty(); }
    std::vector<TargetPlan>& plans() { return plans_; }

  private:
    std::vector<TargetPlan> plans_;
};

using K = ConversionKind;

// Step 1: the formats with a dedicated route.
void addTableRows(const SourcePixelInfo& s, PlanList& list) {
    switch (s.pixelFormat) {
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P:
            list.add(planar420Variant(s), K::PlaneCopy, 100,
                     "8-bit planar 4:2:0 maps directly; siting/scan/matrix/range select the "
                     "variant",
                     true);
            list.add(nv12Variant(s), K::InterleaveBiplanar, 80,
                     "NV12 alternative for hosts preferring biplanar");
            break;
        case AV_PIX_FMT_NV12:
            list.add(nv12Variant(s), K::PlaneCopy, 100,
                     "NV12 is Premiere's BIPLANAR_8u layout; plane copy", true);
            list.add(planar420Variant(s), K::PlaneCopy, 70,
                     "planar alternative, requires de-interleaving chroma");
            break;
        case AV_PIX_FMT_YUYV422:
            list.add(is601(s) ? fourCC("yuy2") : fourCC("yuy3"), K::PackedCopy, 100,
                     "YUYV422 is Premiere's YUYV_422_8u layout; memcpy", true);
            break;
        case AV_PIX_FMT_UYVY422:
            list.add(is601(s) ? fourCC("uyvy") : fourCC("uyv7"), K::PackedCopy, 100,
                     "UYVY422 is Premiere's UYVY_422_8u layout; memcpy", true);
            break;
        case AV_PIX_FMT_BGRA:
            list.add(fourCC("bgra"), K::PlaneCopy, 100,
                     "BGRA matches Premiere's byte order; row copy, bottom-up", true);
            break;
        case AV_PIX_FMT_BGR0:
            list.add(fourCC("bgrx"), K::PlaneCopy, 100, "BGR0 matches BGRX; row copy, bottom-up",
                     true);
            break;
        case AV_PIX_FMT_RGB24:
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_ARGB:
        case AV_PIX_FMT_RGBA:
        case AV_PIX_FMT_ABGR:
        case AV_PIX_FMT_0RGB:
        case AV_PIX_FMT_RGB0:
            list.add(rgbFloat(s.hasAlpha), K::FloatNormalize, 90,
                     "8-bit RGB promoted to float for sequence compatibility");
            break;
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUV444P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
            list.add(vuyx8Variant(s, false), K::InterleaveVuya, 85,
                     "planar 8-bit YUV interleaved to VUYX; chroma upsampled to 4:4:4");
            break;
        case AV_PIX_FMT_YUVA420P:
        case AV_PIX_FMT_YUVA422P:
        case AV_PIX_FMT_YUVA444P:
            list.add(vuyx8Variant(s, true), K::InterleaveVuya, 85,
                     "planar YUV with alpha interleaved to VUYA");
            break;
        case AV_PIX_FMT_GRAY8:
        case AV_PIX_FMT_GRAY16LE:
        case AV_PIX_FMT_GRAY10LE:
        case AV_PIX_FMT_GRAYF32LE:
            list.add(vuyxFloatVariant(s), K::FloatNormalize, 70,
                     "luma-only expanded to VUYX float with range-correct neutral chroma");
            break;
        case AV_PIX_FMT_RGB48LE:
        case AV_PIX_FMT_BGR48LE:
            list.add(fourCC("Bgrx"), K::Scale16u, 85,
                     "16-bit RGB rescaled to Premiere's 0..32768 white point");
            break;
        case AV_PIX_FMT_RGBA64LE:
        case AV_PIX_FMT_BGRA64LE:
            list.add(fourCC("Bgra"), K::Scale16u, 85,
                     "16-bit RGBA rescaled from 0..65535 to Premiere's 0..32768 white point");
            list.add(fourCC("BGra"), K::FloatNormalize, 80,
                     "float alternative avoids the 16u white-point rescale");
            break;
        case AV_PIX_FMT_YUV420P10LE:
            list.add(p010Variant(s), K::InterleaveBiplanar, 95,
                     "10-bit 4:2:0 -> P010 layout: interleave chroma, shift 10-bit into the high "
                     "bits",
                     false, s.hdr);
            list.add(vuyxFloatVariant(s), K::FloatNormalize, 40,
                     "float fallback, upsamples chroma to 4:4:4");
            break;
        case AV_PIX_FMT_P010LE:
            list.add(p010Variant(s), K::PlaneCopy, 100,
                     "P010 matches Premiere's BIPLANAR_10u_as16u layout exactly; plane copy", true,
                     s.hdr);
            list.add(vuyxFloatVariant(s), K::FloatNormalize, 40,
                     "float fallback if the host declines P010");
            break;
        case AV_PIX_FMT_YUV422P10LE:
            list.add(is601(s) ? fourCC("v210") : fourCC("v211"), K::PackV210, 95,
                     "10-bit 4:2:2 packed into v210 blocks, 48-pixel row alignment");
            list.add(vuyxFloatVariant(s), K::FloatNormalize, 40, "float fallback");
            break;
        case AV_PIX_FMT_GBRP10LE:
        case AV_PIX_FMT_X2RGB10LE: {
            const bool hlg = s.transfer == AVCOL_TRC_ARIB_STD_B67;
            list.add(hlg ? fourCC("@HL1") : fourCC("RGB1"), K::Pack10Rgb, 90,
                     "10-bit RGB packed into RGB_444_10u", false, hlg);
            break;
        }
        case AV_PIX_FMT_GBRPF32LE:
        case AV_PIX_FMT_GBRAPF32LE:
            list.add(rgbFloat(s.hasAlpha, s.transfer == AVCOL_TRC_LINEAR), K::PlanarRgbFloat, 95,
                     "planar float RGB interleaved to packed BGRA float; linear variant when the "
                     "transfer is linear");
            break;
        default:
            break;
    }
}

// Step 2: everything else goes through the general paths.
void addGeneralRows(const SourcePixelInfo& s, PlanList& list) {
    const bool high = s.bitDepth > 8 || s.isFloat;
    if (s.chroma == ChromaClass::Rgb) {
        if (high) {
            list.add(rgbFloat(s.hasAlpha), K::Swscale, 30,
                     "high-bit-depth RGB via swscale to float");
        } else {
            list.add(s.hasAlpha ? fourCC("bgra") : fourCC("bgrx"), K::Swscale, 30,
                     "8-bit RGB via swscale");
        }
        return;
    }
    if (!high) {
        list.add(vuyx8Variant(s, s.hasAlpha), K::Swscale, 25, "8-bit YUV via swscale to VUYX");
        return;
    }
    if (s.chroma == ChromaClass::Yuv420 && !s.hdr) {
        list.add(p010Variant(s), K::Swscale, 35, "high-bit-depth 4:2:0 via swscale to P010");
    }
    if (isBt2020(s) || s.hdr) {
        list.add(rgbFloat(s.hasAlpha), K::MatrixToRgbFloat, 32,
                 "wide-gamut or HDR without a tagged target: RGB float using the source matrix");
    }
    list.add(vuyxFloatVariant(s), K::Swscale, 30, "high-bit-depth YUV via swscale to VUYX float");
}

bool isBgraFamily(uint32_t format) {
    return format == fourCC("BGra") || format == fourCC("BGrx") || format == fourCC("bgra") ||
           format == fourCC("bgrx");
}

void sortByScore(std::vector<TargetPlan>& plans) {
    std::stable_sort(plans.begin(), plans.end(),
                     [](const TargetPlan& a, const TargetPlan& b) { return a.score > b.score; });
}

}  // namespace

void describeSourceFormat(SourcePixelInfo& info, int32_t pixelFormat) {
    info.pixelFormat = pixelFormat;
    info.bitDepth = 8;
    info.chroma = chromaClassOf(pixelFormat);
    info.hasAlpha = info.isFloat = info.bigEndian = info.planar = false;
    info.componentCount = 0;
    const AVPixFmtDescriptor* d = pixelFormatDescriptor(pixelFormat);
    if (d == nullptr) {
        return;
    }
    if (d->nb_components > 0 && d->comp[0].depth > 0) {
        info.bitDepth = d->comp[0].depth;
    }
    info.hasAlpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    info.isFloat = (d->flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    info.bigEndian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
    info.planar = (d->flags & AV_PIX_FMT_FLAG_PLANAR) != 0;
    info.componentCount = d->nb_components;
}

std::vector<TargetPlan> buildCandidateList(const SourcePixelInfo& source) {
    PlanList list;
    addTableRows(source, list);
    if (list.empty()) {
        addGeneralRows(source, list);
    }
    std::vector<TargetPlan>& plans = list.plans();
    // Every host can take float RGB, so a clip is never left without it, and
    // an HDR clip never without a format its frames may leave in.
    const bool noBgra = std::none_of(plans.begin(), plans.end(),
                                     [](const TargetPlan& p) { return isBgraFamily(p.format); });
    const bool noHdrTarget =
        source.hdr && std::none_of(plans.begin(), plans.end(), hdrDeliveryAllowed);
    if (noBgra || noHdrTarget) {
        list.add(rgbFloat(source.hasAlpha), K::MatrixToRgbFloat, 10,
                 "universal RGB float safety net (Requirement 3.15)");
    }
    sortByScore(plans);
    for (TargetPlan& plan : plans) {
        plan.sourceFormat = source.pixelFormat;
        plan.matrix = source.matrix;
        plan.fullRange = source.fullRange;
    }
    return std::move(plans);
}

void completeCandidateList(std::vector<TargetPlan>& plans, const SourcePixelInfo& source) {
    const bool nothingUsable = std::all_of(plans.begin(), plans.end(), [](const TargetPlan& p) {
        const auto first = static_cast<char>(p.format & 0xff);
        return first == '_' || first == '@';
    });
    if (plans.empty() || nothingUsable) {
        plans.push_back({fourCC("bgra"), K::Swscale, 0, false, false, source.pixelFormat,
                         "Universal BGRA fallback (Requirement 3.15)", source.matrix,
                         source.fullRange});
    }
    sortByScore(plans);
}

const TargetPlan* chooseNegotiatedPlan(const std::vector<TargetPlan>& plans, uint32_t desired,
                                       bool hdr) {
    if (plans.empty()) {
        return nullptr;
    }
    const auto wanted = std::find_if(plans.begin(), plans.end(), [&](const TargetPlan& p) {
        return desired != 0 && p.format == desired;
    });
    if (!hdr) {
        return wanted != plans.end() ? &*wanted : &plans.front();
    }
    // Delivery refuses an HDR clip anything else, so the negotiated format
    // must be one delivery accepts.
    if (wanted != plans.end() && hdrDeliveryAllowed(*wanted)) {
        return &*wanted;
    }
    const auto deliverable = std::find_if(plans.begin(), plans.end(), hdrDeliveryAllowed);
    if (deliverable != plans.end()) {
        return &*deliverable;
    }
    const auto wide = std::find_if(plans.begin(), plans.end(),
                                   [](const TargetPlan& p) { return !is8BitSdrFormat(p.format); });
    return wide != plans.end() ? &*wide : &plans.front();
}

bool hdrDeliveryAllowed(const TargetPlan& plan) {
    return plan.hdrTagged || is32fFormat(plan.format);
}

}  // namespace kestrova
