// Routes each selector to its handler. Runs inside the host-boundary guard.
#pragma once

#include "host/host_api.h"

namespace kestrova::host {

struct EntryArguments {
    Selector selector;
    void* stdParms;
    void* param1;
    void* param2;
};

Result dispatchSelector(Selector selector, void* stdParms, void* param1, void* param2);

// The guarded form of xImportEntry, shared by the module's export and tests.
Result guardedImportEntry(Selector selector, void* stdParms, void* param1, void* param2);

}  // namespace kestrova::host
