// What info adds beside the streams: the analysis text, XMP, the embedded
// LUT, the content state and the clip's files.
#pragma once

#include <string>
#include <vector>

#include "host.h"
#include "json_writer.h"

namespace kestrova::cli {

struct ClipQueryReport {
    std::vector<std::string> analysis;  // the text's lines; empty when not answered
    int32_t xmpBytes = 0;               // 0 when the clip has no XMP
    int32_t lutBytes = 0;               // 0 when the clip has no embedded LUT
    std::string contentState;           // empty when not answered
    // The clip's files, as paths relative to the clip's folder (where the
    // importer keeps them), so runs on different systems print the same.
    std::vector<std::string> files;
};

// Asks the open clip `privateData` of `file` every question of the report.
ClipQueryReport queryClip(const hostsim::Host& host, void* privateData, const std::string& file);
void printClipQueries(const ClipQueryReport& report);
void addClipQueriesJson(JsonWriter& json, const ClipQueryReport& report);

}  // namespace kestrova::cli
