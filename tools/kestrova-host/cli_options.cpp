#include "cli_options.h"

#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kestrova::cli {
namespace {

// The whole of `text` as a decimal number.
template <typename T>
bool parseDecimal(std::string_view text, T& number) {
    const char* end = text.data() + text.size();
    const auto [next, ec] = std::from_chars(text.data(), end, number);
    return ec == std::errc() && next == end;
}

bool parseLogLevel(std::string_view text, int32_t& level) {
    return parseDecimal(text, level) && level >= 0 && level <= 5;
}

// A frame number: decimal, 0 to a billion (more than any clip has frames).
bool parseFrame(std::string_view text, int64_t& frame) {
    return parseDecimal(text, frame) && frame >= 0 && frame <= 1000000000;
}

bool parseFrameList(std::string_view text, std::vector<int64_t>& frames) {
    while (true) {
        const std::size_t comma = text.find(',');
        int64_t frame = 0;
        if (!parseFrame(text.substr(0, comma), frame)) {
            return false;
        }
        frames.push_back(frame);
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

bool parseRange(std::string_view text, std::pair<int64_t, int64_t>& range) {
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && parseFrame(text.substr(0, colon), range.first) &&
           parseFrame(text.substr(colon + 1), range.second) && range.first < range.second;
}

// A sample frame: decimal, 0 to 2^40 (about eight months at 48 kHz).
bool parseSample(std::string_view text, int64_t& sample) {
    return parseDecimal(text, sample) && sample >= 0 && sample <= (int64_t{1} << 40);
}

bool parseSampleRange(std::string_view text, std::pair<int64_t, int64_t>& range) {
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && parseSample(text.substr(0, colon), range.first) &&
           parseSample(text.substr(colon + 1), range.second) && range.second > 0;
}

// --range means frames A to B-1 for frames and START:COUNT sample frames for
// audio, so it is read once the command is known.
bool applyRange(const std::string& text, CommandLine& out, std::string& error) {
    if (out.command == "audio") {
        std::pair<int64_t, int64_t> samples;
        if (!parseSampleRange(text, samples)) {
            error = "--range needs START:COUNT in sample frames with COUNT > 0, not '" + text + "'";
            return false;
        }
        out.options.samples = samples;
        return true;
    }
    std::pair<int64_t, int64_t> range;
    if (!parseRange(text, range)) {
        error = "--range needs A:B with frame numbers A < B, not '" + text + "'";
        return false;
    }
    out.options.range = range;
    return true;
}

// Seconds of a clip: a decimal number from 0 to a million.
bool parseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return *end == '\0' && seconds >= 0 && seconds <= 1e6;
}

// Four printable characters, the first stored in the lowest byte.
bool parseFourCC(std::string_view text, uint32_t& format) {
    if (text.size() != 4) {
        return false;
    }
    format = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c > 126) {
            return false;
        }
        format |= uint32_t{c} << (8 * i);
    }
    return true;
}

}  // namespace

bool parseCommandLine(const std::vector<std::string>& words, CommandLine& out, std::string& error) {
    std::optional<std::string> rangeText;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word[0] != '-') {
            if (out.command.empty()) {
                out.command = word;
            } else {
                out.arguments.push_back(word);
            }
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (const auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        const bool takesValue =
            name == "--module" || name == "--appdata" || name == "--log-level" ||
            name == "--stream" || name == "--at" || name == "--range" || name == "--format" ||
            name == "--out" || name == "--sheet" || name == "--shuffle" || name == "--frames" ||
            name == "--chunk" || name == "--rate" || name == "--png" || name == "--width" ||
            name == "--threads" || name == "--in" || name == "--dur";
        if (takesValue && !value) {
            if (i + 1 == words.size()) {
                error = name + " needs a value";
                return false;
            }
            value = words[++i];
        }
        if (takesValue && value->empty()) {
            error = name + " needs a value";
            return false;
        } else if (!takesValue && value) {
            error = name + " takes no value";
            return false;
        }
        if (name == "--module") {
            out.options.module = platform::pathFromUtf8(*value);
        } else if (name == "--appdata") {
            out.options.appData = platform::pathFromUtf8(*value);
        } else if (name == "--log-level") {
            int32_t level = 0;
            if (!parseLogLevel(*value, level)) {
                error = "--log-level needs a level from 0 to 5, not '" + *value + "'";
                return false;
            }
            out.options.logLevel = level;
        } else if (name == "--stream") {
            char* end = nullptr;
            const long stream = std::strtol(value->c_str(), &end, 10);
            if (*end != '\0' || stream < 0 || stream > 1000000) {
                error = "--stream needs a host stream index, not '" + *value + "'";
                return false;
            }
            out.options.stream = static_cast<int32_t>(stream);
        } else if (name == "--at") {
            out.options.at.clear();
            if (!parseFrameList(*value, out.options.at)) {
                error = "--at needs frame numbers separated by commas, not '" + *value + "'";
                return false;
            }
        } else if (name == "--range") {
            rangeText = *value;
        } else if (name == "--format") {
            uint32_t format = 0;
            if (!parseFourCC(*value, format)) {
                error = "--format needs a four-character code such as bgra, not '" + *value + "'";
                return false;
            }
            out.options.format = format;
        } else if (name == "--out") {
            out.options.out = platform::pathFromUtf8(*value);
        } else if (name == "--sheet") {
            out.options.sheet = platform::pathFromUtf8(*value);
        } else if (name == "--shuffle") {
            uint64_t seed = 0;
            if (!parseDecimal(*value, seed)) {
                error = "--shuffle needs a decimal seed, not '" + *value + "'";
                return false;
            }
            out.options.shuffle = seed;
        } else if (name == "--frames") {
            int64_t frames = 0;
            if (!parseFrame(*value, frames) || frames == 0) {
                error = "--frames needs a positive frame count, not '" + *value + "'";
                return false;
            }
            out.options.frames = frames;
        } else if (name == "--chunk") {
            int64_t chunk = 0;
            if (!parseDecimal(*value, chunk) || chunk < 1 || chunk > kMaxAudioChunk) {
                error = "--chunk needs a sample frame count from 1 to " +
                        std::to_string(kMaxAudioChunk) + ", not '" + *value + "'";
                return false;
            }
            out.options.chunk = chunk;
        } else if (name == "--rate") {
            char* end = nullptr;
            const double rate = std::strtod(value->c_str(), &end);
            if (*end != '\0' || !(rate > 0) || rate > 1e6) {
                error = "--rate needs points per second above 0, not '" + *value + "'";
                return false;
            }
            out.options.peakRate = rate;
        } else if (name == "--png") {
            out.options.png = platform::pathFromUtf8(*value);
        } else if (name == "--width") {
            int32_t width = 0;
            if (!parseDecimal(*value, width) || width < 16 || width > 16384) {
                error = "--width needs a width in pixels from 16 to 16384, not '" + *value + "'";
                return false;
            }
            out.options.width = width;
        } else if (name == "--threads") {
            int32_t threads = 0;
            if (!parseDecimal(*value, threads) || threads < 1 || threads > kMaxRequestingThreads) {
                error = "--threads needs a thread count from 1 to " +
                        std::to_string(kMaxRequestingThreads) + ", not '" + *value + "'";
                return false;
            }
            out.options.threads = threads;
        } else if (name == "--in" || name == "--dur") {
            double seconds = 0;
            if (!parseSeconds(*value, seconds)) {
                error = name + " needs seconds from 0 to 1e6, not '" + *value + "'";
                return false;
            }
            (name == "--in" ? out.options.in : out.options.duration) = seconds;
        } else if (name == "--no-audio") {
            out.options.noAudio = true;
        } else if (name == "--no-video") {
            out.options.noVideo = true;
        } else if (name == "--async") {
            out.options.async = true;
        } else if (name == "--scrub") {
            out.options.scrub = true;
        } else if (name == "--sequential") {
            out.options.sequential = true;
        } else if (name == "--hash") {
            out.options.hash = true;
        } else if (name == "--json") {
            out.options.json = true;
        } else if (name == "--help" || name == "-h") {
            out.options.help = true;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return !rangeText || applyRange(*rangeText, out, error);
}

std::filesystem::path modulePath(const GlobalOptions& options) {
    if (!options.module.empty()) {
        return options.module;
    }
    const std::filesystem::path program = platform::pathFromUtf8(platform::executablePath());
    return program.empty() ? std::filesystem::path("Kestrova.prm")
                           : program.parent_path() / "Kestrova.prm";
}

}  // namespace kestrova::cli
