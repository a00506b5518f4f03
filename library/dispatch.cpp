// The dispatch side of the dual interfaces: GetIDsOfNames and Invoke.
//
// Why not hand Invoke to the platform's ITypeInfo::Invoke, as the dual
// interfaces would allow? Two reasons. Speed: the platform's Invoke walks
// the type information on every call, and a script's call is mostly
// dispatch; here each interface's methods are read from the type library
// once per process, and a call converts its arguments and calls the very
// method that the method table holds (the bench compares both side by
// side). And by-reference arguments: script hosts pass variables by
// reference as VARIANTs (VT_BYREF|VT_VARIANT), and a variable of another
// type than the declared one must be converted for the call and then take
// the method's result. That write-back is part of this library's contract
// (docs/errors.md), so it is written here, the same on every Windows and
// under Wine, rather than left to each platform's Invoke.
//
// So: names map to dispatch identifiers through the type library; for a
// by-reference parameter the argument is converted into a temporary of the
// declared type, the method works on it, and the result is written back
// into the caller's variable afterwards. A variable that already holds the
// declared type is handed to the method directly.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "dispatch.h"

#include "com.h"
#include "invoke_limits.h"
#include "module.h"

namespace tarnwick {

namespace {

// Checked against every interface when the library is built
// (invoke_limits.c).
constexpr unsigned kMaxParams = TARNWICK_MAX_PARAMS;
constexpr unsigned kMaxMethods = TARNWICK_MAX_METHODS;

// The method-table slots one argument takes. Integers, Booleans, strings
// and pointers take one. A Variant passed by value takes its 16 bytes on
// i686's stack; x86_64 and ARM64 pass a structure of its size by the
// address of a copy, in one slot.
constexpr unsigned kVariantSlots = sizeof(void*) == 4 ? sizeof(VARIANT) / sizeof(uintptr_t) : 1;
constexpr unsigned kMaxSlots = kMaxParams * kVariantSlots + 1;  // the result's too

struct Method {
    DISPID id;
    unsigned slot;              // index in the method table
    unsigned count;             // parameters, the result not included
    unsigned required;          // the first parameters, up to the first optional one
    VARTYPE param[kMaxParams];  // declared type, VT_BYREF for by reference
    VARTYPE result;             // VT_EMPTY when the method has none
};

// What Invoke needs of one interface, read from the type library once per
// process: the default interface's methods and those it inherits.
struct TypeCache {
    ComPtr<ITypeInfo> info;  // the dispatch view, for names
    unsigned count = 0;
    Method method[kMaxMethods];
};

std::atomic<TypeCache*> g_cache[kClassCount];

VARTYPE type_of(const TYPEDESC& t)
{
    return t.vt == VT_PTR ? static_cast<VARTYPE>(t.lptdesc->vt | VT_BYREF) : t.vt;
}

// What bind_argument and the result below can pass: 16- and 32-bit
// integers, Booleans and strings, by value or by reference, and Variants
// by value. A result can also be a Double.
bool passable(VARTYPE type)
{
    switch (type & ~VT_BYREF) {
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
    case VT_BSTR:
        return true;
    case VT_VARIANT:
        return !(type & VT_BYREF);
    default:
        return false;
    }
}

HRESULT read_method(const FUNCDESC& f, Method& m)
{
    m.id = f.memid;
    m.slot = static_cast<unsigned>(f.oVft) / sizeof(void*);
    m.count = m.required = 0;
    m.result = VT_EMPTY;
    bool optional_seen = false;
    for (SHORT p = 0; p < f.cParams; ++p) {
        const ELEMDESC& e = f.lprgelemdescParam[p];
        const USHORT flags = e.paramdesc.wParamFlags;
        VARTYPE type = type_of(e.tdesc);
        if (flags & PARAMFLAG_FRETVAL) {
            type = static_cast<VARTYPE>(type & ~VT_BYREF);
            if (!passable(type) && type != VT_R8)  // a Double is a result only
                return DISP_E_BADVARTYPE;
            m.result = type;
            continue;
        }
        if (!passable(type))
            return DISP_E_BADVARTYPE;
        if (m.count == kMaxParams)
            return DISP_E_BADPARAMCOUNT;
        optional_seen = optional_seen || (flags & PARAMFLAG_FOPT);
        m.param[m.count++] = type;
        if (!optional_seen)
            m.required = m.count;
    }
    return S_OK;
}

// Reads the methods of the interface, those of the interfaces it derives
// from first, into the cache. An interface that Invoke could not call (too
// many methods or parameters, a type it cannot pass) is refused here, once,
// when the cache is built.
HRESULT read_methods(ITypeInfo* iface, TypeCache& cache)
{
    TYPEATTR* attr;
    HRESULT hr = iface->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    const unsigned funcs = attr->cFuncs;
    const bool derived = attr->cImplTypes > 0 && attr->guid != __uuidof(IDispatch) &&
                         attr->guid != __uuidof(IUnknown);
    iface->ReleaseTypeAttr(attr);
    if (!derived)
        return S_OK;  // IDispatch and IUnknown: the frame's own
    HREFTYPE ref;
    ComPtr<ITypeInfo> base;
    if (FAILED(hr = iface->GetRefTypeOfImplType(0, &ref)) ||
        FAILED(hr = iface->GetRefTypeInfo(ref, base.put())) ||
        FAILED(hr = read_methods(base.get(), cache)))
        return hr;
    if (funcs > kMaxMethods - cache.count)
        return E_NOTIMPL;
    for (unsigned i = 0; i < funcs && SUCCEEDED(hr); ++i) {
        FUNCDESC* f;
        if (FAILED(hr = iface->GetFuncDesc(i, &f)))
            return hr;
        hr = read_method(*f, cache.method[cache.count++]);
        iface->ReleaseFuncDesc(f);
    }
    return hr;
}

HRESULT load_cache(const ClassInfo& info, TypeCache*& out)
{
    wchar_t path[MAX_PATH + 1];
    ComPtr<ITypeLib> library;
    HRESULT hr = module::own_type_library(path, library.put());
    if (FAILED(hr))
        return hr;
    std::unique_ptr<TypeCache> cache(new (std::nothrow) TypeCache);
    if (!cache)
        return E_OUTOFMEMORY;
    ComPtr<ITypeInfo> iface;
    HREFTYPE ref;
    if (FAILED(hr = library->GetTypeInfoOfGuid(info.default_iid(), cache->info.put())) ||
        FAILED(hr = cache->info->GetRefTypeOfImplType(-1, &ref)) ||
        FAILED(hr = cache->info->GetRefTypeInfo(ref, iface.put())) ||
        FAILED(hr = read_methods(iface.get(), *cache)))
        return hr;
    out = cache.release();
    return S_OK;
}

HRESULT cache_of(const ClassInfo& info, TypeCache*& out)
{
    std::atomic<TypeCache*>& slot = g_cache[slot_of(info)];
    out = slot.load(std::memory_order_acquire);
    if (out)
        return S_OK;
    TypeCache* fresh;
    HRESULT hr = load_cache(info, fresh);
    if (FAILED(hr))
        return hr;
    TypeCache* expected = nullptr;
    if (slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        out = fresh;
    } else {
        delete fresh;  // another thread was first
        out = expected;
    }
    return S_OK;
}

// The address of a VARIANT's value, where a method writes a by-reference
// argument of the VARIANT's own type.
void* value_of(VARIANT* v)
{
    return &V_I4(v);
}

HRESULT convert(VARIANT& to, VARIANT* from, VARTYPE type)
{
    HRESULT hr = VariantChangeType(&to, from, 0, type);
    if (SUCCEEDED(hr) || hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY)
        return hr;
    return DISP_E_TYPEMISMATCH;
}

uintptr_t by_value(const VARIANT* v, VARTYPE type)
{
    return type == VT_BSTR ? reinterpret_cast<uintptr_t>(V_BSTR(v))
                           : static_cast<uintptr_t>(static_cast<ULONG>(V_I4(v)));
}

// The slots of a Variant passed by value: its bytes, or the address of
// `copy`, which holds them.
unsigned variant_slots(const VARIANT& copy, uintptr_t* slots)
{
    if constexpr (kVariantSlots == 1)
        slots[0] = reinterpret_cast<uintptr_t>(&copy);
    else
        std::memcpy(slots, &copy, sizeof copy);
    return kVariantSlots;
}

// One argument for the method: its value, its bytes or its address in
// `slots`, and how many slots that took (0 when it fails). A temporary, if
// needed, is `temp`; `back` is the caller's variable that receives the
// temporary after the call. `owned` says whether `temp` holds a value of
// its own to free after the call, or a plain copy of the caller's bits.
HRESULT bind_argument(VARTYPE declared, VARIANT* src, VARIANT& temp, bool& owned,
                      uintptr_t* slots, unsigned& used, VARIANT*& back)
{
    // A by-reference argument must point somewhere, and so must the
    // variable that a VARIANT reference points to.
    auto null_ref = [](const VARIANT* v) { return (V_VT(v) & VT_BYREF) && !V_BYREF(v); };
    if (null_ref(src) || (V_VT(src) == (VT_BYREF | VT_VARIANT) && null_ref(V_VARIANTREF(src))))
        return E_INVALIDARG;
    used = 1;
    owned = true;
    const VARTYPE type = declared & ~VT_BYREF;
    if (type == VT_VARIANT) {
        // By value: the caller's value, or the value of the variable it
        // passed by reference, as the method's own copy of its bits.
        if (V_VT(src) == (VT_BYREF | VT_VARIANT))
            src = V_VARIANTREF(src);
        std::memcpy(&temp, src, sizeof temp);
        owned = false;
        used = variant_slots(temp, slots);
        return S_OK;
    }
    if (!(declared & VT_BYREF)) {
        if (V_VT(src) == (VT_BYREF | VT_VARIANT))
            src = V_VARIANTREF(src);
        if (V_VT(src) == type) {
            slots[0] = by_value(src, type);
            return S_OK;
        }
        if (V_VT(src) == (VT_BYREF | type)) {
            slots[0] = type == VT_BSTR ? reinterpret_cast<uintptr_t>(*V_BSTRREF(src))
                                       : static_cast<uintptr_t>(static_cast<ULONG>(*V_I4REF(src)));
            return S_OK;
        }
        HRESULT hr = convert(temp, src, type);
        slots[0] = SUCCEEDED(hr) ? by_value(&temp, type) : 0;
        return hr;
    }
    if (V_VT(src) == (VT_BYREF | type)) {
        slots[0] = reinterpret_cast<uintptr_t>(V_BYREF(src));
        return S_OK;
    }
    if (V_VT(src) == (VT_BYREF | VT_VARIANT)) {
        VARIANT* var = V_VARIANTREF(src);
        if (V_VT(var) == type) {
            slots[0] = reinterpret_cast<uintptr_t>(value_of(var));
            return S_OK;
        }
        if (V_VT(var) == (VT_BYREF | type)) {
            slots[0] = reinterpret_cast<uintptr_t>(V_BYREF(var));
            return S_OK;
        }
        HRESULT hr = convert(temp, var, type);
        if (FAILED(hr))
            return hr;
        back = var;
        slots[0] = reinterpret_cast<uintptr_t>(value_of(&temp));
        return S_OK;
    }
    // A reference to a variable of another type cannot take the method's
    // answer back, as a Variant can: refused, as a type mismatch, before
    // the method runs, rather than answered into a copy that is dropped.
    if (V_VT(src) & VT_BYREF)
        return DISP_E_TYPEMISMATCH;
    // A value for a by-reference parameter: the method works on a copy.
    HRESULT hr = convert(temp, src, type);
    slots[0] = SUCCEEDED(hr) ? reinterpret_cast<uintptr_t>(value_of(&temp)) : 0;
    return hr;
}

// Calls method-table entry `entry` of `self` with N pointer-sized slots.
// Every argument of these interfaces is a 32-bit integer, a pointer or a
// Variant, and the calling convention of every target (stdcall on i686, the
// one convention of x86_64 and of ARM64) passes each in the slots that
// bind_argument gives it.
template <size_t... I>
HRESULT call_with(void* entry, IDispatch* self, const uintptr_t* a, std::index_sequence<I...>)
{
    using Entry = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, decltype(I, uintptr_t{})...);
    return reinterpret_cast<Entry>(entry)(self, a[I]...);
}

using Caller = HRESULT (*)(void*, IDispatch*, const uintptr_t*);

template <size_t... N> constexpr std::array<Caller, sizeof...(N)> callers(std::index_sequence<N...>)
{
    return {[](void* entry, IDispatch* self, const uintptr_t* a) {
        return call_with(entry, self, a, std::make_index_sequence<N>{});
    }...};
}

HRESULT call_slot(IDispatch* self, unsigned slot, const uintptr_t* a, unsigned count)
{
    static constexpr auto kCallers = callers(std::make_index_sequence<kMaxSlots + 1>{});
    if (count > kMaxSlots)
        return DISP_E_BADPARAMCOUNT;
    void* entry = (*reinterpret_cast<void***>(self))[slot];
    return kCallers[count](entry, self, a);
}

HRESULT exception(HRESULT status, EXCEPINFO* excep)
{
    if (!excep)
        return status;
    std::memset(excep, 0, sizeof *excep);
    excep->scode = status;
    ComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, error.put()) == S_OK) {
        error->GetSource(&excep->bstrSource);
        error->GetDescription(&excep->bstrDescription);
    }
    return DISP_E_EXCEPTION;
}

// Finds the rgvarg index of parameter `p`, or returns false.
bool argument_index(const DISPPARAMS& params, unsigned p, unsigned& index)
{
    const unsigned positional = params.cArgs - params.cNamedArgs;
    if (p < positional) {
        index = params.cArgs - 1 - p;
        return true;
    }
    for (unsigned k = 0; k < params.cNamedArgs; ++k) {
        if (params.rgdispidNamedArgs[k] == static_cast<DISPID>(p)) {
            index = k;
            return true;
        }
    }
    return false;
}

}  // namespace

namespace dispatch {

void release_type_cache() noexcept
{
    for (auto& slot : g_cache)
        delete slot.exchange(nullptr);
}

HRESULT type_info(const ClassInfo& info, ITypeInfo** out) noexcept
{
    TypeCache* cache;
    HRESULT hr = cache_of(info, cache);
    if (FAILED(hr))
        return hr;
    *out = cache->info.get();
    (*out)->AddRef();
    return S_OK;
}

HRESULT ids_of_names(const ClassInfo& info, REFIID riid, LPOLESTR* names, UINT count,
                     DISPID* ids) noexcept
{
    if (riid != GUID{})
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids)
        return E_POINTER;
    TypeCache* cache;
    HRESULT hr = cache_of(info, cache);
    if (FAILED(hr))
        return hr;
    return DispGetIDsOfNames(cache->info.get(), names, count, ids);
}

HRESULT invoke(IDispatch* self, const ClassInfo& info, DISPID id, REFIID riid, WORD flags,
               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept
{
    if (riid != GUID{})
        return DISP_E_UNKNOWNINTERFACE;
    TypeCache* cache;
    HRESULT hr = cache_of(info, cache);
    if (FAILED(hr))
        return hr;
    const Method* m = nullptr;
    for (unsigned i = 0; i < cache->count; ++i) {
        if (cache->method[i].id == id)
            m = &cache->method[i];
    }
    if (!m || !(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    if (!params || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    if (params->cArgs > m->count || params->cArgs < m->required)
        return DISP_E_BADPARAMCOUNT;
    const unsigned positional = params->cArgs - params->cNamedArgs;
    for (unsigned k = 0; k < params->cNamedArgs; ++k) {
        DISPID named = params->rgdispidNamedArgs[k];
        bool unknown = named < static_cast<DISPID>(positional) || named >= static_cast<DISPID>(m->count);
        for (unsigned j = 0; j < k; ++j)
            unknown = unknown || params->rgdispidNamedArgs[j] == named;
        if (unknown) {
            if (arg_err)
                *arg_err = k;  // the named argument's place in rgvarg
            return DISP_E_PARAMNOTFOUND;
        }
    }

    // Temporaries start empty, set here rather than by a call each: most
    // arguments arrive in their declared type and never use theirs.
    VARIANT temp[kMaxParams];
    bool owned[kMaxParams];
    VARIANT* back[kMaxParams] = {};
    uintptr_t slots[kMaxSlots];
    unsigned used = 0;
    for (unsigned p = 0; p < m->count; ++p)
        V_VT(&temp[p]) = VT_EMPTY;
    // A parameter not given is an optional one, which the method receives
    // as the platform's "parameter not found" error.
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    union {
        VARIANT_BOOL boolean;
        SHORT i2;
        LONG i4;
        double r8;
        BSTR text;
        VARIANT variant;
    } value{};
    V_VT(&value.variant) = VT_EMPTY;
    hr = S_OK;
    for (unsigned p = 0; p < m->count && SUCCEEDED(hr); ++p) {
        unsigned index = 0, n = 0;
        VARIANT* arg = &missing;
        if (argument_index(*params, p, index))
            arg = &params->rgvarg[index];
        else if (p < m->required)
            hr = DISP_E_PARAMNOTFOUND;
        if (SUCCEEDED(hr))
            hr = bind_argument(m->param[p], arg, temp[p], owned[p], slots + used, n, back[p]);
        used += n;
        if (FAILED(hr) && arg_err && arg != &missing)
            *arg_err = index;
    }
    bool called = SUCCEEDED(hr);
    if (called) {
        if (m->result != VT_EMPTY)
            slots[used++] = reinterpret_cast<uintptr_t>(&value);
        hr = call_slot(self, m->slot, slots, used);
        for (unsigned p = 0; p < m->count; ++p) {
            if (back[p]) {  // the caller's variable takes the temporary
                VariantClear(back[p]);
                *back[p] = temp[p];
                V_VT(&temp[p]) = VT_EMPTY;
            }
        }
    }
    for (unsigned p = 0; p < m->count; ++p) {
        // Only a conversion leaves anything to free; a Variant's copy of the
        // caller's bits is the caller's.
        if (V_VT(&temp[p]) != VT_EMPTY && owned[p])
            VariantClear(&temp[p]);
    }
    if (FAILED(hr))
        return called ? exception(hr, excep) : hr;
    if (result) {
        V_VT(result) = m->result;
        switch (m->result) {
        case VT_BOOL:
            V_BOOL(result) = value.boolean;
            break;
        case VT_I2:
            V_I2(result) = value.i2;
            break;
        case VT_I4:
            V_I4(result) = value.i4;
            break;
        case VT_R8:
            V_R8(result) = value.r8;
            break;
        case VT_BSTR:
            V_BSTR(result) = value.text;
            break;
        case VT_VARIANT:
            *result = value.variant;  // the method's Variant, handed over
            break;
        default:
            V_VT(result) = VT_EMPTY;
            break;
        }
    } else if (m->result == VT_BSTR) {
        SysFreeString(value.text);
    } else if (m->result == VT_VARIANT) {
        VariantClear(&value.variant);
    }
    return S_OK;
}

}  // namespace dispatch

}  // namespace tarnwick
