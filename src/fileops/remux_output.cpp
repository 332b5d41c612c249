#include "fileops/remux_output.h"

#include "platform/platform.h"
#include "support/file_replace.h"

namespace kestrova::fileops {

RemuxOutput::~RemuxOutput() {
    (void)close();
    if (context_) {
        ffmpeg::FfmpegRuntime::instance().fn().avformat_free_context(context_);
    }
    if (!committed_ && !temporary_.empty()) {
        platform::removeFile(temporary_);
    }
}

int RemuxOutput::create(const char* muxer, const std::string& destination) {
    destination_ = destination;
    temporary_ = platform::utf8FromPath(temporaryPathFor(platform::pathFromUtf8(destination)));
    // The muxer is named, so the temporary's name does not choose it.
    return ffmpeg::FfmpegRuntime::instance().fn().avformat_alloc_output_context2(
        &context_, nullptr, muxer, temporary_.c_str());
}

bool RemuxOutput::needsFile() const {
    return context_ && context_->oformat && !(context_->oformat->flags & AVFMT_NOFILE);
}

int RemuxOutput::open() {
    if (!needsFile()) {
        return 0;
    }
    return ffmpeg::FfmpegRuntime::instance().fn().avio_open2(&context_->pb, temporary_.c_str(),
                                                             AVIO_FLAG_WRITE, nullptr, nullptr);
}

int RemuxOutput::close() {
    if (!needsFile() || !context_->pb) {
        return 0;
    }
    return ffmpeg::FfmpegRuntime::instance().fn().avio_closep(&context_->pb);
}

bool RemuxOutput::commit() {
    const auto written = platform::fileStatus(temporary_);
    if (!written || written->isDirectory || written->size == 0) {
        return false;
    }
    committed_ = platform::replaceFile(temporary_, destination_);
    return committed_;
}

}  // namespace kestrova::fileops
