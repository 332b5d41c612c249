// What VideoDecoder serves when decoding fails: the last good picture, a
// black one, a software reopen after a hardware failure, or the quiet
// placeholders of a stream this FFmpeg build cannot decode.
#include <cerrno>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/decoder_common.h"
#include "video/video_decoder.h"

namespace kestrova {
using decoding::holdsPicture;
using decoding::runtime;

bool VideoDecoder::restoreLastGood() {
    if (!holdsPicture(lastGoodFrame_.get()) || decodeFrame_ == nullptr) {
        return false;
    }
    const auto& fn = runtime().fn();
    fn.av_frame_unref(decodeFrame_.get());
    currentInTransfer_ = false;
    held_ = Held::StandIn;
    return fn.av_frame_ref(decodeFrame_.get(), lastGoodFrame_.get()) >= 0;
}

FrameResult VideoDecoder::lastGoodResult(int64_t n, const std::string& detail, bool seeked) {
    FrameResult result;
    result.status = DecodeStatus::Ok;
    result.seeked = seeked;
    result.frameIndex = currentIndex_ >= 0 ? currentIndex_ : n;
    result.notExact = true;
    result.repeatedLastGood = true;
    result.detail = detail;
    return result;
}

FrameResult VideoDecoder::blackResult(int64_t n, bool seeked) {
    currentIndex_ = n;
    FrameResult result;
    result.status = DecodeStatus::Ok;
    result.seeked = seeked;
    result.frameIndex = n;
    result.notExact = true;
    result.black = true;
    return result;
}

FrameResult VideoDecoder::serveUndecodable(int64_t n, const FrameResult& failed, bool intraPath) {
    undecodable_ = true;
    const std::string detail = failed.detail.empty() ? statusName(failed.status) : failed.detail;
    if (!undecodableReported_) {
        undecodableReported_ = true;
        const auto name = static_cast<long long>(n);
        if (intraPath) {
            Logger::log(LogLevel::Warning,
                        "frameAt(%lld): stream is undecodable by this build (%s); serving "
                        "placeholder frames and suppressing further reports",
                        name, detail.c_str());
        } else {
            Logger::log(LogLevel::Warning,
                        "frameAt(%lld): stream is undecodable by this build (decoder '%s': %s); "
                        "serving placeholder frames and suppressing further reports",
                        name, decoderName().c_str(), detail.c_str());
        }
        if (codecContext_ != nullptr && codecContext_->codec_id == AV_CODEC_ID_AV1) {
            Logger::log(
                LogLevel::Warning,
                "AV1 diagnosis: the loaded FFmpeg has no SOFTWARE AV1 decoder (libdav1d / "
                "libaom-av1); '%s' is the built-in hardware-only AV1 decoder, which cannot "
                "produce frames without a matching GPU decode path. Rebuild the bundled FFmpeg "
                "with --enable-libdav1d (see installer/ffmpeg-build/), or point the plug-in at an "
                "FFmpeg that has it.",
                decoderName().c_str());
        }
    }
    if (restoreLastGood()) {
        return lastGoodResult(n, failed.detail, failed.seeked);
    }
    if (generateBlackFrame()) {
        return blackResult(n, failed.seeked);
    }
    return failed;
}

FrameResult VideoDecoder::handleFailure(int64_t n, FrameResult failed, bool intraPath) {
    // 1. A decode error with hardware requested: software from here on.
    if (hardwareRequested_ && failed.status == DecodeStatus::DecodeError) {
        if (!hw_.fallenBack) {
            declareFallback(hw_, "decode error during HW decoding: " + failed.detail);
        }
        const ClipDescription* demuxer = demuxer_;
        const int32_t stream = streamIndex_;
        if (demuxer != nullptr && demuxer->demuxer() != nullptr && stream >= 0) {
            Logger::log(LogLevel::Info, "Reopening decoder in software-only mode for stream %d",
                        stream);
            close();
            if (open(*demuxer, stream, requestedThreads_, false, 0, threadRole_)) {
                return frameAt(n);
            }
        }
    }
    // 2. The build cannot decode this stream at all.
    const bool unsupported =
        failed.errorCode == AVERROR(ENOSYS) || failed.errorCode == AVERROR(EINVAL);
    if (failed.status == DecodeStatus::DecodeError && unsupported && codecContext_ != nullptr) {
        const FrameResult served = serveUndecodable(n, failed, intraPath);
        if (served.status == DecodeStatus::Ok) {
            return served;
        }
    }
    // 3. Past the end: the last picture again, reported once.
    if (failed.status == DecodeStatus::EndOfStream && restoreLastGood()) {
        if (!pastEndLogged_) {
            pastEndLogged_ = true;
            Logger::log(LogLevel::Debug,
                        "frameAt(%lld): past end of stream, serving the last frame (index %lld); "
                        "further requests past the end are not logged",
                        static_cast<long long>(n), static_cast<long long>(currentIndex_));
        }
        return lastGoodResult(n, "EndOfStream", failed.seeked);
    }
    // 4. Failures no retry can cure.
    if (failed.status == DecodeStatus::NotOpen || failed.errorCode == AVERROR(ENOMEM) ||
        failed.errorCode == AVERROR(ENOSYS) || failed.errorCode == AVERROR_EXIT ||
        failed.errorCode == AVERROR_EOF) {
        return failed;
    }
    // 5. Anything else: the last good picture, or black.
    const std::string detail = failed.detail.empty() ? statusName(failed.status) : failed.detail;
    if (restoreLastGood()) {
        Logger::log(LogLevel::Warning,
                    "frameAt(%lld): recoverable error (%s), returning last good frame",
                    static_cast<long long>(n), detail.c_str());
        return lastGoodResult(n, detail, failed.seeked);
    }
    if (codecContext_ != nullptr && codecContext_->width > 0 && codecContext_->height > 0 &&
        generateBlackFrame()) {
        Logger::log(LogLevel::Warning,
                    "frameAt(%lld): recoverable error (%s), no prior frame, returning black frame",
                    static_cast<long long>(n), detail.c_str());
        return blackResult(n, failed.seeked);
    }
    return failed;
}

}  // namespace kestrova
