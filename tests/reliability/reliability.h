// Shared pieces of the reliability tests: the seam library, the method
// table, registry keys of the test's own, reference counts and raw Invoke
// calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keys.h"
#include "methods.h"
#include "seam.h"

namespace reliability {

using namespace testkit;

// The reference count of an object: AddRef gives n + 1, the Release after
// it gives n again.
inline ULONG refs(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

// The dispatch identifier of a name, or DISPID_UNKNOWN.
inline DISPID id_of(IDispatch* object, const wchar_t* name)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

// One raw Invoke with everything it hands back.
struct Invoked {
    HRESULT hr = E_FAIL;
    Variant result;
    Excep excep;
    UINT arg_err = 0xFFFFFFFFu;
};

// Invoke with `args` in rgvarg order (last argument first) and optional
// named ids.
inline void invoke(Invoked& out, IDispatch* object, DISPID id, std::vector<VARIANT> args,
                   std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD,
                   REFIID riid = IID_NULL)
{
    DISPPARAMS params{args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(),
                      static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
    out.hr = object->Invoke(id, riid, LOCALE_USER_DEFAULT, flags, &params, &out.result, &out.excep,
                            &out.arg_err);
}

// A restart request that never reaches Windows: counts and refuses.
inline LONG g_restart_requests = 0;
inline BOOL WINAPI refuse_restart(UINT, DWORD)
{
    InterlockedIncrement(&g_restart_requests);
    return FALSE;
}

// The refusing stand-in for restarts, for as long as the guard lives.
inline Rebind refuse_restarts()
{
    return TESTKIT_STAND_IN(ExitWindowsEx, &refuse_restart);
}

}  // namespace reliability
