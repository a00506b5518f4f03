/* Stops the build when an interface has more methods than Invoke's cache
   holds (invoke_limits.h), naming the interface, instead of leaving every
   call on its class to fail at run time. The C form of the generated
   header spells each method table out as a structure of pointers. */
#include "Tarnwick.h"
#include "invoke_limits.h"

/* The entries after the seven of IUnknown and IDispatch. */
#define METHODS(vtbl) (sizeof(vtbl) / sizeof(void*) - 7)

_Static_assert(METHODS(_RebootVtbl) <= TARNWICK_MAX_METHODS,
               "_Reboot has more methods than Invoke can call (invoke_limits.h)");
_Static_assert(METHODS(_RegistryVtbl) <= TARNWICK_MAX_METHODS,
               "_Registry has more methods than Invoke can call (invoke_limits.h)");
_Static_assert(METHODS(_TimeVtbl) <= TARNWICK_MAX_METHODS,
               "_Time has more methods than Invoke can call (invoke_limits.h)");
_Static_assert(METHODS(_WindowsInfoVtbl) <= TARNWICK_MAX_METHODS,
               "_WindowsInfo has more methods than Invoke can call (invoke_limits.h)");
