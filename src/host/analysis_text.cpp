#include "host/analysis_text.h"

#include "support/append_format.h"

namespace kestrova::host {
namespace {

constexpr double kGiB = 1073741824.0;
constexpr double kMiB = 1048576.0;
constexpr double kKiB = 1024.0;

}  // namespace

std::string fileSizeText(uint64_t bytes) {
    std::string text;
    const auto size = static_cast<double>(bytes);
    if (size >= kGiB) {
        appendFormat(text, "%.2f GB", size / kGiB);
    } else if (size >= kMiB) {
        appendFormat(text, "%.2f MB", size / kMiB);
    } else if (size >= kKiB) {
        appendFormat(text, "%.2f KB", size / kKiB);
    } else {
        appendFormat(text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

std::string durationText(int64_t microseconds) {
    const long long milliseconds = microseconds / 1000;
    std::string text;
    appendFormat(text, "%lld:%02lld:%02lld.%03lld", milliseconds / 3600000,
                 milliseconds / 60000 % 60, milliseconds / 1000 % 60, milliseconds % 1000);
    return text;
}

std::string dataRateLine(uint64_t bytes, int64_t microseconds) {
    const double seconds = static_cast<double>(microseconds) / 1e6;
    std::string text;
    appendFormat(text, "Average Data Rate: %.0f kbit/s\n",
                 static_cast<double>(bytes) * 8.0 / 1000.0 / seconds);
    return text;
}

std::string hdrMetadataText(const HdrMetadata& hdr) {
    if (!hdr.masteringPresent && !hdr.contentLightPresent && !hdr.hdr10PlusPresent &&
        !hdr.doviPresent) {
        return {};
    }
    std::string text = "HDR Metadata:\n";
    if (hdr.masteringPresent) {
        text += "  Mastering Display (SMPTE ST 2086):\n";
        const double* p = hdr.primaries;
        if (hdr.hasPrimaries) {
            appendFormat(text, "    Primaries: R(%.4f, %.4f) G(%.4f, %.4f) B(%.4f, %.4f)\n", p[0],
                         p[1], p[2], p[3], p[4], p[5]);
            appendFormat(text, "    White Point: (%.4f, %.4f)\n", p[6], p[7]);
        }
        if (hdr.hasLuminance) {
            appendFormat(text, "    Luminance: %.4f - %.1f cd/m^2\n", hdr.minLuminance,
                         hdr.maxLuminance);
        }
    }
    if (hdr.contentLightPresent) {
        text += "  Content Light Level (CTA-861.3):\n";
        appendFormat(text, "    MaxCLL: %u cd/m^2\n", hdr.maxContentLight);
        appendFormat(text, "    MaxFALL: %u cd/m^2\n", hdr.maxFrameAverageLight);
    }
    if (hdr.hdr10PlusPresent) {
        appendFormat(text, "  HDR10+ (ST 2094-40): present (%zu bytes)\n", hdr.hdr10PlusSize);
    }
    if (hdr.doviPresent) {
        text += "  Dolby Vision:\n";
        if (hdr.doviProfile >= 0) {
            appendFormat(text, "    Profile: %d, Level: %d\n", hdr.doviProfile, hdr.doviLevel);
        }
        appendFormat(text, "    RPU data: %zu bytes\n", hdr.doviSize);
    }
    return text;
}

const char* mediaTypeName(int32_t mediaType) {
    switch (mediaType) {
        case 0:
            return "video";
        case 1:
            return "audio";
        case 2:
            return "data";
        case 3:
            return "subtitle";
        default:
            return "other";
    }
}

}  // namespace kestrova::host
