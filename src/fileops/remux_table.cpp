#include "fileops/remux_table.h"

#include <array>
#include <utility>

namespace kestrova::fileops {

const char* muxerForDemuxer(std::string_view demuxerName) {
    static constexpr std::array<std::pair<std::string_view, const char*>, 7> kTable = {{
        {"mov,mp4,m4a,3gp,3g2,mj2", "mov"},
        {"matroska,webm", "matroska"},
        {"mpegts", "mpegts"},
        {"mxf", "mxf"},
        {"avi", "avi"},
        {"flv", "flv"},
        {"ogg", "ogg"},
    }};
    for (const auto& [demuxer, muxer] : kTable) {
        if (demuxer == demuxerName) {
            return muxer;
        }
    }
    return nullptr;
}

const char* trimMuxerFor(std::string_view demuxerName, std::string_view majorBrand) {
    const char* muxer = muxerForDemuxer(demuxerName);
    if (muxer && std::string_view(muxer) == "mov" && !majorBrand.empty() && majorBrand != "qt  ") {
        return "mp4";
    }
    return muxer;
}

}  // namespace kestrova::fileops
