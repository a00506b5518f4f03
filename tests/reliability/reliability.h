// Shared pieces of the reliability tests: the seam library of this process,
// per-process registry keys under HKCU, reference counts, raw Invoke calls
// and the table of every public method.
#pragma once

#include <gtest/gtest.h>

#include "testkit.h"

#include <string>
#include <vector>

namespace reliability {

using namespace testkit;

// The one test build of the library in this process. Every test program
// runs one test per process, so the library's object count is ours alone.
inline SeamLibrary& seam()
{
    static SeamLibrary library;
    return library;
}

// The seam's query export: where a declared function is bound (null when
// it cannot be bound).
inline void* bound(const char* function)
{
    using Query = void*(WINAPI*)(const char*);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(seam().module, "TarnwickBound")));
    return query ? query(function) : nullptr;
}

// Installs a stand-in for a declared function for the lifetime of the
// object, then lets the function bind by its own name again.
class StandIn {
public:
    StandIn(const char* function, const char* library, void* replacement)
        : function_(function), library_(library)
    {
        EXPECT_EQ(seam().bind(function, nullptr, nullptr, replacement), S_OK) << function;
    }
    StandIn(const StandIn&) = delete;
    ~StandIn() { seam().restore(function_, library_); }

private:
    const char* function_;
    const char* library_;
};

// The reference count of an object: AddRef gives n + 1, the Release after
// it gives n again.
inline ULONG refs(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

// HKCU\Software\TarnwickTests\reliability\<area>\<process id>: a key no
// other test process touches.
inline std::wstring test_key(const wchar_t* area)
{
    return std::wstring(L"Software\\TarnwickTests\\reliability\\") + area + L"\\" +
           std::to_wstring(GetCurrentProcessId());
}

inline bool key_exists(const std::wstring& path, HKEY root = HKEY_CURRENT_USER)
{
    Key key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

inline void delete_key(const std::wstring& path)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

inline void make_key(const std::wstring& path)
{
    Key key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
}

// A value read with the wide function; false when it is missing.
inline bool read_value(const std::wstring& path, const wchar_t* name, std::wstring& out)
{
    wchar_t data[4096];
    DWORD size = sizeof data, type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, &type, data, &size) !=
        ERROR_SUCCESS)
        return false;
    out.assign(data, size / sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
    return true;
}

inline bool value_exists(const std::wstring& path, const wchar_t* name)
{
    return RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
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
    EXCEPINFO excep{};
    UINT arg_err = 0xFFFFFFFFu;
    ~Invoked()
    {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
};

// Invoke with `args` in rgvarg order (last argument first) and optional
// named ids.
inline void invoke(Invoked& out, IDispatch* object, DISPID id, std::vector<VARIANT> args,
                   std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD,
                   REFIID riid = IID_NULL)
{
    DISPPARAMS params{args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(),
                      static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
    out.hr = object->Invoke(id, riid, LOCALE_USER_DEFAULT, flags, &params, &out.result,
                            &out.excep, &out.arg_err);
}

// The classes of the library.
struct ClassRef {
    const wchar_t* name;
    const CLSID* clsid;
    const IID* iid;
};
inline const ClassRef kClasses[] = {
    {L"Registry", &CLSID_Registry, &IID__Registry},
    {L"WindowsInfo", &CLSID_WindowsInfo, &IID__WindowsInfo},
    {L"Time", &CLSID_Time, &IID__Time},
    {L"Reboot", &CLSID_Reboot, &IID__Reboot},
};

// One public method as a client sees it: parameter types in declared order
// (VT_BYREF marks in/out) and the result type (VT_EMPTY: none).
struct MethodRef {
    const ClassRef* owner;
    const wchar_t* name;
    DISPID id;
    std::vector<VARTYPE> params;
    std::vector<const wchar_t*> names;
    VARTYPE result;
};

inline const std::vector<MethodRef>& methods()
{
    static const std::vector<MethodRef> all = {
        {&kClasses[0], L"CreateRegKey", 0x60030001, {VT_I4, VT_BSTR, VT_BYREF | VT_I4},
         {L"RootKey", L"strSubKey", L"KeyStatus"}, VT_BOOL},
        {&kClasses[0], L"QueryRegValue", 0x60030002, {VT_I4, VT_BSTR, VT_BSTR, VT_BYREF | VT_BSTR},
         {L"RootKey", L"strSubKey", L"strValueName", L"strData"}, VT_BOOL},
        {&kClasses[0], L"SetRegValue", 0x60030003, {VT_I4, VT_BSTR, VT_BSTR, VT_BYREF | VT_BSTR},
         {L"RootKey", L"SubKey", L"ValueName", L"SettingBuffer"}, VT_BOOL},
        {&kClasses[0], L"RegReadString", 0x60030004,
         {VT_BSTR, VT_BYREF | VT_BSTR, VT_BYREF | VT_BSTR},
         {L"RootKey", L"strKeyName", L"strValueName"}, VT_BSTR},
        {&kClasses[0], L"RegWriteString", 0x60030005, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR},
         {L"RootKey", L"strKeyName", L"strValueName", L"strValue"}, VT_I2},
        {&kClasses[0], L"RegCreateKey", 0x60030006, {VT_BYREF | VT_BSTR, VT_BYREF | VT_BSTR},
         {L"RootKey", L"strKeyName"}, VT_I2},
        {&kClasses[1], L"GetOSType", 0x60030000, {}, {}, VT_I4},
        {&kClasses[1], L"GetOSVersionInfo", 0x60030001, {}, {}, VT_BSTR},
        {&kClasses[1], L"GetWebBrowser", 0x60030002, {}, {}, VT_BSTR},
        {&kClasses[1], L"GetLocation", 0x60030003, {VT_BYREF | VT_BSTR}, {L"strPath"}, VT_EMPTY},
        {&kClasses[1], L"GetDefaultBrowserPath", 0x60030004, {}, {}, VT_BSTR},
        {&kClasses[2], L"CurrentGMTTime", 0x60030000, {}, {}, VT_BSTR},
        {&kClasses[2], L"CurrentLocalTime", 0x60030001, {}, {}, VT_BSTR},
        {&kClasses[3], L"Reboot", 0x60030000, {}, {}, VT_I2},
    };
    return all;
}

// A restart request that never reaches Windows: counts and refuses.
inline LONG g_restart_requests = 0;
inline BOOL WINAPI refuse_restart(UINT, DWORD)
{
    InterlockedIncrement(&g_restart_requests);
    return FALSE;
}

}  // namespace reliability
