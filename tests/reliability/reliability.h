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

// Requests to restart the machine, now or after a delay, or to call a
// delayed restart off, that never reach Windows: each is counted and refused.
inline LONG g_restart_requests = 0;
inline BOOL WINAPI refuse_restart(UINT, DWORD)
{
    InterlockedIncrement(&g_restart_requests);
    return FALSE;
}
inline BOOL WINAPI refuse_delayed_restart(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD)
{
    InterlockedIncrement(&g_restart_requests);
    return FALSE;
}
inline BOOL WINAPI refuse_calling_off(LPWSTR)
{
    InterlockedIncrement(&g_restart_requests);
    return FALSE;
}

// The refusing stand-ins for all three, for as long as the guard lives.
struct RestartsRefused {
    Rebind now, delayed, called_off;
};
inline RestartsRefused refuse_restarts()
{
    return {TESTKIT_STAND_IN(ExitWindowsEx, &refuse_restart),
            TESTKIT_STAND_IN(InitiateSystemShutdownExW, &refuse_delayed_restart),
            TESTKIT_STAND_IN(AbortSystemShutdownW, &refuse_calling_off)};
}

// Whether the library calls the refusing stand-ins for all three now.
inline bool restarts_refused()
{
    auto is = [](const char* function, auto stand_in) {
        return seam().bound(function) == reinterpret_cast<void*>(stand_in);
    };
    return is("ExitWindowsEx", &refuse_restart) &&
           is("InitiateSystemShutdownExW", &refuse_delayed_restart) &&
           is("AbortSystemShutdownW", &refuse_calling_off);
}

}  // namespace reliability
