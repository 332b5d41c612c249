// The module's one export.
#include "host/dispatch.h"

extern "C" __attribute__((visibility("default"))) int32_t xImportEntry(int32_t selector,
                                                                       void* stdParms, void* param1,
                                                                       void* param2) {
    return kestrova::host::guardedImportEntry(selector, stdParms, param1, param2);
}
