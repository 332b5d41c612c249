// Handlers of the audio selectors: random and sequential reads, the
// sequential reset, the channel layout and waveform peaks. Audio leaves as
// planar float at the stream's own rate; failures become silence.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

// Most sample frames one read may ask for.
inline constexpr int64_t kMaxAudioReadFrames = 268435456;

Result imImportAudio7Handler(void* record);
Result imGetSequentialAudioHandler(void* record);
Result imResetSequentialAudioHandler(void* record);
Result imGetAudioChannelLayoutHandler(void* param1, void* param2);
Result imGetPeakAudioHandler(void* record);

}  // namespace kestrova::host
