// imGetPrefs8: the per-clip settings record the host stores with each clip.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::Host;
using Record = std::array<uint8_t, 200>;

Record filled() {
    Record record;
    record.fill(Host::kFillByte);
    return record;
}

// The defaults, field by field; field 10 holds the characters "badf".
void expectDefaults(const Record& record) {
    const int32_t defaults[18] = {1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 0, 0, 1, 1};
    for (int i = 0; i < host::kClipPrefsFields; ++i) {
        const int32_t value = host::readField<int32_t>(record.data(), 4 * std::size_t(i));
        if (i != 10) {
            EXPECT_EQ(value, i < 18 ? defaults[i] : 0) << "field " << i;
        }
    }
    EXPECT_EQ(std::memcmp(record.data() + 40, "badf", 4), 0);
}

class ClipPrefsTest : public SharedModuleTest {
  protected:
    void SetUp() override {
        SharedModuleTest::SetUp();
        host_ = std::make_unique<Host>(module());
        ASSERT_EQ(host_->init(), host::imInitOk);
    }
    std::unique_ptr<Host> host_;
};

TEST_F(ClipPrefsTest, HostLearnsTheRecordSize) {
    hostsim::PrefsAnswer answer = host_->getPrefs8(nullptr, 0, true);
    EXPECT_EQ(answer.result, host::imNoErr);
    EXPECT_EQ(answer.length, host::kClipPrefsBytes);

    Record record = filled();
    answer = host_->getPrefs8(record.data(), 100, true);
    EXPECT_EQ(answer.result, host::imFailure);
    EXPECT_EQ(answer.length, host::kClipPrefsBytes);
    EXPECT_EQ(record, filled());

    EXPECT_EQ(host_->call(host::imGetPrefs8, nullptr, nullptr), host::imFailure);
}

TEST_F(ClipPrefsTest, FirstTimeAndUnknownVersionsGetTheDefaultsAndNothingPastThem) {
    Record record = filled();
    EXPECT_EQ(host_->getPrefs8(record.data(), int32_t(record.size()), true).result, host::imNoErr);
    expectDefaults(record);
    for (std::size_t i = host::kClipPrefsBytes; i < record.size(); ++i) {
        EXPECT_EQ(record[i], Host::kFillByte) << "byte " << i;
    }

    record = filled();
    host::writeField<int32_t>(record.data(), 0, 7);
    EXPECT_EQ(host_->getPrefs8(record.data(), host::kClipPrefsBytes, false).result, host::imNoErr);
    expectDefaults(record);
}

TEST_F(ClipPrefsTest, StoredVersionOneIsKept) {
    Record record = filled();
    ASSERT_EQ(host_->getPrefs8(record.data(), host::kClipPrefsBytes, true).result, host::imNoErr);
    host::writeField<int32_t>(record.data(), 4, 9);   // primaries override
    host::writeField<int32_t>(record.data(), 24, 2);  // upper field first
    const Record stored = record;
    EXPECT_EQ(host_->getPrefs8(record.data(), host::kClipPrefsBytes, false).result, host::imNoErr);
    EXPECT_EQ(record, stored);
}

}  // namespace
}  // namespace kestrova::moduletest
