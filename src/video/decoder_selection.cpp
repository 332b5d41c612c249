#include "video/decoder_selection.h"

namespace kestrova {

DecoderVerdict selectDecoder(const ClipDescription&, const StreamInfo&) {
    return {};
}

}  // namespace kestrova
