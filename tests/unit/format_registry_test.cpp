#include "containers/format_registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kestrova {
namespace {

DemuxerInfo fileDemuxer(const char* name, const char* extensions, const char* longName = nullptr) {
    return DemuxerInfo{name, longName, false, extensions, nullptr};
}

// "name:ext,ext" per family, with "*" where the extensions came from the override list.
std::vector<std::string> familySummaries(const FormatFamilyBuild& build) {
    std::vector<std::string> summaries;
    for (const FormatFamily& family : build.families) {
        std::string summary = family.name + ":";
        for (const std::string& extension : family.extensions) {
            summary += (summary.back() == ':' ? "" : ",") + extension;
        }
        summaries.push_back(summary + (family.extensionsFromOverride ? "*" : ""));
    }
    return summaries;
}

// A device is counted as one even where its name or extensions would exclude
// it; a demuxer with only empty extension pieces is not counted at all.
TEST(FormatRegistry, CountsDevicesAndDemuxersWithoutExtensions) {
    const FormatRegistry registry(buildFormatFamilies(
        {DemuxerInfo{nullptr, "nameless", false, "xyz", nullptr},
         DemuxerInfo{"alsa", "ALSA audio input", true, nullptr, nullptr},
         DemuxerInfo{"v4l2", "Video4Linux2 device grab", true, "v4l2", nullptr},
         fileDemuxer("tedcaptions", nullptr), fileDemuxer("unknownraw", nullptr),
         fileDemuxer("emptyraw", ""), fileDemuxer("commas", ",,,"),
         fileDemuxer("matroska", "mkv,mka", "Matroska / WebM")}));
    EXPECT_EQ(registry.demuxersSeen(), 8);
    EXPECT_EQ(registry.devicesExcluded(), 2);
    EXPECT_EQ(registry.withoutExtensions(), 3);
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry.family(0).name, "matroska");
}

// Overrides apply only where a demuxer declares no extensions of its own; the
// exclusion list and the "_pipe" and "_dash_manifest" suffixes drop demuxers by
// their exact name; the first demuxer in order claims a shared extension,
// whatever its case; empty pieces are dropped, blanks kept, letters lower-cased.
TEST(FormatRegistryBuild, FamiliesClaimTheExtensionsNoEarlierDemuxerHas) {
    const FormatFamilyBuild build = buildFormatFamilies(
        {fileDemuxer("mpegts", nullptr), fileDemuxer("mxf", ""), fileDemuxer("h264", "avc"),
         fileDemuxer("hls", "m3u8"), fileDemuxer("image2", "png,jpg"),
         fileDemuxer("png_pipe", "png"), fileDemuxer("other_dash_manifest", "mpd"),
         fileDemuxer("pipe_like", "pl"), fileDemuxer("Image2", "img"), fileDemuxer("tsalt", "ts"),
         fileDemuxer("tsmore", "TS,tsx"), fileDemuxer("odd", ",MOV,, mp4,,QT,mov,")});
    EXPECT_EQ(
        familySummaries(build),
        (std::vector<std::string>{"mpegts:ts,m2t,m2ts,mts,tsv,tsa*", "mxf:mxf*", "h264:avc",
                                  "pipe_like:pl", "Image2:img", "tsmore:tsx", "odd:mov, mp4,qt"}));
}

TEST(FormatRegistryBuild, NamesAreMadeUniqueAndShortNamesCut) {
    const std::string forty = "A forty character long container name!!!";
    // The same long name and demuxer name again take both earlier forms.
    const FormatFamilyBuild build = buildFormatFamilies(
        {fileDemuxer("first", "aa", "Shared Name"), fileDemuxer("second", "bb", "Shared Name"),
         fileDemuxer("plain", "cc"), fileDemuxer("second", "dd,ee", "Shared Name"),
         fileDemuxer("blanklong", "ff", ""), fileDemuxer("long", "gg", forty.c_str()),
         DemuxerInfo{"webm", "WebM", false, "webm", "video/webm"}});
    std::vector<std::string> names;
    for (const FormatFamily& family : build.families) {
        names.push_back(family.displayName);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Shared Name", "Shared Name [second]", "plain",
                                        "Shared Name [second] .dd", "blanklong", forty, "WebM"}));
    EXPECT_EQ(build.families[0].shortName, "Shared Name");
    EXPECT_EQ(build.families[5].shortName, forty.substr(0, 31));
    EXPECT_EQ(build.families[5].mimeType, "");
    EXPECT_EQ(build.families[6].mimeType, "video/webm");
}

bool isAlphanumeric(uint32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

TEST(FormatRegistryBuild, TypeCodesAreKPlusThreeAlphanumericsDistinctStableAndKnown) {
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        names.push_back("fmt" + std::to_string(i));
    }
    std::vector<DemuxerInfo> demuxers;
    for (const std::string& name : names) {
        demuxers.push_back(fileDemuxer(name.c_str(), name.c_str()));
    }
    const FormatFamilyBuild build = buildFormatFamilies(demuxers);
    ASSERT_EQ(build.families.size(), 400u);
    std::set<uint32_t> codes;
    for (const FormatFamily& family : build.families) {
        const uint32_t code = family.typeCode;
        EXPECT_EQ(code >> 24, 0x4Bu) << family.name;
        EXPECT_TRUE(isAlphanumeric((code >> 16) & 0xFF) && isAlphanumeric((code >> 8) & 0xFF) &&
                    isAlphanumeric(code & 0xFF))
            << family.name;
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), 400u);

    // A name keeps its code in another build, and the code depends only on
    // the name, not on the extensions or long name.
    const FormatFamilyBuild again =
        buildFormatFamilies({fileDemuxer("fmt7", "other", "Other long name")});
    ASSERT_EQ(again.families.size(), 1u);
    EXPECT_EQ(again.families[0].typeCode, build.families[7].typeCode);

    // Codes computed independently from the name hash; a second demuxer with the
    // same name takes attempt 1.
    const FormatFamilyBuild known =
        buildFormatFamilies({fileDemuxer("mov", "mov"), fileDemuxer("mpegts", "ts"),
                             fileDemuxer("same", "s1", "One"), fileDemuxer("same", "s2", "Two")});
    std::vector<std::string> codeTexts;
    for (const FormatFamily& family : known.families) {
        const uint32_t c = family.typeCode;
        codeTexts.push_back({char(c >> 24), char(c >> 16), char(c >> 8), char(c)});
    }
    EXPECT_EQ(codeTexts, (std::vector<std::string>{"KKEy", "KJzC", "KKx0", "KTAy"}));
}

}  // namespace
}  // namespace kestrova
