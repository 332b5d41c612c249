#include "query_records.h"

#include <algorithm>

#include "platform/platform.h"

namespace kestrova::hostsim {
namespace {

std::vector<uint8_t> filledRecord(std::size_t size) {
    return std::vector<uint8_t>(size, Host::kFillByte);
}

// Calls a buffer selector whose record keeps the private data at 0 and the
// size and buffer pointer at the given offsets.
BufferAnswer callWithBuffer(const Host& host, host::Selector selector, std::vector<uint8_t>& record,
                            std::size_t sizeOffset, std::size_t bufferOffset,
                            std::optional<int32_t> bufferBytes, void* param1, void* param2) {
    BufferAnswer answer;
    host::writeField<int32_t>(record.data(), sizeOffset, bufferBytes.value_or(0));
    if (bufferBytes) {
        answer.bytes.assign(static_cast<std::size_t>(std::max(*bufferBytes, 0)), Host::kFillByte);
    }
    host::writeField<uint8_t*>(record.data(), bufferOffset,
                               bufferBytes ? answer.bytes.data() : nullptr);
    answer.result = host.call(selector, param1, param2);
    answer.size = host::readField<int32_t>(record.data(), sizeOffset);
    return answer;
}

// Where a clip record that is the first parameter keeps its fields.
struct ClipBufferRecord {
    std::size_t size;
    std::size_t privateData;
    std::size_t bufferSize;
    std::size_t buffer;
};

BufferAnswer askClipForBytes(const Host& host, host::Selector selector,
                             const ClipBufferRecord& layout, void* privateData,
                             std::optional<int32_t> bufferBytes) {
    std::vector<uint8_t> record = filledRecord(layout.size);
    host::writeField<void*>(record.data(), layout.privateData, privateData);
    return callWithBuffer(host, selector, record, layout.bufferSize, layout.buffer, bufferBytes,
                          record.data(), nullptr);
}

template <typename Ask>
BufferAnswer sizeThenBytes(Ask ask) {
    const BufferAnswer size = ask(std::nullopt);
    if (size.result != host::imNoErr) {
        return size;
    }
    return ask(size.size);
}

std::u16string wide(const std::string& utf8) {
    return platform::utf8ToUtf16(utf8).value_or(u"");
}

}  // namespace

std::string BufferAnswer::text() const {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

BufferAnswer analysis(const Host& host, void* privateData, std::optional<int32_t> bufferBytes) {
    namespace rec = host::analysisrec;
    return askClipForBytes(host, host::imAnalysis,
                           {rec::kSize, rec::kPrivateData, rec::kBufferSize, rec::kBuffer},
                           privateData, bufferBytes);
}

BufferAnswer metadata(const Host& host, void* privateData, uint32_t code,
                      std::optional<int32_t> bufferBytes) {
    namespace rec = host::metadatarec;
    std::vector<uint8_t> access(host::fileaccess::kSize, 0);
    std::vector<uint8_t> record = filledRecord(rec::kSize);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<uint32_t>(record.data(), rec::kCode, code);
    return callWithBuffer(host, host::imGetMetaData, record, rec::kBufferSize, rec::kBuffer,
                          bufferBytes, access.data(), record.data());
}

BufferAnswer embeddedLut(const Host& host, void* privateData, std::optional<int32_t> bufferBytes) {
    namespace rec = host::lutrec;
    return askClipForBytes(host, host::imGetEmbeddedLUT,
                           {rec::kSize, rec::kPrivateData, rec::kBufferSize, rec::kBuffer},
                           privateData, bufferBytes);
}

BufferAnswer wholeAnalysis(const Host& host, void* privateData) {
    return sizeThenBytes(
        [&](std::optional<int32_t> bytes) { return analysis(host, privateData, bytes); });
}

BufferAnswer wholeMetadata(const Host& host, void* privateData, uint32_t code) {
    return sizeThenBytes(
        [&](std::optional<int32_t> bytes) { return metadata(host, privateData, code, bytes); });
}

BufferAnswer wholeEmbeddedLut(const Host& host, void* privateData) {
    return sizeThenBytes(
        [&](std::optional<int32_t> bytes) { return embeddedLut(host, privateData, bytes); });
}

TextAnswer streamLabel(const Host& host, void* privateData, int32_t stream) {
    namespace rec = host::streamlabelrec;
    std::vector<uint8_t> record = filledRecord(rec::kSize);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kStreamIndex, stream);
    TextAnswer answer;
    answer.result = host.call(host::imQueryStreamLabel, record.data(), nullptr);
    const auto label = host::readField<host::HostString>(record.data(), rec::kLabel);
    answer.text = host.stringText(label).value_or("");
    return answer;
}

TextAnswer contentState(const Host& host, const std::optional<std::string>& path) {
    namespace rec = host::contentstaterec;
    const std::u16string widePath = wide(path.value_or(""));
    std::vector<uint8_t> record = filledRecord(rec::kSize);
    host::writeField<const char16_t*>(record.data(), rec::kPath, path ? widePath.c_str() : nullptr);
    TextAnswer answer;
    answer.result = host.call(host::imQueryContentState, record.data(), nullptr);
    const auto* state = record.data() + rec::kState;
    const auto* end = std::find(state, state + rec::kStateBytes, uint8_t{0});
    if (end != state + rec::kStateBytes) {
        answer.text.assign(state, end);
    }
    return answer;
}

TextAnswer destinationPath(const Host& host, const std::string& source, bool withBuffer) {
    namespace rec = host::destpathrec;
    const std::u16string wideSource = wide(source);
    std::vector<char16_t> buffer(rec::kDestinationUnits, Host::kFillUnit);
    std::vector<uint8_t> record = filledRecord(rec::kSize);
    host::writeField<const char16_t*>(record.data(), rec::kSourcePath, wideSource.c_str());
    host::writeField<char16_t*>(record.data(), rec::kDestination,
                                withBuffer ? buffer.data() : nullptr);
    TextAnswer answer;
    answer.result = host.call(host::imQueryDestinationPath, record.data(), nullptr);
    const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
    if (withBuffer && end != buffer.end()) {
        answer.text = platform::utf16ToUtf8(std::u16string(buffer.begin(), end)).value_or("");
    }
    return answer;
}

namespace {

FileListAnswer callFileList(const Host& host, void* privateData, std::optional<int32_t> capacity) {
    namespace rec = host::filelistrec;
    std::vector<uint8_t> record = filledRecord(rec::kSize);
    std::vector<uint8_t> entries(
        static_cast<std::size_t>(std::max(capacity.value_or(0), 0)) * rec::kEntryBytes,
        Host::kFillByte);
    host::writeField<void*>(record.data(), rec::kPrivateData, privateData);
    host::writeField<int32_t>(record.data(), rec::kCount, capacity.value_or(0));
    host::writeField<uint8_t*>(record.data(), rec::kEntries, capacity ? entries.data() : nullptr);
    FileListAnswer answer;
    answer.result = host.call(host::imQueryInputFileList, record.data(), nullptr);
    answer.count = host::readField<int32_t>(record.data(), rec::kCount);
    for (std::size_t offset = 0; offset < entries.size(); offset += rec::kEntryBytes) {
        const auto name = host::readField<host::HostString>(entries.data(), offset);
        if (const std::optional<std::string> text = host.stringText(name)) {
            answer.paths.push_back(*text);
        }
    }
    return answer;
}

}  // namespace

FileListAnswer inputFileCount(const Host& host, void* privateData) {
    return callFileList(host, privateData, std::nullopt);
}

FileListAnswer inputFileList(const Host& host, void* privateData, int32_t capacity) {
    return callFileList(host, privateData, capacity);
}

FileListAnswer inputFiles(const Host& host, void* privateData) {
    const FileListAnswer count = inputFileCount(host, privateData);
    if (count.result != host::imNoErr) {
        return count;
    }
    return inputFileList(host, privateData, count.count);
}

}  // namespace kestrova::hostsim
