// Small helpers shared by the C++ test programs: owners for COM pointers,
// strings, variants, exception records, registry keys and threads, the
// run-time error statuses, access to the built libraries, and late-bound
// calls by name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#undef RegCreateKey
#undef GetComputerName
#undef GetUserName
#include "Tarnwick.h"
#include "com.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

// The library's own COM pointer owner.
template <class T> using Com = tarnwick::ComPtr<T>;

// The library's string owner, with what tests need besides: made from a
// text, copied, and read back as a std::wstring.
class Bstr : public tarnwick::Bstr {
public:
    Bstr() = default;
    Bstr(const wchar_t* s) : tarnwick::Bstr(SysAllocString(s)) {}
    Bstr(const std::wstring& s)
        : tarnwick::Bstr(SysAllocStringLen(s.data(), static_cast<UINT>(s.size())))
    {
    }
    Bstr(const Bstr& o) : tarnwick::Bstr(o.get() ? SysAllocStringLen(o.get(), o.length()) : nullptr)
    {
    }
    Bstr(Bstr&&) = default;
    Bstr& operator=(Bstr o)
    {
        tarnwick::Bstr::operator=(std::move(o));
        return *this;
    }
    std::wstring str() const { return std::wstring(view()); }
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    Variant(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

// The exception record that Invoke fills, with its strings owned.
struct Excep : EXCEPINFO {
    Excep() : EXCEPINFO{} {}
    Excep(const Excep&) = delete;
    ~Excep() { clear(); }
    void clear()
    {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
        static_cast<EXCEPINFO&>(*this) = EXCEPINFO{};
    }
    std::wstring source() const { return bstrSource ? bstrSource : L""; }
    std::wstring description() const { return bstrDescription ? bstrDescription : L""; }
};

// Root keys as the handle-level methods take them: the handle as a Long.
constexpr LONG kHKCR = static_cast<LONG>(0x80000000);
constexpr LONG kHKCU = static_cast<LONG>(0x80000001);
constexpr LONG kHKLM = static_cast<LONG>(0x80000002);
constexpr LONG kHKU = static_cast<LONG>(0x80000003);

// The status of a run-time error: severity error, FACILITY_CONTROL, the number.
constexpr HRESULT run_time_error(unsigned number)
{
    return static_cast<HRESULT>(0x800A0000u + number);
}
// The run-time errors of a declared function that cannot be bound.
constexpr HRESULT kFileNotFound = run_time_error(53);    // its library is not found
constexpr HRESULT kLoadFailed = run_time_error(48);      // its library cannot be loaded
constexpr HRESULT kEntryNotFound = run_time_error(453);  // its library lacks it

// Initialises COM in a single-threaded apartment for the calling thread.
struct Apartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Apartment()
    {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
};

// A Unix path from the environment (set by CTest) as a Windows path on Wine's Z: drive.
inline std::wstring env_path(const char* name)
{
    const char* unix_path = std::getenv(name);
    std::wstring out = L"Z:";
    for (const char* p = unix_path ? unix_path : ""; *p; ++p)
        out += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

// Creates a class of the registered library by class identifier.
template <class I> Com<I> create(REFCLSID clsid)
{
    Com<I> out;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I),
                     reinterpret_cast<void**>(out.put()));
    return out;
}

// Late-bound call by name with positional arguments (given in declared
// order); returns Invoke's status and fills result and excep.
inline HRESULT call_by_name(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args,
                            VARIANT* result, Excep* excep = nullptr,
                            WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET)
{
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Excep local;
    if (excep)
        excep->clear();
    UINT arg_err = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                          excep ? excep : &local, &arg_err);
}

// The description of the error information that the last failing call left
// on this thread; empty when there is none.
inline std::wstring error_description()
{
    Com<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return L"";
    Bstr text;
    info->GetDescription(text.put());
    return text.str();
}

// {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
inline std::wstring guid_text(const GUID& id)
{
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

// Text for messages: ASCII as it is, anything else as "?".
inline std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

inline std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// A result as a reader would name it: "True", "False", a number (also for a
// Boolean that is neither), the text itself, or "(nothing)".
inline std::wstring text_of(const VARIANT& v)
{
    switch (V_VT(&v)) {
    case VT_EMPTY:
        return L"(nothing)";
    case VT_BOOL:
        return V_BOOL(&v) == VARIANT_TRUE    ? L"True"
               : V_BOOL(&v) == VARIANT_FALSE ? L"False"
                                             : std::to_wstring(V_BOOL(&v));
    case VT_I2:
        return std::to_wstring(V_I2(&v));
    case VT_I4:
        return std::to_wstring(V_I4(&v));
    case VT_BSTR:
        return V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"";
    default:
        return L"(type " + std::to_wstring(V_VT(&v)) + L")";
    }
}

// A file of this process's own in the temporary folder: NAME with the
// process id in front, so that test processes running at once do not meet.
inline std::wstring temp_path(const std::wstring& name)
{
    wchar_t dir[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    return std::wstring(dir, n) + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

// The bytes of a file; "(no file)" when it cannot be opened.
inline std::string file_bytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "(no file)";
    std::string out;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n)
        out.append(buffer, n);
    CloseHandle(h);
    return out;
}

// VARIANT makers for call_by_name; the caller keeps what they point to alive.
inline VARIANT v_i4(LONG v)
{
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}
inline VARIANT v_str(BSTR s)
{
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = s;
    return x;
}
inline VARIANT v_ref(VARIANT* target)
{
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&x) = target;
    return x;
}

// Registry key owner (see keys.h for the helpers built on it).
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    ~Key()
    {
        if (h_)
            RegCloseKey(h_);
    }
    HKEY get() const { return h_; }
    HKEY* put()
    {
        if (h_)
            RegCloseKey(h_);
        h_ = nullptr;
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

// A Win32 thread running `body`, waited for and closed when its owner goes,
// so that nothing the body uses can go first; where the thread cannot be
// made, the body never runs. The programs build with the Win32 thread
// model, whose libstdc++ has no std::thread.
class Thread {
public:
    explicit Thread(std::function<void()> body) : body_(std::move(body))
    {
        handle_ = CreateThread(nullptr, 0, &Thread::start, this, 0, nullptr);
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { join(); }

    void join()
    {
        if (handle_) {
            WaitForSingleObject(handle_, INFINITE);
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    static DWORD WINAPI start(void* self)
    {
        static_cast<Thread*>(self)->body_();
        return 0;
    }

    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};

}  // namespace testkit
