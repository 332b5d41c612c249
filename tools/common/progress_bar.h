// A progress bar on standard error for the command-line tools, redrawn only
// when the percentage moves and ended with a line break.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrova::tools {

class ProgressBar {
  public:
    explicit ProgressBar(int64_t total) : total_(total) {}
    ~ProgressBar() {
        if (shown_ >= 0) {
            std::fputc('\n', stderr);
        }
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void show(int64_t done) { show(done, total_); }
    void show(int64_t done, int64_t total) {
        const int percent =
            total > 0 ? static_cast<int>(std::clamp<int64_t>(done * 100 / total, 0, 100)) : 0;
        if (percent == shown_) {
            return;
        }
        shown_ = percent;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), percent);
        std::fflush(stderr);
    }

  private:
    static constexpr int kWidth = 40;
    const int64_t total_;
    int shown_ = -1;
};

}  // namespace kestrova::tools
