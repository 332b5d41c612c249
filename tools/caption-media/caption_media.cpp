// Writes a short test clip whose captions are known: every picture carries
// one EIA-608 field-1 byte pair of a roll-up caption, either as A53 side data
// inside the video (MPEG-2 user data, H.264 SEI) or as a separate EIA-608
// track beside it. Links the bundled FFmpeg directly, in its own process.
//
//   kestrova-caption-media OUT ENCODER CARRIER
//
// ENCODER is an FFmpeg video encoder (mpeg2video, libx264, ffv1); CARRIER is a53 or
// track; the container follows OUT's extension.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 60;
constexpr AVRational kFrameRate{30000, 1001};
// The text the byte pairs spell, after the roll-up and carriage-return codes.
constexpr char kCaptionText[] = "HELLO KESTROVA";
// cc_valid set, cc_type 0 (field 1), marker bits set.
constexpr uint8_t kField1Marker = 0xFC;

struct ContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFormatContext* f) const {
        if (f && !(f->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&f->pb);
        }
        avformat_free_context(f);
    }
};
template <typename T>
using Owned = std::unique_ptr<T, ContextDeleter>;

uint8_t withOddParity(uint8_t byte) {
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit) {
        ones += (byte >> bit) & 1;
    }
    return ones % 2 ? byte : static_cast<uint8_t>(byte | 0x80);
}

// One byte pair per picture: roll-up two rows (sent twice, as 608 control
// codes are), the text two characters a picture, a carriage return that
// shows the row (twice), then null padding.
std::vector<std::array<uint8_t, 2>> bytePairs() {
    const std::array<uint8_t, 2> rollUp = {0x14, 0x25}, carriageReturn = {0x14, 0x2D};
    std::vector<std::array<uint8_t, 2>> pairs = {rollUp, rollUp};
    const std::string text = kCaptionText;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        pairs.push_back({static_cast<uint8_t>(text[i]),
                         static_cast<uint8_t>(i + 1 < text.size() ? text[i + 1] : 0)});
    }
    pairs.push_back(carriageReturn);
    pairs.push_back(carriageReturn);
    while (pairs.size() < kFrames) {
        pairs.push_back({0, 0});
    }
    for (auto& pair : pairs) {
        pair = {withOddParity(pair[0]), withOddParity(pair[1])};
    }
    return pairs;
}

bool fail(const char* what, int code = 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    if (code < 0) {
        av_strerror(code, text, sizeof text);
    }
    std::fprintf(stderr, "kestrova-caption-media: %s%s%s\n", what, code < 0 ? ": " : "", text);
    return false;
}

// A moving gradient, so the encoders have something to code.
void paint(AVFrame* frame, int index) {
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * index);
        }
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < kHeight / 2; ++y) {
            std::memset(frame->data[plane] + y * frame->linesize[plane], 128 + 20 * plane,
                        kWidth / 2);
        }
    }
}

class ClipWriter {
  public:
    bool open(const char* out, const char* encoderName, bool separateTrack) {
        AVFormatContext* raw = nullptr;
        int code = avformat_alloc_output_context2(&raw, nullptr, nullptr, out);
        format_.reset(raw);
        if (code < 0) {
            return fail("no container for the output name", code);
        }
        const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
        if (!codec) {
            return fail("no such encoder");
        }
        encoder_.reset(avcodec_alloc_context3(codec));
        encoder_->width = kWidth;
        encoder_->height = kHeight;
        encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder_->time_base = av_inv_q(kFrameRate);
        encoder_->framerate = kFrameRate;
        encoder_->gop_size = 12;
        encoder_->max_b_frames = 2;
        encoder_->thread_count = 1;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if ((code = avcodec_open2(encoder_.get(), codec, nullptr)) < 0) {
            return fail("cannot open the encoder", code);
        }
        video_ = avformat_new_stream(format_.get(), nullptr);
        if (!video_ || avcodec_parameters_from_context(video_->codecpar, encoder_.get()) < 0) {
            return fail("cannot add the video stream");
        }
        video_->time_base = encoder_->time_base;
        if (separateTrack) {
            track_ = avformat_new_stream(format_.get(), nullptr);
            if (!track_) {
                return fail("cannot add the caption track");
            }
            track_->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
            track_->codecpar->codec_id = AV_CODEC_ID_EIA_608;
            track_->time_base = encoder_->time_base;
        }
        if (!(format_->oformat->flags & AVFMT_NOFILE) &&
            (code = avio_open(&format_->pb, out, AVIO_FLAG_WRITE)) < 0) {
            return fail("cannot create the output", code);
        }
        if ((code = avformat_write_header(format_.get(), nullptr)) < 0) {
            return fail("cannot write the header", code);
        }
        packet_.reset(av_packet_alloc());
        return true;
    }

    bool writeFrame(AVFrame* frame) {
        int code = avcodec_send_frame(encoder_.get(), frame);
        if (code < 0) {
            return fail("encoding failed", code);
        }
        while ((code = avcodec_receive_packet(encoder_.get(), packet_.get())) >= 0) {
            av_packet_rescale_ts(packet_.get(), encoder_->time_base, video_->time_base);
            packet_->stream_index = video_->index;
            if ((code = av_interleaved_write_frame(format_.get(), packet_.get())) < 0) {
                return fail("writing a picture failed", code);
            }
        }
        return code == AVERROR(EAGAIN) || code == AVERROR_EOF || fail("encoding failed", code);
    }

    bool writeTrackPair(int index, const std::array<uint8_t, 2>& pair) {
        if (!track_) {
            return true;
        }
        const Owned<AVPacket> packet(av_packet_alloc());
        if (av_new_packet(packet.get(), 3) < 0) {
            return fail("out of memory");
        }
        packet->data[0] = kField1Marker;
        packet->data[1] = pair[0];
        packet->data[2] = pair[1];
        packet->pts = packet->dts = index;
        packet->duration = 1;
        packet->stream_index = track_->index;
        av_packet_rescale_ts(packet.get(), encoder_->time_base, track_->time_base);
        const int code = av_interleaved_write_frame(format_.get(), packet.get());
        return code >= 0 || fail("writing a caption sample failed", code);
    }

    bool finish() {
        if (!writeFrame(nullptr)) {
            return false;
        }
        const int code = av_write_trailer(format_.get());
        return code >= 0 || fail("cannot write the trailer", code);
    }

  private:
    Owned<AVFormatContext> format_;
    Owned<AVCodecContext> encoder_;
    Owned<AVPacket> packet_;
    AVStream* video_ = nullptr;
    AVStream* track_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::string(argv[3]) != "a53" && std::string(argv[3]) != "track")) {
        std::fprintf(stderr, "usage: kestrova-caption-media OUT ENCODER a53|track\n");
        return 1;
    }
    av_log_set_level(AV_LOG_ERROR);
    const bool separateTrack = std::string(argv[3]) == "track";
    ClipWriter writer;
    if (!writer.open(argv[1], argv[2], separateTrack)) {
        return 1;
    }
    const std::vector<std::array<uint8_t, 2>> pairs = bytePairs();
    const Owned<AVFrame> frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return fail("out of memory"), 1;
    }
    for (int i = 0; i < kFrames; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) {
            return fail("out of memory"), 1;
        }
        paint(frame.get(), i);
        frame->pts = i;
        av_frame_remove_side_data(frame.get(), AV_FRAME_DATA_A53_CC);
        if (!separateTrack) {
            AVFrameSideData* side = av_frame_new_side_data(frame.get(), AV_FRAME_DATA_A53_CC, 3);
            if (!side) {
                return fail("out of memory"), 1;
            }
            const uint8_t triplet[3] = {kField1Marker, pairs[i][0], pairs[i][1]};
            std::memcpy(side->data, triplet, sizeof triplet);
        }
        if (!writer.writeTrackPair(i, pairs[static_cast<std::size_t>(i)]) ||
            !writer.writeFrame(frame.get())) {
            return 1;
        }
    }
    return writer.finish() ? 0 : 1;
}
