#include "wav_output.h"

#include <bit>
#include <cstring>

namespace kestrova::cli {
namespace {

static_assert(std::endian::native == std::endian::little, "WAV samples are written as in memory");

constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT as it lies in the file.
constexpr uint8_t kFloatSubformat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// RIFF sizes are 32-bit.
constexpr int64_t kMaxRiffBytes = 0xFFFFFFFF;

// Host labels 100 to 117 in the order of the WAV speaker bits (front left,
// front right, centre, LFE, back left, back right, left and right of centre,
// back centre, side left and right, top centre, top front left, centre and
// right, top back left, centre and right).
constexpr int32_t kLabelOfSpeakerBit[] = {100, 101, 102, 103, 104, 105, 107, 108, 106,
                                          109, 110, 111, 112, 114, 113, 115, 117, 116};

void put16(std::ofstream& out, uint16_t value) {
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    out.write(reinterpret_cast<const char*>(bytes), 2);
}

void put32(std::ofstream& out, uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    out.write(reinterpret_cast<const char*>(bytes), 4);
}

}  // namespace

uint32_t speakerMask(std::span<const int32_t> labels) {
    uint32_t mask = 0;
    int32_t lastBit = -1;
    for (const int32_t label : labels) {
        int32_t bit = 0;
        while (bit < int32_t(std::size(kLabelOfSpeakerBit)) && kLabelOfSpeakerBit[bit] != label) {
            ++bit;
        }
        if (bit == int32_t(std::size(kLabelOfSpeakerBit)) || bit <= lastBit) {
            return 0;
        }
        mask |= uint32_t{1} << bit;
        lastBit = bit;
    }
    return mask;
}

bool WavWriter::open(const std::filesystem::path& path, int32_t channels, int32_t sampleRate,
                     uint32_t speakerMask, std::string& error) {
    if (channels < 1 || channels > 1024 || sampleRate < 1) {
        error = "no channels or no sample rate to write";
        return false;
    }
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) {
        error = "cannot create the file";
        return false;
    }
    channels_ = channels;
    const bool extensible = channels > 2;
    const auto blockAlign = static_cast<uint16_t>(channels * 4);
    file_.write("RIFF\0\0\0\0WAVEfmt ", 16);
    put32(file_, extensible ? 40 : 18);
    put16(file_, extensible ? kFormatExtensible : kFormatFloat);
    put16(file_, static_cast<uint16_t>(channels));
    put32(file_, static_cast<uint32_t>(sampleRate));
    put32(file_, static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(file_, blockAlign);
    put16(file_, 32);
    put16(file_, extensible ? 22 : 0);
    if (extensible) {
        put16(file_, 32);
        put32(file_, speakerMask);
        file_.write(reinterpret_cast<const char*>(kFloatSubformat), sizeof kFloatSubformat);
    }
    // Files of any format but integer PCM carry their frame count in a fact chunk.
    file_.write("fact", 4);
    put32(file_, 4);
    factOffset_ = file_.tellp();
    put32(file_, 0);
    file_.write("data", 4);
    dataOffset_ = file_.tellp();
    put32(file_, 0);
    if (!file_) {
        error = "cannot write the header";
        return false;
    }
    return true;
}

bool WavWriter::append(const float* const* planes, int64_t frames, std::string& error) {
    if (frames < 1) {
        return true;
    }
    if ((frames_ + frames) * channels_ * 4 > kMaxRiffBytes - dataOffset_) {
        error = "the audio does not fit a WAV file (4 GiB)";
        return false;
    }
    interleaved_.resize(static_cast<std::size_t>(frames * channels_));
    for (int32_t c = 0; c < channels_; ++c) {
        for (int64_t i = 0; i < frames; ++i) {
            interleaved_[static_cast<std::size_t>(i * channels_ + c)] = planes[c][i];
        }
    }
    file_.write(reinterpret_cast<const char*>(interleaved_.data()),
                static_cast<std::streamsize>(interleaved_.size() * sizeof(float)));
    frames_ += frames;
    if (!file_) {
        error = "cannot write the samples";
        return false;
    }
    return true;
}

bool WavWriter::finish(std::string& error) {
    const auto dataBytes = static_cast<uint32_t>(frames_ * channels_ * 4);
    file_.seekp(4);
    put32(file_, static_cast<uint32_t>(dataOffset_) + 4 + dataBytes - 8);
    file_.seekp(factOffset_);
    put32(file_, static_cast<uint32_t>(frames_));
    file_.seekp(dataOffset_);
    put32(file_, dataBytes);
    file_.close();
    if (!file_) {
        error = "cannot finish the file";
        return false;
    }
    return true;
}

}  // namespace kestrova::cli
