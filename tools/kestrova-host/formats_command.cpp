// kestrova-host formats: every container family the importer offers.
#include <cstdio>
#include <string>

#include "commands.h"
#include "importer_session.h"
#include "json_writer.h"

namespace kestrova::cli {
namespace {

// Far more families than any FFmpeg build has; stops a runaway index loop.
constexpr int32_t kMaxFamilies = 100000;

// Most significant byte first; bytes that are not printable show as '?'.
std::string typeCodeText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

std::string joined(const std::vector<std::string>& pieces, const char* separator) {
    std::string text;
    for (const std::string& piece : pieces) {
        text += text.empty() ? "" : separator;
        text += piece;
    }
    return text;
}

}  // namespace

int runFormats(const GlobalOptions& options, const std::vector<std::string>&) {
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session = ImporterSession::start(options, exitCode);
    if (!session) {
        return exitCode;
    }
    JsonWriter json;
    json.beginArray();
    for (int32_t index = 0; index < kMaxFamilies; ++index) {
        const hostsim::FormatAnswer answer = session->host().getIndFormat(index);
        if (answer.result == host::imBadFormatIndex) {
            break;
        }
        if (answer.result != host::imNoErr) {
            std::fprintf(stderr, "kestrova-host: imGetIndFormat(%d) answered %d\n", index,
                         answer.result);
            return kExitImporterFailed;
        }
        const hostsim::FormatRecord& record = answer.record;
        const std::string code = typeCodeText(record.typeCode);
        if (options.json) {
            json.beginObject().key("index").value(index).key("typeCode").value(code);
            json.key("name").value(record.name).key("shortName").value(record.shortName);
            json.key("extensions").beginArray();
            for (const std::string& extension : record.extensions) {
                json.value(extension);
            }
            json.endArray().endObject();
        } else {
            std::printf("%d\t%s\t%s\t%s\t%s\n", index, code.c_str(), record.name.c_str(),
                        record.shortName.c_str(), joined(record.extensions, " ").c_str());
        }
    }
    if (options.json) {
        std::printf("%s\n", json.endArray().text().c_str());
    }
    return kExitOk;
}

}  // namespace kestrova::cli
