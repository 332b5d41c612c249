/* A stand-in for one FFmpeg library, for the loader tests. Each build defines
 *   FAKE_IN_<n>=FAKE_KEEP  for the library it builds (0 avutil, 1 avcodec,
 *                          2 avformat, 3 swscale, 4 swresample),
 *   FAKE_MAJOR, FAKE_MINOR, FAKE_MICRO  the version that library reports,
 * and may withhold one symbol by defining its name as fake_withheld_symbol.
 * The library then exports exactly its own functions from the bound list. */

#define FAKE_EXPORT __attribute__((visibility("default")))
#define FAKE_VERSION ((unsigned)((FAKE_MAJOR << 16) | (FAKE_MINOR << 8) | FAKE_MICRO))

#define FAKE_KEEP(definition) definition
#define FAKE_DROP(definition)
#ifndef FAKE_IN_0
#define FAKE_IN_0 FAKE_DROP
#endif
#ifndef FAKE_IN_1
#define FAKE_IN_1 FAKE_DROP
#endif
#ifndef FAKE_IN_2
#define FAKE_IN_2 FAKE_DROP
#endif
#ifndef FAKE_IN_3
#define FAKE_IN_3 FAKE_DROP
#endif
#ifndef FAKE_IN_4
#define FAKE_IN_4 FAKE_DROP
#endif

/* Renamed stand-ins stay hidden: their first declaration says so. */
#define FAKE_HIDDEN __attribute__((visibility("hidden")))
FAKE_HIDDEN unsigned fake_withheld_symbol(void);
FAKE_HIDDEN unsigned fake_generic_avutil_license(void);
FAKE_HIDDEN unsigned fake_generic_avcodec_configuration(void);
#define avutil_license fake_generic_avutil_license
#define avcodec_configuration fake_generic_avcodec_configuration

/* Every stand-in answers the packed version: the loader calls only the
 * *_version functions and the two texts written out below. */
#pragma GCC visibility push(default)
#define KESTROVA_FFMPEG_SYMBOL(library, name) \
    FAKE_IN_##library(unsigned name(void) { return FAKE_VERSION; })
#include "ffmpeg/ffmpeg_symbols.inc"
#undef KESTROVA_FFMPEG_SYMBOL
#pragma GCC visibility pop

#undef avutil_license
#undef avcodec_configuration
FAKE_IN_0(FAKE_EXPORT const char* avutil_license(void) { return "fake licence"; })
FAKE_IN_1(FAKE_EXPORT const char* avcodec_configuration(void) { return "--fake-configuration"; })
