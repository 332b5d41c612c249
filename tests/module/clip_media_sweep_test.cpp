// Every generated file through the host's view: damaged copies never take the
// host down, and kestrova-host info reports each file or its decline.
#include <gtest/gtest.h>

#include "clip_test_support.h"

namespace kestrova::moduletest {
namespace {

using CorruptMediaTest = SharedModuleTest;

// Open, describe every host stream and size every decode size of each
// damaged file; any answer will do as long as one comes back.
TEST_F(CorruptMediaTest, DamagedFilesAnswerEverySelector) {
    hostsim::Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    const auto corrupt = fixturesOfKind("corrupt");
    ASSERT_GE(corrupt.size(), 10u);
    for (const test::FixtureEntry& entry : corrupt) {
        SCOPED_TRACE(entry.name);
        OpenClip clip(host, fixturePath(entry.name));
        if (clip.answer.result != host::imNoErr) {
            continue;
        }
        for (int32_t stream = 0; stream < 16; ++stream) {
            const host::Result answer = hostsim::getInfo(host, clip.clip(), stream).result;
            if (answer != host::imAnotherStream) {
                break;
            }
        }
        for (int32_t index = 0; index < 8; ++index) {
            if (hostsim::preferredFrameSize(host, clip.clip(), index).result !=
                host::imIterateFrameSizes) {
                break;
            }
        }
    }
}

TEST(InfoToolTest, ReportsTheFixturesAndDeclinesTheHostsOwn) {
    TempFolder appData;
    const auto info = [&](const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--appdata", appData.str(), "info",
                                              fixturePath(name)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runTool(arguments);
    };
    const ToolRun mkv = info("h264_closed.mkv", {"--json"});
    EXPECT_EQ(mkv.exitCode, 0) << mkv.err;
    EXPECT_NE(mkv.out.find("{\"answer\":0,\"streams\":[{\"index\":0,\"hasVideo\":1,\"hasAudio\":1,"
                           "\"width\":320,\"height\":240,\"frameRate\":[25,1]"),
              std::string::npos)
        << mkv.out;
    EXPECT_NE(mkv.out.find("\"channels\":2,\"sampleRate\":48000,\"sampleType\":12"),
              std::string::npos)
        << mkv.out;
    EXPECT_NE(mkv.out.find("\"preferredSizes\":[[320,240]]"), std::string::npos) << mkv.out;

    const ToolRun audioOnly = info("pcm_s16le.wav", {"--json"});
    EXPECT_EQ(audioOnly.exitCode, 0);
    EXPECT_EQ(audioOnly.out.find("\"width\""), std::string::npos) << audioOnly.out;

    const ToolRun interlaced = info("mpeg2_tff.ts");
    EXPECT_EQ(interlaced.exitCode, 0);
    EXPECT_NE(interlaced.out.find("720x576, 25/1 fps, 50 frames, upper field first"),
              std::string::npos)
        << interlaced.out;

    const ToolRun second = info("multi_2v3a.mkv", {"--stream", "1"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.out.find("streams: 4"), std::string::npos) << second.out;

    for (const char* declined : {"h264_closed.mp4", "aac.m4a"}) {
        const ToolRun run = info(declined);
        EXPECT_EQ(run.exitCode, 3) << declined;
        EXPECT_NE(run.err.find("imOpenFile8 answered 2"), std::string::npos) << run.err;
    }
    for (const test::FixtureEntry& entry : fixturesOfKind("corrupt")) {
        const int code = info(entry.name).exitCode;
        EXPECT_TRUE(code == 0 || code == 2 || code == 3) << entry.name << " exit " << code;
    }
}

}  // namespace
}  // namespace kestrova::moduletest
