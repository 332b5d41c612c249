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

// Asks from index 0 until the module answers something other than success.
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

using FormatListTest = SharedModuleTest;

TEST_F(FormatListTest, EveryRecordFollowsTheHostsRules) {
    Host host(module());
    ASSERT_EQ(host.init(), host::imInitOk);
    const std::vector<FormatAnswer> formats = allFormats(host);
    ASSERT_GE(formats.size(), 120u);
    EXPECT_EQ(host.getIndFormat(-1).result, host::imBadFormatIndex);
    EXPECT_EQ(host.call(host::imGetIndFormat, nullptr, nullptr), host::imFailure);

    std::map<uint32_t, std::string> codes;
    std::map<std::string, std::string> owners;
    for (const FormatAnswer& format : formats) {
        const hostsim::FormatRecord& record = format.record;
        SCOPED_TRACE(record.name);
        const std::string suffix = " (Kestrova)";
        ASSERT_GT(record.name.size(), suffix.size());
        EXPECT_EQ(record.name.substr(record.name.size() - suffix.size()), suffix);
        // The short name is the display name, cut to 31 characters.
        EXPECT_EQ(record.shortName,
                  record.name.substr(0, record.name.size() - suffix.size()).substr(0, 31));
        for (std::size_t offset : fd::kClearedFields) {
            EXPECT_EQ(host::readField<int32_t>(record.bytes.data(), offset), 0);
        }
        // Bytes outside the fields the importer owns keep the host's fill.
        for (const auto& [from, to] : {std::pair{4, 8}, std::pair{560, 760}}) {
            for (int i = from; i < to; ++i) {
                EXPECT_EQ(record.bytes[i], Host::kFillByte) << "byte " << i;
            }
        }

        // Type codes: 'K' and three letters or digits, one per family.
        const uint32_t code = record.typeCode;
        EXPECT_EQ(code >> 24, uint32_t{'K'});
        for (int shift : {16, 8, 0}) {
            EXPECT_TRUE(std::isalnum(static_cast<int>((code >> shift) & 0xFF)));
        }
        const auto [codeAt, newCode] = codes.emplace(code, record.name);
        EXPECT_TRUE(newCode) << "code shared with " << codeAt->second;

        // Lower-case extensions without dots, each in one family only, in a
        // list that ends with zero bytes to the end of its field.
        ASSERT_FALSE(record.extensions.empty());
        std::size_t used = 0;
        for (const std::string& extension : record.extensions) {
            used += extension.size() + 1;
            for (char c : extension) {
                EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c)) || c == '.') << extension;
            }
            const auto [ownerAt, newExtension] = owners.emplace(extension, record.name);
            EXPECT_TRUE(newExtension) << extension << " also in " << ownerAt->second;
        }
        ASSERT_LT(used, fd::kExtensionsBytes);
        for (std::size_t i = used; i < fd::kExtensionsBytes; ++i) {
            EXPECT_EQ(record.bytes[fd::kExtensions + i], 0) << "list byte " << i;
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
    for (auto& thread : threads) {
        thread.join();
    }
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
