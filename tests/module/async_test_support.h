// Module tests of the asynchronous importer: a clip opened and described the
// way a host does before it plays, and its async instance.
#pragma once

#include <string>
#include <vector>

#include "async_records.h"
#include "clip_test_support.h"
#include "frame_records.h"

namespace kestrova::moduletest {

// An open, described clip with an async instance; both are closed at the end
// of the scope unless a test closed the instance itself.
struct AsyncClip : OpenClip {
    AsyncClip(const hostsim::Host& host, const std::string& path)
        : OpenClip(host, path), info(hostsim::getInfo(host, clip(), 0)) {
        importer = hostsim::createAsyncImporter(host, clip());
    }
    ~AsyncClip() {
        if (importer && !closed) {
            hostsim::asyncClose(importer);
        }
    }
    int64_t ticks(int64_t frame) const {
        return hostsim::frameTicks(frame, info.frameRateNum, info.frameRateDen);
    }
    hostsim::AsyncFrameAnswer frame(int64_t number) const {
        return hostsim::asyncGetFrame(importer, ticks(number), {});
    }
    host::Result close() {
        closed = true;
        return hostsim::asyncClose(importer);
    }

    hostsim::ClipInfo info;
    hostsim::AsyncImporter importer;
    bool closed = false;
};

}  // namespace kestrova::moduletest
