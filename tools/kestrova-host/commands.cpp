#include "commands.h"

namespace kestrova::cli {
namespace {

const Command kCommands[] = {
    {"formats", "", 0, "list the container families the importer offers",
     "Initialises the importer, asks it for every format family in turn and prints one\n"
     "line per family: index, type code, format name, short name and extensions\n"
     "(with --json: one array of objects). Exit 2 when initialisation fails; the\n"
     "reason from the importer's log is printed on standard error.\n",
     runFormats},
    {"info", "FILE", 1, "open a file and print what the host learns about it",
     "Initialises the importer, opens FILE (imOpenFile8, host stream 0 or --stream S)\n"
     "and asks imGetInfo8 for every host stream and imGetPreferredFrameSize for each\n"
     "size, then the pixel formats the clip offers (imGetIndPixelFormat, with the\n"
     "importer's conversion, score and reason from its log at log level 3 or more) and its colour "
     "spaces\n"
     "(imGetIndColorSpace), the analysis text (imAnalysis), the sizes of its XMP\n"
     "(imGetMetaData) and embedded LUT (imGetEmbeddedLUT), the content state of FILE\n"
     "(imQueryContentState) and the clip's files (imQueryInputFileList, relative to\n"
     "FILE's folder), then closes the file. With --json: {\"answer\": N,\n"
     "\"streams\": [...], \"pixelFormats\": [{fourcc, kind, score, reason}], \"colorSpaces\": "
     "[...],\n"
     "\"analysis\": [LINE, ...], \"xmp\", \"xmpBytes\", \"embeddedLutBytes\", \"contentState\",\n"
     "\"files\": [...]}.\n"
     "Exit 0 when opened, 3 when the importer declined the file (the answer and the\n"
     "logged reason go to standard error), 2 when initialisation fails.\n",
     runInfo},
    {"frames", "FILE", 1, "request frames of a file and report, hash or save them",
     "Opens FILE (host stream 0 or --stream S), negotiates the pixel format\n"
     "(imGetIndPixelFormat, then imSelectClipFrameDescriptor wishing for --format\n"
     "FOURCC if given) and requests each frame with imGetSourceVideo at its start\n"
     "time. Which frames: --at N,N,... or --range A:B (frames A to B-1), default\n"
     "the first 250 of the clip. --shuffle SEED requests them in a shuffled order\n"
     "but prints them by frame number, so runs can be compared. Per frame: number,\n"
     "delivered FourCC, whether the host's frame cache served it, and with --hash a\n"
     "64-bit FNV-1a hash of the picture's bytes without row padding. --out DIR\n"
     "writes frame_NNNNNN.png per frame, --sheet PNG one labelled contact sheet.\n"
     "With --json: [{\"frame\", \"fourcc\", \"fromCache\", \"hash\", \"ms\"}]\n"
     "(\"answer\" instead for a failed frame; \"ms\" the request's wall time).\n"
     "FourCCs are written first character first, as\n"
     "in bgra. Exit 2 when any frame fails, 3 when the file is declined.\n",
     runFrames},
    {"play", "FILE", 1, "play frames in order and measure the frame rate",
     "Opens FILE like frames and requests frames 0 to N-1 (--frames N, default the\n"
     "first 120) in order, disposing each delivered frame as a displaying host does.\n"
     "The first pass runs with the host's frame cache off (lookups miss; frames are\n"
     "still added), the second with it on, served from it. Prints frames per second\n"
     "and milliseconds per frame of both passes. With --json: {\"fourcc\",\n"
     "\"frames\", \"fps\", \"msPerFrame\", \"fromCache\", \"failed\", \"cached\": {the\n"
     "same four of the cached pass}}. Exit 2 when any frame fails.\n"
     "With --async the clip plays through the importer's async entry instead\n"
     "(imCreateAsyncImporter, then aiGetFrame): --threads N requesting threads take\n"
     "the frames in order, with the host's frame cache on as a playing host has it;\n"
     "--scrub requests a scrub instead (frames 0 to min(N-1, 60) forward, a jump back\n"
     "to a third of that and 13 frames forward, then all the way back to 0 in\n"
     "reverse), asking aiSelectEfficientRenderTime for each time first. Prints frames\n"
     "per second, mean and 95th-percentile request latency, host cache hits, the\n"
     "frames the importer's prefetch thread decoded (from its log, level 3 or more)\n"
     "and the render times snapped to a keyframe. With --json: {\"fourcc\",\n"
     "\"frames\", \"async\": true, \"threads\", \"scrub\", \"fps\", \"msPerFrame\",\n"
     "\"meanLatencyMs\", \"p95LatencyMs\", \"hostCacheHits\", \"prefetched\",\n"
     "\"snapped\", \"failed\"}.\n",
     runPlay},
    {"audio", "FILE", 1, "read a host stream's audio and report or save it",
     "Opens FILE (host stream 0 or --stream S), takes its channels, sample rate and\n"
     "audio duration from imGetInfo8 and its channel labels from\n"
     "imGetAudioChannelLayout, then reads the audio with imImportAudio7 in chunks of\n"
     "--chunk N sample frames (default 48000): the whole stream, or --range\n"
     "START:COUNT sample frames. --sequential reads with imResetSequentialAudio and\n"
     "then imGetSequentialAudio instead, up to the audio duration. --out WAV writes\n"
     "what was delivered as a 32-bit float WAV file (WAVE_FORMAT_EXTENSIBLE with the\n"
     "speaker mask of the labels above two channels). Prints channels, sample rate,\n"
     "the sample frames read (in reads answered 0) and the milliseconds spent in the\n"
     "read selectors, the labels and every non-zero answer. With --json:\n"
     "{\"channels\", \"sampleRate\", \"samples\", \"ms\", \"labels\": [...],\n"
     "\"answers\": {\"ANSWER\": reads}}. Exit 2 when any read or the layout fails,\n"
     "3 when the file is declined.\n",
     runAudio},
    {"peaks", "FILE", 1, "ask for a host stream's waveform peaks and draw them",
     "Opens FILE like audio and asks imGetPeakAudio once for the whole stream at\n"
     "--rate R points per second (default 200; ceil(duration / sample rate x R)\n"
     "points). Prints the milliseconds the call took, whether the stream's peak\n"
     "cache file (FILE.aN.kstpk, N the FFmpeg audio stream the importer logs at\n"
     "level 3 and above; below that any FILE.a*.kstpk) existed before the call, and\n"
     "per channel the lowest minimum and highest maximum. --png PNG draws the\n"
     "waveform, --width W pixels wide (default 1200), one lane per channel. With\n"
     "--json: {\"channels\", \"points\", \"rate\", \"ms\", \"cacheFileBefore\",\n"
     "\"max\": [per channel], \"min\": [per channel]}. Exit 2 when the call fails.\n",
     runPeaks},
    {"size", "FILE", 1, "estimate the bytes of a copy or trimmed copy",
     "Opens FILE (host stream 0 or --stream S) and asks imCalcSize8 for the whole\n"
     "file, or with --in SECONDS --dur SECONDS for that span, counted in frames of\n"
     "the clip (audio sample frames when it has no video). Prints the answer and the\n"
     "bytes. With --json: {\"answer\", \"bytes\", \"unit\", \"in\", \"duration\"}.\n"
     "Exit 2 when the call fails, 3 when the file is declined.\n",
     runSize},
    {"trim", "FILE", 1, "trim a file by remuxing, after checking where it may start",
     "Opens FILE like size and asks imCheckTrim8 where a trim from --in SECONDS for\n"
     "--dur SECONDS may start (a video trim moves back to a keyframe and grows to\n"
     "keep its end), prints the adjusted in point and duration, then writes the trim\n"
     "to --out OUT with imTrimFile8, a progress bar on a terminal. --no-audio or\n"
     "--no-video leaves those streams out. With --json: {\"checkAnswer\",\n"
     "\"answer\", \"unit\", \"requestedIn\", \"requestedDuration\", \"in\",\n"
     "\"duration\", \"inSeconds\", \"durationSeconds\", \"out\", \"ms\"}. Exit 2 when\n"
     "the trim fails, 3 when the file or its container is declined.\n",
     runTrim},
    {"copy", "SRC DST", 2, "copy a file through the importer",
     "Initialises the importer and copies SRC to DST with imCopyFile, a progress bar\n"
     "on a terminal. DST appears only once the copy is complete. With --json:\n"
     "{\"answer\", \"bytes\", \"ms\"}. Exit 2 when the copy fails.\n",
     runCopy},
    {"captions", "FILE", 1, "scan a file's closed captions and print each one",
     "Opens FILE (host stream 0 or --stream S) and scans its captions as the host\n"
     "does: imInitiateAsyncClosedCaptionScan, then imGetNextClosedCaption until it\n"
     "answers 40, then imCompleteAsyncClosedCaptionScan. The scan's result is kept\n"
     "in FILE.kstcc, so a second run is served from that file. Prints the frame\n"
     "rate and estimated duration, then per caption its time in frames and seconds,\n"
     "its format (608, 708 or TTML) and its bytes in hex with the EIA-608 text they\n"
     "spell, or its text; last the EIA-608 text of all byte captions. A clip without\n"
     "captions prints the scan's answer (40). With --json: {\"answer\",\n"
     "\"frameRateNum\", \"frameRateDen\", \"estimatedDurationFrames\", \"captions\":\n"
     "[{\"time\", \"seconds\", \"format\", \"bytes\" and \"cea608\", or \"text\"}],\n"
     "\"cea608Text\"}. Exit 2 when the scan fails otherwise, 3 when the file is declined.\n",
     runCaptions},
    {"report", "", 0, "print the capability report the importer writes",
     "Initialises the importer, which writes SUPPORTED-CODECS.md into the per-user\n"
     "data folder, then prints the report's path on the first line and its contents\n"
     "after it (with --json: an object with path and contents).\n",
     runReport},
};

const char kGlobalOptions[] =
    "Options:\n"
    "  --module PATH     the importer module (default: Kestrova.prm beside this program)\n"
    "  --appdata DIR     per-user data folder for this run (sets LOCALAPPDATA, creates DIR)\n"
    "  --log-level N     write logLevel=N (0..5) into the preferences file before the run\n"
    "  --stream S        the host stream to open with (default 0)\n"
    "  --format FOURCC   frames, play: the pixel format to wish for (e.g. bgra)\n"
    "  --at N,N,...      frames: these frames\n"
    "  --range A:B       frames: frames A to B-1\n"
    "  --range START:COUNT  audio: COUNT sample frames from START\n"
    "  --shuffle SEED    frames: request in a shuffled order\n"
    "  --hash            frames: print a hash of each picture\n"
    "  --out DIR         frames: write each frame as DIR/frame_NNNNNN.png\n"
    "  --out WAV         audio: write the audio as a float WAV file\n"
    "  --sheet PNG       frames: write a contact sheet of the frames\n"
    "  --frames N        play: the number of frames to play\n"
    "  --async           play: through the importer's async entry\n"
    "  --threads N       play --async: requesting threads (default 1)\n"
    "  --scrub           play --async: a scrub pattern instead of frames in order\n"
    "  --sequential      audio: read with the sequential selectors\n"
    "  --chunk N         audio: sample frames per read (default 48000)\n"
    "  --rate R          peaks: points per second (default 200)\n"
    "  --png PNG         peaks: draw the waveform\n"
    "  --width W         peaks: the waveform's width in pixels (default 1200)\n"
    "  --in SECONDS      size, trim: the span's start (default 0)\n"
    "  --dur SECONDS     size, trim: the span's length\n"
    "  --out OUT         trim: the trimmed file to write\n"
    "  --no-audio        trim: leave the audio out\n"
    "  --no-video        trim: leave the video out\n"
    "  --json            machine-readable output\n"
    "  --help            this text; 'kestrova-host help COMMAND' for one command\n"
    "Exit codes: 0 ok, 1 usage error, 2 the importer failed, 3 the file was declined.\n";

}  // namespace

std::span<const Command> commands() {
    return kCommands;
}

const Command* findCommand(std::string_view name) {
    for (const Command& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

void printUsage(std::FILE* to) {
    std::fprintf(to, "Usage: kestrova-host [options] COMMAND [arguments]\n\nCommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(to, "  %-10s %s\n", command.name, command.summary);
    }
    std::fprintf(to, "  %-10s %s\n\n%s", "help", "help on one command", kGlobalOptions);
}

void printCommandHelp(const Command& command, std::FILE* to) {
    std::fprintf(to, "Usage: kestrova-host [options] %s%s%s\n\n%s\n%s", command.name,
                 *command.arguments ? " " : "", command.arguments, command.details, kGlobalOptions);
}

}  // namespace kestrova::cli
