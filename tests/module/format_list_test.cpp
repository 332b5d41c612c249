// imGetIndFormat: the container families the host offers in its import dialog.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <thread>

#include "module_test_support.h"

namespace kestrova::moduletest {
namespace {

using hostsim::FormatAnswer;
using hostsim::Host;
namespace fd = host::formatdesc;

std::vector<FormatAnswer> allFormats(const Host& host) {
    std::vector<FormatAnswer> formats;
    for (int32_t index = 0;; ++index) {
        FormatAnswer answer = host.getIndFormat(index);
        if (answer.result != host::imNoErr || index > 10000) {
            EXPECT_EQ(answer.result, host::imBadFormatIndex) << "index " << index;
            return formats;
        }
        formats.push_back(std::move(answer));
    }
}

class FormatListTest : public SharedModuleTest {
  protected:
    void SetUp() override {
        SharedModuleTest::SetUp();
        host_ = std::make_unique<Host>(module());
        ASSERT_EQ(host_->init(), host::imInitOk);
        formats_ = allFormats(*host_);
    }
    std::unique_ptr<Host> host_;
    std::vector<FormatAnswer> formats_;
};

TEST_F(FormatListTest, IndicesOutsideTheListAnswerBadIndex) {
    ASSERT_GE(formats_.size(), 120u);
    EXPECT_EQ(host_->getIndFormat(-1).result, host::imBadFormatIndex);
    EXPECT_EQ(host_->getIndFormat(static_cast<int32_t>(formats_.size())).result,
              host::imBadFormatIndex);
    EXPECT_EQ(host_->call(host::imGetIndFormat, nullptr, nullptr), host::imFailure);
}

TEST_F(FormatListTest, RecordsAreFilledAsTheHostExpects) {
    for (const FormatAnswer& format : formats_) {
        const hostsim::FormatRecord& record = format.record;
        SCOPED_TRACE(record.name);
        const std::string suffix = " (Kestrova)";
        ASSERT_GT(record.name.size(), suffix.size());
        EXPECT_EQ(record.name.substr(record.name.size() - suffix.size()), suffix);
        // The short name is the display name, cut to 31 characters.
        const std::string display = record.name.substr(0, record.name.size() - suffix.size());
        EXPECT_EQ(record.shortName, display.substr(0, 31));
        for (std::size_t offset : fd::kClearedFields) {
            EXPECT_EQ(host::readField<int32_t>(record.bytes.data(), offset), 0);
        }
        // Bytes outside the fields the importer owns keep the host's fill.
        for (std::size_t i = 4; i < 8; ++i)
            EXPECT_EQ(record.bytes[i], Host::kFillByte) << i;
        for (std::size_t i = 560; i < 760; ++i)
            EXPECT_EQ(record.bytes[i], Host::kFillByte) << i;
    }
}

TEST_F(FormatListTest, ExtensionListsAreDoubleZeroTerminated) {
    for (const FormatAnswer& format : formats_) {
        const hostsim::FormatRecord& record = format.record;
        SCOPED_TRACE(record.name);
        ASSERT_FALSE(record.extensions.empty());
        std::size_t used = 0;
        for (const std::string& extension : record.extensions) {
            used += extension.size() + 1;
            for (char c : extension) {
                EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << extension;
                EXPECT_NE(c, '.') << extension;
            }
        }
        ASSERT_LT(used, fd::kExtensionsBytes);
        for (std::size_t i = used; i < fd::kExtensionsBytes; ++i) {
            EXPECT_EQ(record.bytes[fd::kExtensions + i], 0) << "list byte " << i;
        }
    }
}

TEST_F(FormatListTest, TypeCodesAreDistinctAndExtensionsBelongToOneFamily) {
    std::map<uint32_t, std::string> codes;
    std::map<std::string, std::string> owners;
    for (const FormatAnswer& format : formats_) {
        const hostsim::FormatRecord& record = format.record;
        const uint32_t code = record.typeCode;
        EXPECT_EQ(code >> 24, uint32_t{'K'}) << record.name;
        for (int shift : {16, 8, 0}) {
            EXPECT_TRUE(std::isalnum(static_cast<int>((code >> shift) & 0xFF))) << record.name;
        }
        const auto [codeAt, newCode] = codes.emplace(code, record.name);
        EXPECT_TRUE(newCode) << record.name << " and " << codeAt->second;
        for (const std::string& extension : record.extensions) {
            const auto [ownerAt, newExtension] = owners.emplace(extension, record.name);
            EXPECT_TRUE(newExtension)
                << extension << " in " << record.name << " and " << ownerAt->second;
        }
    }
}

TEST_F(FormatListTest, ManyThreadsSeeTheSameList) {
    std::vector<std::vector<FormatAnswer>> seen(4);
    std::vector<std::thread> threads;
    for (auto& list : seen) {
        threads.emplace_back([&] { list = allFormats(*host_); });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& list : seen) {
        ASSERT_EQ(list.size(), formats_.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].record.bytes, formats_[i].record.bytes) << "index " << i;
        }
    }
}

// With logging below Info, imInit leaves the registry unbuilt; the first
// lists asked for, from several threads at once, build it exactly once.
TEST(FormatListFirstUseTest, ConcurrentFirstRequestsAgree) {
    ScopedAppData appData("logLevel=2\n");
    std::unique_ptr<hostsim::Module> module = privateModule(hostsim::FfmpegFolder::Linked);
    ASSERT_NE(module, nullptr);
    Host host(*module);
    ASSERT_EQ(host.init(), host::imInitOk);
    std::vector<std::vector<FormatAnswer>> seen(4);
    std::vector<std::thread> threads;
    for (auto& list : seen) {
        threads.emplace_back([&] { list = allFormats(host); });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_GE(seen[0].size(), 120u);
    for (const auto& list : seen) {
        ASSERT_EQ(list.size(), seen[0].size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].record.bytes, seen[0][i].record.bytes) << "index " << i;
        }
    }
}

}  // namespace
}  // namespace kestrova::moduletest
