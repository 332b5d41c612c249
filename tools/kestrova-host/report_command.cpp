// kestrova-host report: the capability report the importer writes at start.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "importer_session.h"
#include "json_writer.h"
#include "platform/platform.h"

namespace kestrova::cli {

int runReport(const GlobalOptions& options, const std::vector<std::string>&) {
    int exitCode = kExitOk;
    std::unique_ptr<ImporterSession> session = ImporterSession::start(options, exitCode);
    if (!session) {
        return exitCode;
    }
    const std::filesystem::path path = importerDataFile("SUPPORTED-CODECS.md");
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in) {
        std::fprintf(stderr, "kestrova-host: no capability report at %s\n",
                     platform::utf8FromPath(path).c_str());
        return kExitImporterFailed;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    if (options.json) {
        JsonWriter json;
        json.beginObject().key("path").value(platform::utf8FromPath(path));
        json.key("contents").value(contents.str()).endObject();
        std::printf("%s\n", json.text().c_str());
    } else {
        std::printf("%s\n%s", platform::utf8FromPath(path).c_str(), contents.str().c_str());
    }
    return kExitOk;
}

}  // namespace kestrova::cli
