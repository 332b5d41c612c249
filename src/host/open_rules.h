// Which files the plug-in leaves to the host's own importer: ISO media files
// whose video uses only codecs the host decodes natively.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrova::host {

bool isIsoMediaExtension(std::string_view path);
bool isNativeContainer(std::string_view formatName);
// FFV1, Theora, VP8, VP9 and AV1 keep an ISO media file with the plug-in.
bool isOpenCodec(int32_t codecId);
bool anyOpenCodec(const std::vector<int32_t>& codecIds);

}  // namespace kestrova::host
