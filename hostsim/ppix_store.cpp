#include "ppix_store.h"

#include <algorithm>

namespace kestrova::hostsim {
namespace {

constexpr host::Result kError = 1;

}  // namespace

host::Result PPixStore::create(uint32_t format, int32_t width, int32_t height,
                               const PPixCreatorFields& creator, host::PPixHand* out) {
    *out = nullptr;
    std::unique_ptr<PPixBuffer> buffer = takeRecycled(format, width, height);
    if (buffer) {
        buffer->setCreator(creator);
    } else {
        buffer = PPixBuffer::create(format, width, height, creator);
    }
    if (!buffer) {
        return kError;
    }
    std::lock_guard lock(mutex_);
    host::PPixHand handle = buffer.get();
    live_[handle] = {std::move(buffer), 1};
    ++created_;
    *out = handle;
    return host::imNoErr;
}

std::unique_ptr<PPixBuffer> PPixStore::takeRecycled(uint32_t format, int32_t width,
                                                    int32_t height) {
    std::lock_guard lock(mutex_);
    for (auto it = recycled_.begin(); it != recycled_.end(); ++it) {
        if ((*it)->format() == format && (*it)->width() == width && (*it)->height() == height) {
            std::unique_ptr<PPixBuffer> buffer = std::move(*it);
            recycled_.erase(it);
            return buffer;
        }
    }
    return nullptr;
}

void PPixStore::setRecycling(std::size_t buffers) {
    std::lock_guard lock(mutex_);
    recycleLimit_ = buffers;
    while (recycled_.size() > recycleLimit_) {
        recycled_.pop_front();
    }
}

bool PPixStore::release(host::PPixHand ppix) {
    const auto found = live_.find(ppix);
    if (found == live_.end()) {
        ++badDisposals_;
        return false;
    }
    if (--found->second.references == 0) {
        if (recycleLimit_ > 0) {
            if (recycled_.size() == recycleLimit_) {
                recycled_.pop_front();
            }
            recycled_.push_back(std::move(found->second.buffer));
        }
        live_.erase(found);
    }
    return true;
}

host::Result PPixStore::dispose(host::PPixHand ppix) {
    std::lock_guard lock(mutex_);
    return release(ppix) ? host::imNoErr : kError;
}

const PPixBuffer* PPixStore::find(host::PPixHand ppix) const {
    std::lock_guard lock(mutex_);
    const auto found = live_.find(ppix);
    return found == live_.end() ? nullptr : found->second.buffer.get();
}

std::size_t PPixStore::live() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

int64_t PPixStore::created() const {
    std::lock_guard lock(mutex_);
    return created_;
}

int32_t PPixStore::badDisposals() const {
    std::lock_guard lock(mutex_);
    return badDisposals_;
}

void PPixStore::setCacheEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    cacheEnabled_ = enabled;
}

void PPixStore::setCacheBudget(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    cacheBudget_ = bytes;
}

void PPixStore::dropCached(std::map<CacheKey, host::PPixHand>::iterator entry) {
    cacheBytes_ -= live_.at(entry->second).buffer->sizeBytes();
    release(entry->second);
    cache_.erase(entry);
}

void PPixStore::clearCache() {
    std::lock_guard lock(mutex_);
    while (!cache_.empty()) {
        dropCached(cache_.begin());
    }
    cacheOrder_.clear();
}

host::Result PPixStore::addToCache(int32_t importerId, int32_t stream, host::PPixHand ppix,
                                   int64_t frame) {
    std::lock_guard lock(mutex_);
    ++stats_.adds;
    const auto found = live_.find(ppix);
    if (found == live_.end()) {
        return kError;
    }
    const std::size_t bytes = found->second.buffer->sizeBytes();
    if (!cacheEnabled_ || bytes > cacheBudget_) {
        return host::imNoErr;
    }
    const CacheKey key{importerId, stream, frame, found->second.buffer->format()};
    if (const auto old = cache_.find(key); old != cache_.end()) {
        dropCached(old);
        cacheOrder_.erase(std::find(cacheOrder_.begin(), cacheOrder_.end(), key));
    }
    while (cacheBytes_ + bytes > cacheBudget_ && !cacheOrder_.empty()) {
        if (const auto oldest = cache_.find(cacheOrder_.front()); oldest != cache_.end()) {
            dropCached(oldest);
        }
        cacheOrder_.pop_front();
    }
    ++found->second.references;
    cache_.emplace(key, ppix);
    cacheOrder_.push_back(key);
    cacheBytes_ += bytes;
    return host::imNoErr;
}

host::Result PPixStore::findInCache(int32_t importerId, int32_t stream, int64_t frame,
                                    std::span<const host::FrameFormat> formats,
                                    host::PPixHand* out) {
    std::lock_guard lock(mutex_);
    *out = nullptr;
    for (const host::FrameFormat& wanted : formats) {
        const auto found = cache_.find(CacheKey{importerId, stream, frame, wanted.format});
        if (!cacheEnabled_ || found == cache_.end()) {
            continue;
        }
        Live& entry = live_.at(found->second);
        const bool sizeMatches = (wanted.width <= 0 || wanted.width == entry.buffer->width()) &&
                                 (wanted.height <= 0 || wanted.height == entry.buffer->height());
        if (sizeMatches) {
            ++entry.references;
            ++stats_.hits;
            *out = found->second;
            return host::imNoErr;
        }
    }
    ++stats_.misses;
    return kError;
}

HostCacheStats PPixStore::cacheStats() const {
    std::lock_guard lock(mutex_);
    HostCacheStats stats = stats_;
    stats.entries = cache_.size();
    return stats;
}

}  // namespace kestrova::hostsim
