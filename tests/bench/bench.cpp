// Benchmarks of the library's hot paths, in one process, against what the
// same work costs without us: the raw registry calls, the platform's own
// type-library Invoke, and the platform's own scripting objects.
//
// Every pair is timed side by side: batches of calls of one side and the
// other alternate (the order swaps every round), and a row reports the
// median time per call of each side and the ratio of the medians. The
// machine is shared, so single batches are noisy; the medians are not.
//
// Output: one line per row, fields separated by "|":
//   row|section|measure|ours|reference|unit|ratio|goal
// ratio is ours ÷ reference by cost (time per operation); goal is "<=x" or
// empty. tools/bench.sh turns the rows of all programs into one table.
//
// Sections: early bound (method table against the raw calls), dispatch (our
// Invoke against the method table and the platform's ITypeInfo::Invoke),
// without registry (the same on the test build of the library with the
// registry calls stood in, which leaves the library's own work), activation,
// early bound 1.1 (release 1.11's WindowsInfo and Time methods against the
// nearest release 1.0 method), without restart (Reboot's new methods against
// Reboot, on the test build with the restart calls stood in), allocations
// (the heap allocations that the library itself asks for during one call,
// counted by pointing its imports of the C runtime's and the automation
// allocator's functions at counting stand-ins), registry 1.1 (release
// 1.11's Registry methods late bound, against the raw calls), registry 1.2
// (the export and the search of a subtree, against raw walks) and early
// bound 1.2 (WindowsInfo, Time and Reboot 1.2 against the raw calls each
// makes, admin.h).
//
//   bench.exe [quick] [trees]   quick: a few hundred calls per side, for CTest;
//                               trees: only registry 1.2's export, search and import
#include "keys.h"
#include "seam.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

using namespace testkit;

namespace {

constexpr wchar_t kSubKey[] = L"Software\\Tarnwick\\Bench";
constexpr wchar_t kValueName[] = L"Value";
// A typical setting: a path of a few dozen characters.
constexpr wchar_t kValueText[] = L"C:\\Program Files\\Tarnwick\\Bench\\settings.ini";
constexpr LONG kCurrentUser = static_cast<LONG>(0x80000001);
constexpr DISPID kCurrentGMTTime = 0x60030000;
constexpr DISPID kQueryRegValue = 0x60030002;

// Batches are short and many, so that the two sides of a pair take turns
// often and meet the same load from the rest of the machine: a registry
// call is a batch of its own, a call of a few hundred nanoseconds comes in
// batches of a few hundred.
struct Settings {
    bool quick = false;
    double batch_seconds = 50e-6;  // a batch lasts about this long (the clock ticks every 100 ns)
    double pair_seconds = 1.5;     // both sides of a pair together, at most
    unsigned min_rounds = 101;     // batches per side, at least; odd, so the median is one of them
    unsigned max_rounds = 5001;
    unsigned quick_calls = 50;  // calls per batch in quick mode, 3 batches per side
};

double g_tick_ns;
unsigned g_failures;  // calls that did not do what the benchmark expects

double now_ns()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * g_tick_ns;
}

template <class F> double batch_ns(F& f, unsigned n)
{
    const double start = now_ns();
    for (unsigned i = 0; i < n; ++i)
        f();
    return (now_ns() - start) / n;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Medians {
    double ours, reference;  // ns per call
};

// Calls per batch for `f` so that one batch lasts about batch_seconds.
template <class F> unsigned batch_size(const Settings& s, F& f)
{
    if (s.quick)
        return s.quick_calls;
    unsigned n = 1;
    for (double t; (t = batch_ns(f, n) * n) < s.batch_seconds * 1e9;) {
        const double scaled = n * s.batch_seconds * 1.1e9 / t;
        n = t < s.batch_seconds * 1e8 ? n * 8 : std::max(n + 1, static_cast<unsigned>(scaled));
    }
    return n;
}

// Times two operations in alternating batches, the order swapping every
// round, for about pair_seconds in all.
template <class A, class B> Medians side_by_side(const Settings& s, A ours, B reference)
{
    batch_ns(ours, 3);  // first calls bind functions and load type information
    batch_ns(reference, 3);
    const unsigned n = batch_size(s, ours), m = batch_size(s, reference);
    std::vector<double> a, b;
    const double end = now_ns() + s.pair_seconds * 1e9;
    for (unsigned r = 0;; ++r) {
        if (s.quick ? r == 3 : r >= s.max_rounds || (r >= s.min_rounds && r % 2 && now_ns() > end))
            break;
        if (r % 2 == 0) {
            a.push_back(batch_ns(ours, n));
            b.push_back(batch_ns(reference, m));
        } else {
            b.push_back(batch_ns(reference, m));
            a.push_back(batch_ns(ours, n));
        }
    }
    return {median(a), median(b)};
}

void row(const char* section, const char* measure, double ours, double reference, const char* unit,
         double ratio, const char* goal = "")
{
    // Small ratios (a part against a whole) keep a third decimal.
    std::printf(ratio < 0.1 ? "row|%s|%s|%.0f|%.0f|%s|%.3f|%s\n"
                            : "row|%s|%s|%.0f|%.0f|%s|%.2f|%s\n",
                section, measure, ours, reference, unit, ratio, goal);
    std::fflush(stdout);
}

void time_row(const char* section, const char* measure, Medians m, const char* goal = "")
{
    row(section, measure, m.ours, m.reference, "ns/call", m.ours / m.reference, goal);
}

void rate_row(const char* section, const char* measure, Medians m)
{
    row(section, measure, 1e9 / m.ours, 1e9 / m.reference, "objects/s", m.ours / m.reference);
}

[[noreturn]] void die(const char* what, HRESULT hr)
{
    std::printf("error: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    std::exit(1);
}

void require(bool ok, const char* what, HRESULT hr = E_FAIL)
{
    if (!ok)
        die(what, hr);
}

void count(bool ok)
{
    if (!ok)
        ++g_failures;
}

template <class R> bool any(R)
{
    return true;
}

// A method whose one parameter is its result, called through the method
// table: the call fails unless it succeeds and `ok` takes the result. A
// String result is freed.
template <class O, class C, class R, class Ok = bool (*)(R)>
auto table_call(O* object, HRESULT (STDMETHODCALLTYPE C::*method)(R*), Ok ok = any<R>)
{
    return [=] {
        R result{};
        count((object->*method)(&result) == S_OK && ok(result));
        if constexpr (std::is_same_v<R, BSTR>)
            SysFreeString(result);
    };
}

template <class R> bool is_set(R result)
{
    return result != R{};
}

auto length_is(UINT n)
{
    return [n](BSTR text) { return SysStringLen(text) == n; };
}

// The value every registry row reads, and its removal afterwards.
struct BenchValue {
    BenchValue()
    {
        Key key;
        LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr);
        require(rc == 0, "cannot create the benchmark key", rc);
        rc = RegSetValueExW(key.get(), kValueName, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(kValueText), sizeof kValueText);
        require(rc == 0, "cannot write the benchmark value", rc);
    }
    ~BenchValue() { RegDeleteTreeW(HKEY_CURRENT_USER, kSubKey); }
};

// The limit for reading the value: the three registry calls alone, into a
// buffer of the size of the library's first read.
void raw_registry_read()
{
    HKEY k;
    wchar_t buffer[1024];
    DWORD size = sizeof buffer, type;
    count(RegOpenKeyExW(HKEY_CURRENT_USER, kSubKey, 0, KEY_QUERY_VALUE, &k) == 0 &&
          RegQueryValueExW(k, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &size) == 0 &&
          RegCloseKey(k) == 0);
}

// The platform's plain typelib-driven Invoke over an interface's method
// table: the TKIND_INTERFACE description of a dual interface.
Com<ITypeInfo> interface_info(REFIID iid)
{
    Com<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_TarnwickDLL, 1, 0, 0, library.put());
    require(SUCCEEDED(hr), "LoadRegTypeLib", hr);
    Com<ITypeInfo> dispatch_view, iface;
    hr = library->GetTypeInfoOfGuid(iid, dispatch_view.put());
    require(SUCCEEDED(hr), "GetTypeInfoOfGuid", hr);
    HREFTYPE ref;
    hr = dispatch_view->GetRefTypeOfImplType(-1, &ref);
    require(SUCCEEDED(hr), "GetRefTypeOfImplType(-1)", hr);
    hr = dispatch_view->GetRefTypeInfo(ref, iface.put());
    require(SUCCEEDED(hr), "GetRefTypeInfo", hr);
    TYPEATTR* attr;
    require(SUCCEEDED(iface->GetTypeAttr(&attr)), "GetTypeAttr");
    const bool is_interface = attr->typekind == TKIND_INTERFACE;
    iface->ReleaseTypeAttr(attr);
    require(is_interface, "no TKIND_INTERFACE description");
    return iface;
}

void early_bound(const Settings& s, _Registry* reg, _Time* time)
{
    Bstr root(L"HKCU"), key(kSubKey), name(kValueName), data;
    VARIANT_BOOL found;
    HRESULT hr = reg->QueryRegValue(kCurrentUser, key.get(), name.get(), data.ref(), &found);
    require(hr == S_OK && found && data.str() == kValueText,
            "QueryRegValue does not read the value", hr);

    auto raw = raw_registry_read;
    auto query = [&] {
        count(reg->QueryRegValue(kCurrentUser, key.get(), name.get(), data.ref(), &found) == S_OK &&
              found);
    };
    auto read = [&] {
        BSTR text = nullptr;
        count(reg->RegReadString(root.get(), key.ref(), name.ref(), &text) == S_OK && text);
        SysFreeString(text);
    };
    time_row("early bound", "QueryRegValue vs raw RegOpenKeyExW+RegQueryValueExW+RegCloseKey",
             side_by_side(s, query, raw), "<=1.10");
    time_row("early bound", "RegReadString vs raw RegOpenKeyExW+RegQueryValueExW+RegCloseKey",
             side_by_side(s, read, raw), "<=1.10");

    // No registry work to hide behind: what the call convention itself
    // costs next to the platform call and the string that the result needs.
    const auto gmt = table_call(time, &_Time::CurrentGMTTime, length_is(8));
    auto raw_gmt = [] {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        wchar_t digits[8] = {L'0', L'0', L':', L'0', L'0', L':', L'0', L'0'};
        digits[0] = static_cast<wchar_t>(L'0' + now.wHour / 10);
        BSTR text = SysAllocStringLen(digits, 8);
        count(text != nullptr);
        SysFreeString(text);
    };
    time_row("early bound", "CurrentGMTTime vs raw GetSystemTime+SysAllocStringLen+SysFreeString",
             side_by_side(s, gmt, raw_gmt));
}

// QueryRegValue of the bench value, with strData by reference, three ways:
// through the method table; through our Invoke with the variable as a
// script host passes it (VT_BYREF|VT_VARIANT); through the platform's
// ITypeInfo::Invoke, which takes it as VT_BYREF|VT_BSTR.
class QueryCalls {
public:
    QueryCalls(_Registry* reg, ITypeInfo* info) : reg_(reg), info_(info)
    {
        V_VT(&script_data_) = VT_BSTR;
        for (VARIANT* a : {by_variant_args_, by_bstr_args_}) {  // in reverse order
            a[3] = v_i4(kCurrentUser);
            a[2] = v_str(key_.get());
            a[1] = v_str(name_.get());
        }
        by_variant_args_[0] = v_ref(&script_data_);
        VariantInit(&by_bstr_args_[0]);
        V_VT(&by_bstr_args_[0]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&by_bstr_args_[0]) = typed_data_.ref();
    }
    QueryCalls(const QueryCalls&) = delete;

    void table()
    {
        VARIANT_BOOL found;
        count(reg_->QueryRegValue(kCurrentUser, key_.get(), name_.get(), table_data_.ref(),
                                  &found) == S_OK &&
              found);
    }
    void invoke()
    {
        Variant result;
        count(reg_->Invoke(kQueryRegValue, IID_NULL, 0, DISPATCH_METHOD, &by_variant_, &result,
                           &excep_, &arg_err_) == S_OK &&
              V_VT(&result) == VT_BOOL && V_BOOL(&result));
    }
    void typeinfo()
    {
        Variant result;
        count(info_->Invoke(reg_, kQueryRegValue, DISPATCH_METHOD, &by_bstr_, &result, &excep_,
                            &arg_err_) == S_OK &&
              V_VT(&result) == VT_BOOL && V_BOOL(&result));
    }
    // Each way once, before any is timed: true when every one handed the
    // value back.
    bool ready()
    {
        table();
        invoke();
        typeinfo();
        return g_failures == 0 && delivered();
    }

private:
    bool delivered() const
    {
        return table_data_.str() == kValueText && V_VT(&script_data_) == VT_BSTR &&
               V_BSTR(&script_data_) && std::wstring(V_BSTR(&script_data_)) == kValueText &&
               typed_data_.str() == kValueText;
    }

    _Registry* reg_;
    ITypeInfo* info_;
    Bstr key_{kSubKey}, name_{kValueName}, table_data_, typed_data_;
    Variant script_data_;  // the script's variable, holding a String
    VARIANT by_variant_args_[4], by_bstr_args_[4];
    DISPPARAMS by_variant_{by_variant_args_, nullptr, 4, 0};
    DISPPARAMS by_bstr_{by_bstr_args_, nullptr, 4, 0};
    Excep excep_;
    UINT arg_err_ = 0;
};

void dispatch_path(const Settings& s, _Registry* reg, _Time* time)
{
    Com<ITypeInfo> time_info = interface_info(IID__Time);
    Com<ITypeInfo> reg_info = interface_info(IID__Registry);
    EXCEPINFO excep{};
    UINT arg_err = 0;

    // CurrentGMTTime: no arguments, a String result.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const auto table_time = table_call(time, &_Time::CurrentGMTTime, length_is(8));
    auto invoke_time = [&] {
        Variant result;
        count(time->Invoke(kCurrentGMTTime, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep,
                           &arg_err) == S_OK &&
              V_VT(&result) == VT_BSTR);
    };
    auto typeinfo_time = [&] {
        Variant result;
        count(time_info->Invoke(time, kCurrentGMTTime, DISPATCH_METHOD, &none, &result, &excep,
                                &arg_err) == S_OK &&
              V_VT(&result) == VT_BSTR);
    };

    QueryCalls query(reg, reg_info.get());
    auto table_query = [&] { query.table(); };
    auto invoke_query = [&] { query.invoke(); };
    auto typeinfo_query = [&] { query.typeinfo(); };
    require(query.ready(), "QueryRegValue does not deliver the value");

    time_row("dispatch", "Invoke CurrentGMTTime vs method table",
             side_by_side(s, invoke_time, table_time));
    time_row("dispatch", "Invoke QueryRegValue (strData byref VARIANT) vs method table",
             side_by_side(s, invoke_query, table_query));
    time_row("dispatch", "Invoke CurrentGMTTime vs platform ITypeInfo::Invoke",
             side_by_side(s, invoke_time, typeinfo_time));
    time_row("dispatch",
             "Invoke QueryRegValue (byref VARIANT) vs platform ITypeInfo::Invoke (byref BSTR)",
             side_by_side(s, invoke_query, typeinfo_query), "<=1.10");
}

// Stand-ins for the three registry calls, for the seam library: they do no
// registry work, so what remains of a call is the library's own.
LONG WINAPI standin_open(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key)
{
    *key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    return ERROR_SUCCESS;
}

LONG WINAPI standin_query(HKEY, LPCWSTR, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (*size < sizeof kValueText)
        return ERROR_MORE_DATA;
    *type = REG_SZ;
    std::memcpy(data, kValueText, sizeof kValueText);
    *size = sizeof kValueText;
    return ERROR_SUCCESS;
}

LONG WINAPI standin_close(HKEY)
{
    return ERROR_SUCCESS;
}

// An object of the seam library, once every stand-in is in place; ends the
// program when the library, a stand-in or the object is missing, so that no
// call can reach a function that should have been stood in for.
template <class I> Com<I> seam_object(REFCLSID clsid, std::initializer_list<const Rebind*> stand_ins)
{
    require(seam().ok(), "cannot load the seam library (TARNWICK_SEAM_DLL)");
    for (const Rebind* stand_in : stand_ins)
        require(stand_in->status() == S_OK, "cannot install a stand-in");
    Com<I> object = seam().create<I>(clsid);
    require(object.get() != nullptr, "no object from the seam library");
    return object;
}

// The same calls with the registry work taken out (the seam library with
// stand-ins): the library's own work next to the registry's, and the
// dispatch paths compared without the registry's noise over them.
void without_registry(const Settings& s)
{
    Rebind stand_in_open = TESTKIT_STAND_IN(RegOpenKeyExW, &standin_open);
    Rebind stand_in_query = TESTKIT_STAND_IN(RegQueryValueExW, &standin_query);
    Rebind stand_in_close = TESTKIT_STAND_IN(RegCloseKey, &standin_close);
    Com<_Registry> reg = seam_object<_Registry>(
        CLSID_Registry, {&stand_in_open, &stand_in_query, &stand_in_close});
    Com<ITypeInfo> reg_info = interface_info(IID__Registry);

    QueryCalls calls(reg.get(), reg_info.get());
    Bstr root(L"HKCU"), key(kSubKey), name(kValueName);
    auto query = [&] { calls.table(); };
    auto read = [&] {
        BSTR text = nullptr;
        count(reg->RegReadString(root.get(), key.ref(), name.ref(), &text) == S_OK && text);
        SysFreeString(text);
    };
    auto invoke_query = [&] { calls.invoke(); };
    auto typeinfo_query = [&] { calls.typeinfo(); };
    require(calls.ready(), "the stand-ins do not deliver the value");

    time_row("without registry", "QueryRegValue, registry stood in, vs raw registry calls",
             side_by_side(s, query, raw_registry_read));
    time_row("without registry", "RegReadString, registry stood in, vs raw registry calls",
             side_by_side(s, read, raw_registry_read));
    time_row("without registry", "Invoke QueryRegValue (byref VARIANT) vs method table",
             side_by_side(s, invoke_query, query));
    time_row("without registry",
             "Invoke QueryRegValue (byref VARIANT) vs platform ITypeInfo::Invoke (byref BSTR)",
             side_by_side(s, invoke_query, typeinfo_query), "<=1.10");
}

void activation(const Settings& s)
{
    CLSID dictionary;
    HRESULT hr = CLSIDFromProgID(L"Scripting.Dictionary", &dictionary);
    require(SUCCEEDED(hr), "no Scripting.Dictionary", hr);
    auto co_create = [](REFCLSID clsid) {
        return [&clsid] {
            IDispatch* object = nullptr;
            count(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&object)) == S_OK);
            if (object)
                object->Release();
        };
    };
    rate_row("activation", "CoCreateInstance+Release: Time vs Scripting.Dictionary",
             side_by_side(s, co_create(CLSID_Time), co_create(dictionary)));

    Com<IClassFactory> ours, theirs;
    hr = CoGetClassObject(CLSID_Time, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                          reinterpret_cast<void**>(ours.put()));
    require(SUCCEEDED(hr), "no class factory for Time", hr);
    hr = CoGetClassObject(dictionary, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                          reinterpret_cast<void**>(theirs.put()));
    require(SUCCEEDED(hr), "no class factory for Scripting.Dictionary", hr);
    auto factory_create = [](IClassFactory* factory) {
        return [factory] {
            IDispatch* object = nullptr;
            count(factory->CreateInstance(nullptr, IID_IDispatch,
                                          reinterpret_cast<void**>(&object)) == S_OK);
            if (object)
                object->Release();
        };
    };
    rate_row("activation", "IClassFactory::CreateInstance+Release: Time vs Scripting.Dictionary",
             side_by_side(s, factory_create(ours.get()), factory_create(theirs.get())));
}

// Allocation counting. Every allocation of the library goes through one of
// these imports: malloc and its kin (operator new lands there too) and the
// automation allocator's string functions.
unsigned g_allocations;
void* (*real_malloc)(size_t);
void* (*real_calloc)(size_t, size_t);
void* (*real_realloc)(void*, size_t);
char* (*real_strdup)(const char*);
BSTR(WINAPI* real_alloc_len)(const OLECHAR*, UINT);
BSTR(WINAPI* real_alloc)(const OLECHAR*);
INT(WINAPI* real_realloc_len)(BSTR*, const OLECHAR*, UINT);

void* count_malloc(size_t n)
{
    ++g_allocations;
    return real_malloc(n);
}
void* count_calloc(size_t n, size_t m)
{
    ++g_allocations;
    return real_calloc(n, m);
}
void* count_realloc(void* p, size_t n)
{
    ++g_allocations;
    return real_realloc(p, n);
}
char* count_strdup(const char* s)
{
    ++g_allocations;
    return real_strdup(s);
}
BSTR WINAPI count_alloc_len(const OLECHAR* s, UINT n)
{
    ++g_allocations;
    return real_alloc_len(s, n);
}
BSTR WINAPI count_alloc(const OLECHAR* s)
{
    ++g_allocations;
    return real_alloc(s);
}
INT WINAPI count_realloc_len(BSTR* b, const OLECHAR* s, UINT n)
{
    ++g_allocations;
    return real_realloc_len(b, s, n);
}

// Points the import `name` from `dll` of `module` at `replacement`; keeps
// the address it had in `original`. False when the module does not import it.
template <class F>
bool redirect(HMODULE module, const char* dll, const char* name, F replacement, F& original)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(by_name->Name), name) != 0)
                continue;
            DWORD protect;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protect);
            original = reinterpret_cast<F>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), protect, &protect);
            return true;
        }
    }
    return false;
}

void count_library_allocations()
{
    HMODULE module = GetModuleHandleW(L"Tarnwick.dll");
    require(module != nullptr, "Tarnwick.dll is not loaded");
    // The library imports only some of these; the ones it does not import
    // it cannot call.
    redirect(module, "msvcrt.dll", "malloc", &count_malloc, real_malloc);
    redirect(module, "msvcrt.dll", "calloc", &count_calloc, real_calloc);
    redirect(module, "msvcrt.dll", "realloc", &count_realloc, real_realloc);
    redirect(module, "msvcrt.dll", "_strdup", &count_strdup, real_strdup);
    redirect(module, "oleaut32.dll", "SysAllocString", &count_alloc, real_alloc);
    redirect(module, "oleaut32.dll", "SysReAllocStringLen", &count_realloc_len, real_realloc_len);
    require(redirect(module, "oleaut32.dll", "SysAllocStringLen", &count_alloc_len, real_alloc_len),
            "Tarnwick.dll does not import SysAllocStringLen");
}

// Allocations by the library per call, against the strings that the call's
// contract itself hands out (a result or a replaced by-reference String).
template <class F> void allocation_row(const char* measure, unsigned contract, F call)
{
    constexpr unsigned kCalls = 200;
    call();
    const unsigned before = g_allocations;
    for (unsigned i = 0; i < kCalls; ++i)
        call();
    const double ours = static_cast<double>(g_allocations - before) / kCalls;
    char ratio[16] = "";
    if (contract)
        std::snprintf(ratio, sizeof ratio, "%.2f", ours / contract);
    std::printf("row|allocations|%s|%.2f|%u|allocations/call|%s|%s\n", measure, ours, contract,
                ratio, contract ? "<=1.00" : "");
}

void allocations(_Registry* reg, _Time* time, _WindowsInfo* info)
{
    count_library_allocations();
    Bstr root(L"HKCU"), key(kSubKey), name(kValueName), data;
    auto query = [&] {
        VARIANT_BOOL found;
        count(reg->QueryRegValue(kCurrentUser, key.get(), name.get(), data.ref(), &found) == S_OK &&
              found);
    };
    auto read = [&] {
        BSTR text = nullptr;
        count(reg->RegReadString(root.get(), key.ref(), name.ref(), &text) == S_OK && text);
        SysFreeString(text);
    };
    const auto gmt = table_call(time, &_Time::CurrentGMTTime, length_is(8));
    const auto os_type = table_call(info, &_WindowsInfo::GetOSType, is_set<LONG>);
    Variant script_data;
    VARIANT args[4] = {v_ref(&script_data), v_str(name.get()), v_str(key.get()),
                       v_i4(kCurrentUser)};
    DISPPARAMS params{args, nullptr, 4, 0};
    auto invoke_query = [&] {
        VARIANT result;
        count(reg->Invoke(kQueryRegValue, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                          nullptr) == S_OK);
    };
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    auto invoke_gmt = [&] {
        Variant result;
        count(time->Invoke(kCurrentGMTTime, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr,
                           nullptr) == S_OK);
    };
    allocation_row("QueryRegValue", 1, query);
    allocation_row("RegReadString", 1, read);
    allocation_row("CurrentGMTTime", 1, gmt);
    allocation_row("GetOSType", 0, os_type);
    allocation_row("Invoke QueryRegValue (strData byref VARIANT)", 1, invoke_query);
    allocation_row("Invoke CurrentGMTTime", 1, invoke_gmt);
    std::fflush(stdout);
}

// Release 1.11's WindowsInfo and Time methods through the method table,
// each against the release 1.0 method nearest to it in what it does.
void early_bound_11(const Settings& s, _WindowsInfo2* info, _Time2* time)
{
    const auto version_info = table_call(info, &_WindowsInfo::GetOSVersionInfo);
    const auto os_type = table_call(info, &_WindowsInfo::GetOSType, is_set<LONG>);
    const auto gmt = table_call(time, &_Time::CurrentGMTTime, length_is(8));
    auto pair = [&](const char* measure, auto ours, auto reference) {
        time_row("early bound 1.1", measure, side_by_side(s, ours, reference), "<=1.20");
    };
    pair("GetOSName vs GetOSVersionInfo", table_call(info, &_WindowsInfo2::GetOSName),
         version_info);
    pair("GetOSVersion vs GetOSVersionInfo", table_call(info, &_WindowsInfo2::GetOSVersion),
         version_info);
    pair("GetOSDisplayVersion vs GetOSVersionInfo",
         table_call(info, &_WindowsInfo2::GetOSDisplayVersion), version_info);
    pair("GetOSArchitecture vs GetOSType",
         table_call(info, &_WindowsInfo2::GetOSArchitecture, is_set<BSTR>), os_type);
    pair("GetProcessArchitecture vs GetOSType",
         table_call(info, &_WindowsInfo2::GetProcessArchitecture, is_set<BSTR>), os_type);
    pair("GetUserDefaultBrowserPath vs GetDefaultBrowserPath",
         table_call(info, &_WindowsInfo2::GetUserDefaultBrowserPath),
         table_call(info, &_WindowsInfo::GetDefaultBrowserPath));
    // "YYYY-MM-DDTHH:MM:SS.mmm", then "Z" or the offset as "+HH:MM".
    pair("CurrentUTCTimestamp vs CurrentGMTTime",
         table_call(time, &_Time2::CurrentUTCTimestamp, length_is(24)), gmt);
    pair("CurrentUnixTime vs CurrentGMTTime",
         table_call(time, &_Time2::CurrentUnixTime, is_set<double>), gmt);
    pair("CurrentLocalTimestamp vs CurrentLocalTime",
         table_call(time, &_Time2::CurrentLocalTimestamp, length_is(29)),
         table_call(time, &_Time::CurrentLocalTime, length_is(8)));
}

// Stand-ins for the calls that restart Windows, schedule a restart and call
// it off: each accepts at once, and nothing is asked of Windows.
BOOL WINAPI standin_exit(UINT, DWORD)
{
    return TRUE;
}

BOOL WINAPI standin_initiate(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD)
{
    return TRUE;
}

BOOL WINAPI standin_abort(LPWSTR)
{
    return TRUE;
}

// Release 1.11's Reboot methods against Reboot, on the seam library with
// the restart calls stood in. The privilege that all three enable first is
// the platform's own work, on both sides.
void without_restart(const Settings& s)
{
    Rebind stand_in_exit = TESTKIT_STAND_IN(ExitWindowsEx, &standin_exit);
    Rebind stand_in_initiate = TESTKIT_STAND_IN(InitiateSystemShutdownExW, &standin_initiate);
    Rebind stand_in_abort = TESTKIT_STAND_IN(AbortSystemShutdownW, &standin_abort);
    Com<_Reboot2> reboot = seam_object<_Reboot2>(
        CLSID_Reboot, {&stand_in_exit, &stand_in_initiate, &stand_in_abort});

    Bstr message(L"Tarnwick restarts this computer to finish an update.");
    Variant no_force;  // left out, as a script host passes it
    V_VT(&no_force) = VT_ERROR;
    V_ERROR(&no_force) = DISP_E_PARAMNOTFOUND;
    auto schedule = [&] {
        SHORT accepted = 0;
        count(reboot->ScheduleReboot(600, message.get(), no_force, &accepted) == S_OK &&
              accepted == 1);
    };
    const auto accepted = [](SHORT result) { return result == 1; };
    const auto restart = table_call(reboot.get(), &_Reboot::Reboot, accepted);
    time_row("without restart", "ScheduleReboot vs Reboot, restart calls stood in",
             side_by_side(s, schedule, restart), "<=1.20");
    time_row("without restart", "AbortReboot vs Reboot, restart calls stood in",
             side_by_side(s, table_call(reboot.get(), &_Reboot2::AbortReboot, accepted), restart),
             "<=1.20");
}

}  // namespace

// Release 1.11's Registry methods, late bound through IDispatch by name as
// a script host calls them, against the raw registry calls that do the same
// work: listing 1,000 subkeys, and writing then deleting a REG_DWORD.
void registry_11(const Settings& s, IDispatch* reg)
{
    const std::wstring list_key = std::wstring(kSubKey) + L"\\Many";
    {
        Key parent;
        require(RegCreateKeyExW(HKEY_CURRENT_USER, list_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, parent.put(), nullptr) == 0,
                "cannot create the listing key");
        for (int i = 0; i < 1000; ++i) {
            Key child;
            require(RegCreateKeyExW(parent.get(), (L"Key" + std::to_wstring(i)).c_str(), 0, nullptr,
                                    0, KEY_WRITE, nullptr, child.put(), nullptr) == 0,
                    "cannot create a subkey");
        }
    }
    DISPID enum_keys = 0, write_value = 0, delete_value = 0;
    for (auto [name, id] : {std::pair{L"RegEnumKeys", &enum_keys},
                            std::pair{L"RegWriteValue", &write_value},
                            std::pair{L"RegDeleteValue", &delete_value}}) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        require(reg->GetIDsOfNames(IID_NULL, &n, 1, 0, id) == S_OK, "GetIDsOfNames");
    }
    Bstr hkcu(L"HKCU"), listed(list_key), key(kSubKey), name(L"Dword");
    // rgvarg holds the arguments last first.
    auto invoke = [&](DISPID id, std::vector<VARIANT> args, VARIANT* result) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        return reg->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
    };
    auto ours_list = [&] {
        Variant names;
        count(invoke(enum_keys, {v_str(listed.get()), v_str(hkcu.get())}, &names) == S_OK &&
              V_VT(&names) == (VT_ARRAY | VT_VARIANT) && V_ARRAY(&names)->rgsabound[0].cElements == 1000);
    };
    auto raw_list = [&] {
        HKEY k;
        wchar_t text[256];
        unsigned found = 0;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, list_key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &k) == 0) {
            for (DWORD i = 0;; ++i) {
                DWORD length = 256;
                if (RegEnumKeyExW(k, i, text, &length, nullptr, nullptr, nullptr, nullptr) != 0)
                    break;
                ++found;
            }
            RegCloseKey(k);
        }
        count(found == 1000);
    };
    ours_list();
    raw_list();
    time_row("registry 1.1", "RegEnumKeys of 1,000 subkeys, late bound, vs raw RegOpenKeyExW+RegEnumKeyExW+RegCloseKey",
             side_by_side(s, ours_list, raw_list), "<=1.50");

    auto ours_write_delete = [&] {
        Variant written, deleted;
        count(invoke(write_value, {v_i4(42), v_str(name.get()), v_str(key.get()), v_str(hkcu.get())},
                     &written) == S_OK &&
              invoke(delete_value, {v_str(name.get()), v_str(key.get()), v_str(hkcu.get())},
                     &deleted) == S_OK &&
              V_BOOL(&written) && V_BOOL(&deleted));
    };
    auto raw_write_delete = [&] {
        HKEY k;
        const DWORD value = 42;
        bool ok = false;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                            nullptr) == 0) {
            ok = RegSetValueExW(k, L"Dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                4) == 0;
            RegCloseKey(k);
        }
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kSubKey, 0, KEY_SET_VALUE, &k) == 0) {
            ok = ok && RegDeleteValueW(k, L"Dword") == 0;
            RegCloseKey(k);
        }
        count(ok);
    };
    time_row("registry 1.1", "RegWriteValue+RegDeleteValue of a REG_DWORD, late bound, vs raw pair",
             side_by_side(s, ours_write_delete, raw_write_delete), "<=1.50");
}

// ---------------------------------------------------------------- registry 1.2

// The reference for an export: the subtree walked in raw calls, each value
// read and written as the same registration-file text, through a buffer of
// 64 KiB, straight into the file. It knows the forms of the bench's values:
// quoted text, dwords and hex lists.
class RawExport {
public:
    bool run(const std::wstring& top, const std::wstring& path)
    {
        file_ = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file_ == INVALID_HANDLE_VALUE)
            return false;
        used_ = 0;
        ok_ = true;
        put(L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n");
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, top.c_str(), 0, KEY_READ, &key) == 0) {
            walk(key, L"HKEY_CURRENT_USER\\" + top);
            RegCloseKey(key);
        } else {
            ok_ = false;
        }
        flush();
        CloseHandle(file_);
        return ok_;
    }

private:
    void walk(HKEY key, const std::wstring& path)
    {
        put(L"[");
        put(path.c_str());
        put(L"]\r\n");
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256, type = 0, size = sizeof data_;
            if (RegEnumValueW(key, i, name, &length, nullptr, &type, data_, &size) != 0)
                break;
            value(name, length, type, size);
        }
        put(L"\r\n");
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
                break;
            HKEY sub;
            if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) != 0) {
                ok_ = false;
                continue;
            }
            walk(sub, path + L"\\" + name);
            RegCloseKey(sub);
        }
    }
    void value(const wchar_t* name, DWORD length, DWORD type, DWORD size)
    {
        size_t column = length + 3;
        quoted(name, length);
        put(L"=");
        if (type == REG_SZ) {
            quoted(reinterpret_cast<const wchar_t*>(data_), size / 2 - 1);
        } else if (type == REG_DWORD && size == 4) {
            wchar_t text[16];
            std::swprintf(text, 16, L"dword:%08lx", *reinterpret_cast<const DWORD*>(data_));
            put(text);
        } else {
            wchar_t prefix[16];
            std::swprintf(prefix, 16, type == REG_BINARY ? L"hex:" : L"hex(%lx):", type);
            put(prefix);
            column += std::wcslen(prefix);
            static const wchar_t digits[] = L"0123456789abcdef";
            for (DWORD i = 0; i < size; ++i) {
                const wchar_t byte[] = {digits[data_[i] >> 4], digits[data_[i] & 15], 0};
                put(byte);
                if (i + 1 < size) {
                    put(L",");
                    if ((column += 3) >= 77) {
                        put(L"\\\r\n  ");
                        column = 2;
                    }
                }
            }
        }
        put(L"\r\n");
    }
    void quoted(const wchar_t* text, size_t length)
    {
        put(L"\"");
        for (size_t i = 0; i < length; ++i) {
            const wchar_t c[] = {text[i], 0};
            if (text[i] == L'\\' || text[i] == L'"')
                put(L"\\");
            put(c);
        }
        put(L"\"");
    }
    void put(const wchar_t* text)
    {
        for (; *text; ++text) {
            if (used_ == std::size(buffer_))
                flush();
            buffer_[used_++] = *text;
        }
    }
    void flush()
    {
        DWORD written = 0;
        const DWORD bytes = static_cast<DWORD>(used_ * sizeof(wchar_t));
        if (bytes && (!WriteFile(file_, buffer_, bytes, &written, nullptr) || written != bytes))
            ok_ = false;
        used_ = 0;
    }

    HANDLE file_ = INVALID_HANDLE_VALUE;
    wchar_t buffer_[32768];
    size_t used_ = 0;
    BYTE data_[4096];
    bool ok_ = true;
};

// The reference for a search: the subtree walked in raw calls, every key
// name, value name and value read; nothing compared, nothing kept.
void raw_read_tree(HKEY key)
{
    wchar_t name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256, type = 0, size = sizeof data;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != 0)
            break;
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        HKEY sub;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == 0) {
            raw_read_tree(sub);
            RegCloseKey(sub);
        }
    }
}

// Release 1.12's export of a subtree of 1,000 keys of five values each
// (text, number, bytes, a list, an expandable path), early bound, against
// the raw walk that writes the same file.
void registry_12(const Settings& settings, _Registry3* reg)
{
    const std::wstring top = std::wstring(kSubKey) + L"\\Export";
    for (int i = 0; i < 1000; ++i) {
        Key key;
        require(RegCreateKeyExW(HKEY_CURRENT_USER, (top + L"\\Key" + std::to_wstring(i)).c_str(), 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) == 0,
                "cannot create a key to export");
        const std::wstring text = L"value " + std::to_wstring(i);
        const std::wstring path = L"%TEMP%\\Tarnwick\\file " + std::to_wstring(i) + L".txt";
        const DWORD number = static_cast<DWORD>(i);
        BYTE bytes[32];
        for (BYTE& b : bytes)
            b = static_cast<BYTE>(i + (&b - bytes));
        const wchar_t list[] = L"alpha\0beta\0";
        const struct {
            const wchar_t* name;
            DWORD type;
            const void* data;
            DWORD size;
        } values[] = {
            {L"Text", REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2)},
            {L"Number", REG_DWORD, &number, 4},
            {L"Bytes", REG_BINARY, bytes, sizeof bytes},
            {L"List", REG_MULTI_SZ, list, sizeof list},
            {L"Path", REG_EXPAND_SZ, path.c_str(), static_cast<DWORD>((path.size() + 1) * 2)},
        };
        for (const auto& v : values)
            require(RegSetValueExW(key.get(), v.name, 0, v.type, static_cast<const BYTE*>(v.data),
                                   v.size) == 0,
                    "cannot write a value to export");
    }
    const std::wstring ours_path = temp_path(L"bench-export.reg");
    const std::wstring raw_path = temp_path(L"bench-export-raw.reg");
    Bstr sub(top), file(ours_path);
    Variant hkcu, none;
    V_VT(&hkcu) = VT_BSTR;
    V_BSTR(&hkcu) = SysAllocString(L"HKCU");
    V_VT(&none) = VT_ERROR;
    V_ERROR(&none) = DISP_E_PARAMNOTFOUND;
    auto ours = [&] {
        VARIANT_BOOL written = VARIANT_FALSE;
        count(reg->RegExportKey(hkcu, sub.get(), file.get(), none, &written) == S_OK && written);
    };
    RawExport raw_export;
    auto raw = [&] { count(raw_export.run(top, raw_path)); };
    ours();
    raw();
    const std::string exported = file_bytes(ours_path);
    require(exported.size() > 500000 && exported == file_bytes(raw_path),
            "the raw walk does not write the file RegExportKey writes");
    // A call takes milliseconds: one to a batch, even in quick mode.
    Settings s = settings;
    s.quick_calls = 1;
    time_row("registry 1.2",
             "RegExportKey of 1,000 keys x 5 values vs raw walk writing the same bytes",
             side_by_side(s, ours, raw), "<=1.30");
    DeleteFileW(ours_path.c_str());
    DeleteFileW(raw_path.c_str());

    // A search of key names, value names and text data: of the subtree's
    // 1,000 keys and 5,000 values, 10 key names match, and 20 texts.
    Bstr pattern(L"*9?9*");
    auto find = [&] {
        Variant found;
        count(reg->RegFind(hkcu, sub.get(), pattern.get(), none, none, &found) == S_OK &&
              V_VT(&found) == (VT_ARRAY | VT_VARIANT) &&
              V_ARRAY(&found)->rgsabound[0].cElements == 30);
    };
    auto walk = [&] {
        HKEY key;
        count(RegOpenKeyExW(HKEY_CURRENT_USER, top.c_str(), 0, KEY_READ, &key) == 0);
        raw_read_tree(key);
        RegCloseKey(key);
    };
    time_row("registry 1.2", "RegFind over the same subtree vs raw walk reading it all",
             side_by_side(s, find, walk), "<=1.30");

    // The import of that file, which writes its 5,000 values over
    // themselves and keeps each one's old bytes to undo, against the same
    // writes in raw calls, nothing read.
    ours();
    const KeyTree tree = key_tree(HKEY_CURRENT_USER, top);
    auto import = [&] {
        LONG values = 0;
        count(reg->RegImportFile(file.get(), none, &values) == S_OK && values == 5000);
    };
    auto writes = [&] {
        bool ok = true;
        for (const auto& [below, values] : tree) {
            Key key;
            ok &= RegCreateKeyExW(HKEY_CURRENT_USER, (below.empty() ? top : top + L"\\" + below).c_str(),
                                  0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) == 0;
            for (const auto& [name, value] : values)
                ok &= RegSetValueExW(key.get(), name.c_str(), 0, value.first,
                                     reinterpret_cast<const BYTE*>(value.second.data()),
                                     static_cast<DWORD>(value.second.size())) == 0;
        }
        count(ok);
    };
    time_row("registry 1.2", "RegImportFile of that file (its undo record kept) vs raw writes of its values",
             side_by_side(s, import, writes), "<=1.50");
    DeleteFileW(ours_path.c_str());
}

#include "admin.h"

int main(int argc, char** argv)
{
    Settings s;
    bool only_trees = false;  // "trees": only the export, search and import of a subtree
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "quick") == 0)
            s.quick = true;
        if (std::strcmp(argv[i], "trees") == 0)
            only_trees = true;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tick_ns = 1e9 / static_cast<double>(f.QuadPart);

    Apartment apartment;
    require(SUCCEEDED(apartment.hr), "CoInitializeEx", apartment.hr);
    BenchValue value;
    auto reg = create<_Registry>(CLSID_Registry);
    auto time = create<_Time2>(CLSID_Time);
    auto info = create<_WindowsInfo2>(CLSID_WindowsInfo);
    require(reg && time && info, "Tarnwick.dll is not registered");

    if (only_trees) {
        registry_12(s, create<_Registry3>(CLSID_Registry).get());
        return g_failures ? 1 : 0;
    }
    early_bound(s, reg.get(), time.get());
    dispatch_path(s, reg.get(), time.get());
    without_registry(s);
    activation(s);
    // Before the allocation count, whose stand-ins stay in the library's imports.
    early_bound_11(s, info.get(), time.get());
    without_restart(s);
    allocations(reg.get(), time.get(), info.get());
    registry_11(s, reg.get());
    auto reg3 = create<_Registry3>(CLSID_Registry);
    require(reg3.get() != nullptr, "the Registry class gives no _Registry3");
    registry_12(s, reg3.get());
    admin_12(s);
    if (g_failures) {
        std::printf("error: %u timed calls failed\n", g_failures);
        return 1;
    }
    std::printf("bench.exe done\n");
    return 0;
}
