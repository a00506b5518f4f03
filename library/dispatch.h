// The dispatch side of every class's dual interface (dispatch.cpp).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "classes.h"

namespace tarnwick::dispatch {

HRESULT type_info(const ClassInfo& info, ITypeInfo** out) noexcept;
HRESULT ids_of_names(const ClassInfo& info, REFIID riid, LPOLESTR* names, UINT count,
                     DISPID* ids) noexcept;
HRESULT invoke(IDispatch* self, const ClassInfo& info, DISPID id, REFIID riid, WORD flags,
               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept;

// Drops the type information read for Invoke, when the library is unloaded.
void release_type_cache() noexcept;

}  // namespace tarnwick::dispatch
