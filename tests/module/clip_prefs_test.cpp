// imGetPrefs8: the per-clip settings record the host stores with each clip.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::Host;
using Record = std::array<uint8_t, 200>;

int32_t field(const Record& record, int index) {
    return host::readField<int32_t>(record.data(), 4 * static_cast<std::size_t>(index));
}

Record filled() {
    Record record;
    record.fill(Host::kFillByte);
    return record;
}

void expectDefaults(const Record& record) {
    EXPECT_EQ(field(record, 0), 1);
    for (int i : {1, 2, 3})
        EXPECT_EQ(field(record, i), -1) << "field " << i;
    for (int i : {4, 5, 6, 7, 8, 9})
        EXPECT_EQ(field(record, i), 0) << "field " << i;
    EXPECT_EQ(std::memcmp(record.data() + 40, "badf", 4), 0);
    for (int i : {11, 12, 13})
        EXPECT_EQ(field(record, i), 2) << "field " << i;
    for (int i : {14, 15})
        EXPECT_EQ(field(record, i), 0) << "field " << i;
    for (int i : {16, 17})
        EXPECT_EQ(field(record, i), 1) << "field " << i;
    for (int i = 18; i < host::kClipPrefsFields; ++i)
        EXPECT_EQ(field(record, i), 0) << i;
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

TEST_F(ClipPrefsTest, FirstTimeWritesTheDefaultsAndNothingPastThem) {
    Record record = filled();
    EXPECT_EQ(host_->getPrefs8(record.data(), int32_t(record.size()), true).result, host::imNoErr);
    expectDefaults(record);
    for (std::size_t i = host::kClipPrefsBytes; i < record.size(); ++i) {
        EXPECT_EQ(record[i], Host::kFillByte) << "byte " << i;
    }
}

TEST_F(ClipPrefsTest, UnknownVersionIsReplacedByTheDefaults) {
    Record record = filled();
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
