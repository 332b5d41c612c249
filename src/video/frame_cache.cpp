#include "video/frame_cache.h"

#include "support/logger.h"

namespace kestrova {

namespace {

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

long long asLL(int64_t value) {
    return static_cast<long long>(value);
}

}  // namespace

uint64_t estimateFrameBytes(const AVFrame* frame) {
    if (!frame) {
        return 0;
    }
    uint64_t bytes = 0;
    for (const AVBufferRef* buffer : frame->buf) {
        if (buffer) {
            bytes += buffer->size;
        }
    }
    if (frame->extended_buf) {
        for (int i = 0; i < frame->nb_extended_buf; ++i) {
            if (frame->extended_buf[i]) {
                bytes += frame->extended_buf[i]->size;
            }
        }
    }
    if (bytes > 0 || frame->width < 1 || frame->height < 1) {
        return bytes;
    }
    // Planes borrowed from elsewhere (a decoder's own surface): count the
    // rows, taking planes after the first as vertically subsampled.
    const auto height = static_cast<uint64_t>(frame->height);
    if (frame->linesize[0] >= 1) {
        bytes = static_cast<uint64_t>(frame->linesize[0]) * height;
    }
    for (int plane = 1; plane < AV_NUM_DATA_POINTERS; ++plane) {
        if (frame->linesize[plane] > 0) {
            bytes += (height / 2) * static_cast<uint64_t>(frame->linesize[plane]);
        }
    }
    return bytes;
}

FrameCache::Entry* FrameCache::touch(int64_t frameIndex) {
    const auto found = map_.find(frameIndex);
    if (found == map_.end()) {
        ++misses_;
        return nullptr;
    }
    ++hits_;
    lru_.splice(lru_.begin(), lru_, found->second);
    return &*found->second;
}

const AVFrame* FrameCache::lookup(int64_t frameIndex) {
    const Entry* entry = touch(frameIndex);
    return entry ? entry->frame.get() : nullptr;
}

ffmpeg::FramePtr FrameCache::lookupRef(int64_t frameIndex) {
    const Entry* entry = touch(frameIndex);
    if (!entry || !ffmpeg::FfmpegRuntime::instance().available()) {
        return nullptr;
    }
    ffmpeg::FramePtr copy(fn().av_frame_alloc());
    if (!copy || fn().av_frame_ref(copy.get(), entry->frame.get()) < 0) {
        return nullptr;
    }
    return copy;
}

ffmpeg::FramePtr FrameCache::remove(Position position) {
    ffmpeg::FramePtr frame = std::move(position->frame);
    totalBytes_ -= position->bytes;
    map_.erase(position->frameIndex);
    lru_.erase(position);
    return frame;
}

void FrameCache::makeRoom(uint64_t incoming) {
    while (!lru_.empty() && totalBytes_ + incoming > budgetBytes_) {
        const Entry& last = lru_.back();
        Logger::log(LogLevel::Debug, "FrameCache: evicting frame %lld (%zu bytes)",
                    asLL(last.frameIndex), static_cast<std::size_t>(last.bytes));
        remove(std::prev(lru_.end()));
    }
}

uint64_t FrameCache::store(int64_t frameIndex, const AVFrame* frame) {
    if (!frame || !ffmpeg::FfmpegRuntime::instance().available()) {
        return 0;
    }
    // The replaced frame is freed on return, so storing a frame that this
    // cache itself handed out stays safe.
    ffmpeg::FramePtr replaced;
    if (const auto found = map_.find(frameIndex); found != map_.end()) {
        replaced = remove(found->second);
    }
    uint64_t bytes = estimateFrameBytes(frame);
    if (bytes == 0 && frame->width >= 1 && frame->height >= 1) {
        bytes = static_cast<uint64_t>(frame->width) * static_cast<uint64_t>(frame->height) * 3;
    }
    if (bytes == 0) {
        Logger::log(LogLevel::Debug, "FrameCache: frame %lld has 0 estimated bytes, skipping",
                    asLL(frameIndex));
        return 0;
    }
    if (bytes > budgetBytes_) {
        Logger::log(LogLevel::Debug,
                    "FrameCache: frame %lld (%zu bytes) exceeds budget (%zu), skipping",
                    asLL(frameIndex), static_cast<std::size_t>(bytes),
                    static_cast<std::size_t>(budgetBytes_));
        return 0;
    }
    makeRoom(bytes);
    ffmpeg::FramePtr copy(fn().av_frame_alloc());
    if (!copy) {
        return 0;
    }
    if (const int err = fn().av_frame_ref(copy.get(), frame); err < 0) {
        Logger::log(LogLevel::Warning, "FrameCache: av_frame_ref failed for frame %lld (err=%d)",
                    asLL(frameIndex), err);
        return 0;
    }
    // A hardware surface or borrowed planes would tie the cache to memory the
    // decoder reuses; a private copy owns its pixels.
    if ((copy->hw_frames_ctx || !copy->buf[0]) && !fn().av_frame_is_writable(copy.get())) {
        if (const int err = fn().av_frame_make_writable(copy.get()); err < 0) {
            Logger::log(LogLevel::Warning,
                        "FrameCache: av_frame_make_writable failed for frame %lld (err=%d)",
                        asLL(frameIndex), err);
            return 0;
        }
        if (const uint64_t copied = estimateFrameBytes(copy.get()); copied != 0) {
            bytes = copied;
            makeRoom(bytes);
        }
    }
    lru_.push_front(Entry{frameIndex, std::move(copy), bytes});
    map_[frameIndex] = lru_.begin();
    totalBytes_ += bytes;
    Logger::log(
        LogLevel::Debug, "FrameCache: stored frame %lld (%zu bytes), total %zu/%zu, entries %zu",
        asLL(frameIndex), static_cast<std::size_t>(bytes), static_cast<std::size_t>(totalBytes_),
        static_cast<std::size_t>(budgetBytes_), lru_.size());
    return bytes;
}

void FrameCache::setBudget(uint64_t bytes) {
    budgetBytes_ = bytes;
    makeRoom(0);
}

void FrameCache::clear() {
    lru_.clear();
    map_.clear();
    totalBytes_ = 0;
}

}  // namespace kestrova
