// The containers a trim can rewrite by copying packets, and the muxer that
// writes each.
#pragma once

#include <string_view>

namespace kestrova::fileops {

// The muxer for a demuxer name (compared whole), or null when packets read
// by that demuxer are not remuxed.
const char* muxerForDemuxer(std::string_view demuxerName);

// The muxer that writes a trim of a file read by `demuxerName`. One demuxer
// reads both QuickTime and ISO media files, but the QuickTime muxer refuses
// codecs only ISO media carries (VP9, AV1): a file whose major brand is not
// QuickTime's ("qt  ") is written as ISO media.
const char* trimMuxerFor(std::string_view demuxerName, std::string_view majorBrand);

}  // namespace kestrova::fileops
