#include "index_options.h"

#include <charconv>

namespace kestrova::indextool {

const char* const kUsage =
    "usage: kestrova-index FILE [--stream S] [--out PATH]\n"
    "\n"
    "Writes the keyframe index (accelerator) file that the importer reads beside\n"
    "FILE, so that formats without an index of their own (MPEG-TS, MPEG-PS, raw\n"
    "streams, AVI without an index) seek by byte position.\n"
    "\n"
    "  --stream S   the container's stream number to index (default: the first\n"
    "               video stream)\n"
    "  --out PATH   where to write (default: FILE with its extension replaced by\n"
    "               .kstidx, where the importer looks for it)\n"
    "\n"
    "Exit status: 0 written, 1 failed, 2 usage error.\n";

bool parseIndexOptions(const std::vector<std::string>& words, IndexOptions& out,
                       std::string& error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string name = words[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
        }
        if (name == "--help" || name == "-h") {
            out.help = true;
            continue;
        }
        if (name == "--stream" || name == "--out") {
            if (!value) {
                if (i + 1 >= words.size()) {
                    error = name + " needs a value";
                    return false;
                }
                value = words[++i];
            }
            if (name == "--out") {
                if (value->empty()) {
                    error = "--out needs a path";
                    return false;
                }
                out.out = *value;
                continue;
            }
            int32_t stream = -1;
            const char* end = value->data() + value->size();
            const auto parsed = std::from_chars(value->data(), end, stream);
            if (parsed.ec != std::errc() || parsed.ptr != end || stream < 0) {
                error = "--stream needs a stream number, not '" + *value + "'";
                return false;
            }
            out.stream = stream;
            continue;
        }
        if (name.rfind("-", 0) == 0 && name.size() > 1) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!out.media.empty()) {
            error = "unexpected argument '" + name + "'";
            return false;
        }
        out.media = name;
    }
    if (out.media.empty() && !out.help) {
        error = "no media file given";
        return false;
    }
    return true;
}

}  // namespace kestrova::indextool
