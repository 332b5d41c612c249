// Candidate target plans: which host pixel formats a decoded picture can be
// delivered in, by which conversion, in order of preference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "pixels/pixel_enums.h"

namespace kestrova {

struct SourcePixelInfo {
    int32_t pixelFormat = -1;
    int32_t bitDepth = 8;
    ChromaClass chroma = ChromaClass::Unknown;
    bool hasAlpha = false;
    bool isFloat = false;
    bool bigEndian = false;
    bool planar = false;
    int32_t componentCount = 0;
    int32_t chromaSiting = 0;  // FFmpeg chroma location; 1 is left
    bool interlaced = false;
    bool fullRange = false;
    int32_t primaries = 2;
    int32_t transfer = 2;
    int32_t matrix = 2;
    bool hdr = false;
};

// Fills the format-derived fields (format, depth, chroma class, flags,
// component count) from FFmpeg's descriptor of `pixelFormat`.
void describeSourceFormat(SourcePixelInfo& info, int32_t pixelFormat);

struct TargetPlan {
    uint32_t format = host::kBadFormat;
    ConversionKind kind = ConversionKind::PlaneCopy;
    int32_t score = 0;
    bool direct = false;
    bool hdrTagged = false;
    int32_t sourceFormat = -1;
    std::string reason;
    // The clip's described colour (stream tags, defaults, then overrides);
    // every conversion that applies a matrix uses it, not the frame's tags.
    int32_t matrix = 2;
    bool fullRange = false;
};

// Ordered candidates for a source picture, best first; pure apart from
// FFmpeg's descriptor lookup.
std::vector<TargetPlan> buildCandidateList(const SourcePixelInfo& source);

// The host selector's completion: a universal BGRA plan when nothing usable
// was offered, then a stable sort by score.
void completeCandidateList(std::vector<TargetPlan>& plans, const SourcePixelInfo& source);

// The negotiated plan for a host's desired format (0 = no wish): an HDR
// clip avoids the 8-bit SDR formats whenever it can. Null for an empty list.
const TargetPlan* chooseNegotiatedPlan(const std::vector<TargetPlan>& plans, uint32_t desired,
                                       bool hdr);

// An HDR clip's frames may only leave in an HDR-tagged or 32-bit float format.
bool hdrDeliveryAllowed(const TargetPlan& plan);

}  // namespace kestrova
