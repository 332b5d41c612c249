// The number formats of the analysis text and the content-state fingerprint.
#include <gtest/gtest.h>

#include "host/analysis_text.h"
#include "host/content_state.h"

namespace kestrova::host {
namespace {

struct SizeCase {
    uint64_t bytes;
    const char* text;
};

class FileSizeText : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FileSizeText, UsesTheLargestBinaryUnitReached) {
    EXPECT_EQ(fileSizeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Units, FileSizeText,
    ::testing::Values(SizeCase{1610612736, "1.50 GB"}, SizeCase{1073741824, "1.00 GB"},
                      SizeCase{1073741823, "1024.00 MB"}, SizeCase{1048576, "1.00 MB"},
                      SizeCase{1048575, "1024.00 KB"}, SizeCase{1536, "1.50 KB"},
                      SizeCase{1023, "1023 bytes"}, SizeCase{0, "0 bytes"}));

TEST(AnalysisText, DurationKeepsEachUnitBelowTheNext) {
    EXPECT_EQ(durationText(600000000), "0:10:00.000");
    EXPECT_EQ(durationText(3723456789), "1:02:03.456");
    EXPECT_EQ(durationText(999), "0:00:00.000");
    EXPECT_EQ(durationText(90000000000), "25:00:00.000");
}

TEST(AnalysisText, AverageDataRateOfOneAndAHalfGibibytesOverTenMinutes) {
    EXPECT_EQ(dataRateLine(1610612736, 600000000), "Average Data Rate: 21475 kbit/s\n");
}

TEST(AnalysisText, HdrMetadataTextOnlyWhenSomethingIsPresent) {
    EXPECT_EQ(hdrMetadataText(HdrMetadata{}), "");

    HdrMetadata hdr;
    hdr.masteringPresent = true;
    hdr.hasPrimaries = true;
    const double primaries[8] = {0.708, 0.292, 0.17, 0.797, 0.131, 0.046, 0.3127, 0.329};
    std::copy(std::begin(primaries), std::end(primaries), hdr.primaries);
    hdr.hasLuminance = true;
    hdr.minLuminance = 0.005;
    hdr.maxLuminance = 1000;
    hdr.contentLightPresent = true;
    hdr.maxContentLight = 1000;
    hdr.maxFrameAverageLight = 400;
    hdr.hdr10PlusPresent = true;
    hdr.hdr10PlusSize = 64;
    hdr.doviPresent = true;
    hdr.doviSize = 120;
    EXPECT_EQ(hdrMetadataText(hdr),
              "HDR Metadata:\n"
              "  Mastering Display (SMPTE ST 2086):\n"
              "    Primaries: R(0.7080, 0.2920) G(0.1700, 0.7970) B(0.1310, 0.0460)\n"
              "    White Point: (0.3127, 0.3290)\n"
              "    Luminance: 0.0050 - 1000.0 cd/m^2\n"
              "  Content Light Level (CTA-861.3):\n"
              "    MaxCLL: 1000 cd/m^2\n"
              "    MaxFALL: 400 cd/m^2\n"
              "  HDR10+ (ST 2094-40): present (64 bytes)\n"
              "  Dolby Vision:\n"
              "    RPU data: 120 bytes\n");

    HdrMetadata dovi;
    dovi.doviPresent = true;
    dovi.doviSize = 8;
    dovi.doviProfile = 8;
    dovi.doviLevel = 6;
    EXPECT_EQ(hdrMetadataText(dovi),
              "HDR Metadata:\n  Dolby Vision:\n    Profile: 8, Level: 6\n    RPU data: 8 bytes\n");
}

// Expected values computed apart from this code, from the published FNV-1a
// and finaliser constants.
TEST(ContentState, HashesSizeThenNanosecondWriteTimeLittleEndian) {
    const uint64_t file = fileContentHash(1610612736, 133000000000000000);
    EXPECT_EQ(file, 0x53F72E3E2BB36A45ULL);
    const uint64_t state = foldFileHash(kFnvOffsetBasis, file);
    EXPECT_EQ(state, 0xE2F8499853DFAE20ULL);
    EXPECT_EQ(contentStateText(state), "e2f84998-53df-ae20-bca4-09e297194a0d");
}

TEST(ContentState, TextIsThirtySixCharactersOfTheStateAndItsMixedForm) {
    EXPECT_EQ(contentStateText(0), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(contentStateText(0x0123456789ABCDEFULL), "01234567-89ab-cdef-2aee-46b7eb4a5ff7");
}

}  // namespace
}  // namespace kestrova::host
