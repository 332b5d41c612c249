// The module's one export.
#include "host/dispatch.h"

#if defined(_WIN32)
#define KESTROVA_EXPORT __declspec(dllexport)
#else
#define KESTROVA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KESTROVA_EXPORT int32_t xImportEntry(int32_t selector, void* stdParms, void* param1,
                                                void* param2) {
    return kestrova::host::guardedImportEntry(selector, stdParms, param1, param2);
}
