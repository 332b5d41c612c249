#include "clip_queries_report.h"

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "query_records.h"

namespace kestrova::cli {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string relativeTo(const std::filesystem::path& folder, const std::string& file) {
    const std::filesystem::path relative = platform::pathFromUtf8(file).lexically_relative(folder);
    return relative.empty() ? file : platform::utf8FromPath(relative);
}

int32_t sizeIfAnswered(const hostsim::BufferAnswer& answer) {
    return answer.result == host::imNoErr ? answer.size : 0;
}

}  // namespace

ClipQueryReport queryClip(const hostsim::Host& host, void* privateData, const std::string& file) {
    ClipQueryReport report;
    const hostsim::BufferAnswer analysis = hostsim::wholeAnalysis(host, privateData);
    if (analysis.result == host::imNoErr) {
        report.analysis = linesOf(analysis.text());
    }
    report.xmpBytes =
        sizeIfAnswered(hostsim::metadata(host, privateData, host::kXmpMetadataCode, std::nullopt));
    report.lutBytes = sizeIfAnswered(hostsim::embeddedLut(host, privateData, std::nullopt));
    const hostsim::TextAnswer state = hostsim::contentState(host, file);
    if (state.result == host::imNoErr) {
        report.contentState = state.text;
    }
    const std::filesystem::path folder = platform::pathFromUtf8(file).parent_path();
    for (const std::string& path : hostsim::inputFiles(host, privateData).paths) {
        report.files.push_back(relativeTo(folder, path));
    }
    return report;
}

void printClipQueries(const ClipQueryReport& report) {
    std::printf("analysis:\n");
    for (const std::string& line : report.analysis) {
        std::printf("  %s\n", line.c_str());
    }
    if (report.xmpBytes > 0) {
        std::printf("XMP: %d bytes\n", report.xmpBytes);
    } else {
        std::printf("XMP: none\n");
    }
    if (report.lutBytes > 0) {
        std::printf("embedded LUT: %d bytes\n", report.lutBytes);
    } else {
        std::printf("embedded LUT: none\n");
    }
    std::printf("content state: %s\n",
                report.contentState.empty() ? "-" : report.contentState.c_str());
    std::printf("files:\n");
    for (const std::string& file : report.files) {
        std::printf("  %s\n", file.c_str());
    }
}

void addClipQueriesJson(JsonWriter& json, const ClipQueryReport& report) {
    json.key("analysis").beginArray();
    for (const std::string& line : report.analysis) {
        json.value(line);
    }
    json.endArray();
    json.key("xmp").boolean(report.xmpBytes > 0).key("xmpBytes").value(report.xmpBytes);
    json.key("embeddedLutBytes").value(report.lutBytes);
    json.key("contentState").value(report.contentState);
    json.key("files").beginArray();
    for (const std::string& file : report.files) {
        json.value(file);
    }
    json.endArray();
}

}  // namespace kestrova::cli
