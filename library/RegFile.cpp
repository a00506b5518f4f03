// Registry 1.2: a key's subtree exported to a registration file, and such
// a file imported. (In progress.)
#include "Registry.h"

namespace tarnwick {

HRESULT Registry::RegExportKey(VARIANT, BSTR, BSTR, VARIANT, VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL&) { raise(kInvalidCall); });
}

HRESULT Registry::RegImportFile(BSTR, VARIANT, LONG* result)
{
    return method(result, [&](LONG&) { raise(kInvalidCall); });
}

}  // namespace tarnwick
