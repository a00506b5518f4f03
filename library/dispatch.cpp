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
#include <atomic>
#include <cstdint>
#include <cstring>

#include "dispatch.h"

#include "com.h"
#include "invoke_limits.h"
#include "module.h"

namespace tarnwick {

namespace {

// Checked against every interface when the library is built
// (invoke_limits.c); _Registry has the most methods (6) and parameters (4).
constexpr unsigned kMaxParams = TARNWICK_MAX_PARAMS;
constexpr unsigned kMaxMethods = TARNWICK_MAX_METHODS;

struct Method {
    DISPID id;
    unsigned slot;              // index in the method table
    unsigned count;             // parameters, the result not included
    VARTYPE param[kMaxParams];  // declared type, VT_BYREF for by reference
    VARTYPE result;             // VT_EMPTY when the method has none
};

// What Invoke needs of one interface, read from the type library once per
// process.
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
// integers, Booleans and strings, by value or by reference.
bool passable(VARTYPE type)
{
    switch (type & ~VT_BYREF) {
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
    case VT_BSTR:
        return true;
    default:
        return false;
    }
}

// Reads every method of the interface into the cache. An interface that
// Invoke could not call (too many methods or parameters, a type it cannot
// pass) is refused here, once, when the cache is built.
HRESULT read_methods(ITypeInfo* iface, TypeCache& cache)
{
    TYPEATTR* attr;
    HRESULT hr = iface->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    const unsigned funcs = attr->cFuncs;
    iface->ReleaseTypeAttr(attr);
    if (funcs > kMaxMethods)
        return E_NOTIMPL;
    for (unsigned i = 0; i < funcs && SUCCEEDED(hr); ++i) {
        FUNCDESC* f;
        if (FAILED(hr = iface->GetFuncDesc(i, &f)))
            return hr;
        Method& m = cache.method[cache.count++];
        m.id = f->memid;
        m.slot = static_cast<unsigned>(f->oVft) / sizeof(void*);
        m.count = 0;
        m.result = VT_EMPTY;
        for (SHORT p = 0; p < f->cParams && SUCCEEDED(hr); ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const VARTYPE type = type_of(e.tdesc);
            if (!passable(type))
                hr = DISP_E_BADVARTYPE;
            else if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)
                m.result = static_cast<VARTYPE>(type & ~VT_BYREF);
            else if (m.count < kMaxParams)
                m.param[m.count++] = type;
            else
                hr = DISP_E_BADPARAMCOUNT;
        }
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
    auto* cache = new (std::nothrow) TypeCache;
    if (!cache)
        return E_OUTOFMEMORY;
    ComPtr<ITypeInfo> iface;
    HREFTYPE ref;
    if (SUCCEEDED(hr = library->GetTypeInfoOfGuid(info.default_iid(), cache->info.put())) &&
        SUCCEEDED(hr = cache->info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(hr = cache->info->GetRefTypeInfo(ref, iface.put())))
        hr = read_methods(iface.get(), *cache);
    if (FAILED(hr)) {
        delete cache;
        return hr;
    }
    out = cache;
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

// One argument for the method: its value or its address in `arg`. A
// temporary, if needed, is `temp`; `back` is the caller's variable that
// receives the temporary after the call.
HRESULT bind_argument(VARTYPE declared, VARIANT* src, VARIANT& temp, uintptr_t& arg, VARIANT*& back)
{
    // A by-reference argument must point somewhere, and so must the
    // variable that a VARIANT reference points to.
    auto null_ref = [](const VARIANT* v) { return (V_VT(v) & VT_BYREF) && !V_BYREF(v); };
    if (null_ref(src) || (V_VT(src) == (VT_BYREF | VT_VARIANT) && null_ref(V_VARIANTREF(src))))
        return E_INVALIDARG;
    const VARTYPE type = declared & ~VT_BYREF;
    if (!(declared & VT_BYREF)) {
        if (V_VT(src) == (VT_BYREF | VT_VARIANT))
            src = V_VARIANTREF(src);
        if (V_VT(src) == type) {
            arg = by_value(src, type);
            return S_OK;
        }
        if (V_VT(src) == (VT_BYREF | type)) {
            arg = type == VT_BSTR ? reinterpret_cast<uintptr_t>(*V_BSTRREF(src))
                                  : static_cast<uintptr_t>(static_cast<ULONG>(*V_I4REF(src)));
            return S_OK;
        }
        HRESULT hr = convert(temp, src, type);
        arg = SUCCEEDED(hr) ? by_value(&temp, type) : 0;
        return hr;
    }
    if (V_VT(src) == (VT_BYREF | type)) {
        arg = reinterpret_cast<uintptr_t>(V_BYREF(src));
        return S_OK;
    }
    if (V_VT(src) == (VT_BYREF | VT_VARIANT)) {
        VARIANT* var = V_VARIANTREF(src);
        if (V_VT(var) == type) {
            arg = reinterpret_cast<uintptr_t>(value_of(var));
            return S_OK;
        }
        if (V_VT(var) == (VT_BYREF | type)) {
            arg = reinterpret_cast<uintptr_t>(V_BYREF(var));
            return S_OK;
        }
        HRESULT hr = convert(temp, var, type);
        if (FAILED(hr))
            return hr;
        back = var;
        arg = reinterpret_cast<uintptr_t>(value_of(&temp));
        return S_OK;
    }
    // A value for a by-reference parameter: the method works on a copy.
    HRESULT hr = convert(temp, src, type);
    arg = SUCCEEDED(hr) ? reinterpret_cast<uintptr_t>(value_of(&temp)) : 0;
    return hr;
}

// Calls method-table entry `slot` of `self` with pointer-sized arguments.
// Every parameter of these interfaces is a 32-bit integer or a pointer, and
// the calling convention of every target (stdcall on i686, the one
// convention of x86_64 and of ARM64) passes each in one pointer-sized slot.
HRESULT call_slot(IDispatch* self, unsigned slot, const uintptr_t* a, unsigned count)
{
    static_assert(kMaxParams + 1 == 5, "a case below for every count up to kMaxParams + 1");
    void* entry = (*reinterpret_cast<void***>(self))[slot];
    using U = uintptr_t;
    switch (count) {
    case 0:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*)>(entry)(self);
    case 1:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, U)>(entry)(self, a[0]);
    case 2:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, U, U)>(entry)(self, a[0],
                                                                                      a[1]);
    case 3:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, U, U, U)>(entry)(
            self, a[0], a[1], a[2]);
    case 4:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, U, U, U, U)>(entry)(
            self, a[0], a[1], a[2], a[3]);
    case 5:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, U, U, U, U, U)>(entry)(
            self, a[0], a[1], a[2], a[3], a[4]);
    default:
        return DISP_E_BADPARAMCOUNT;
    }
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
    if (params->cArgs != m->count)
        return DISP_E_BADPARAMCOUNT;
    for (unsigned k = 0; k < params->cNamedArgs; ++k) {
        DISPID named = params->rgdispidNamedArgs[k];
        if (named < static_cast<DISPID>(params->cArgs - params->cNamedArgs) ||
            named >= static_cast<DISPID>(m->count))
            return DISP_E_PARAMNOTFOUND;
        for (unsigned j = 0; j < k; ++j) {
            if (params->rgdispidNamedArgs[j] == named)
                return DISP_E_PARAMNOTFOUND;
        }
    }

    VARIANT temp[kMaxParams];
    VARIANT* back[kMaxParams] = {};
    uintptr_t args[kMaxParams + 1];
    // Empty temporaries, set here rather than by a call per argument: most
    // arguments arrive in their declared type and never use theirs.
    for (unsigned p = 0; p < m->count; ++p)
        V_VT(&temp[p]) = VT_EMPTY;
    union {
        VARIANT_BOOL boolean;
        SHORT i2;
        LONG i4;
        BSTR text;
    } value{};
    hr = S_OK;
    for (unsigned p = 0; p < m->count && SUCCEEDED(hr); ++p) {
        unsigned index = 0;
        argument_index(*params, p, index);  // named parameters were checked above
        hr = bind_argument(m->param[p], &params->rgvarg[index], temp[p], args[p], back[p]);
        if (FAILED(hr) && arg_err)
            *arg_err = index;
    }
    bool called = SUCCEEDED(hr);
    if (called) {
        unsigned count = m->count;
        if (m->result != VT_EMPTY)
            args[count++] = reinterpret_cast<uintptr_t>(&value);
        hr = call_slot(self, m->slot, args, count);
        for (unsigned p = 0; p < m->count; ++p) {
            if (back[p]) {  // the caller's variable takes the temporary
                VariantClear(back[p]);
                *back[p] = temp[p];
                V_VT(&temp[p]) = VT_EMPTY;
            }
        }
    }
    for (unsigned p = 0; p < m->count; ++p) {
        if (V_VT(&temp[p]) != VT_EMPTY)  // only a conversion leaves anything to free
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
        case VT_BSTR:
            V_BSTR(result) = value.text;
            break;
        default:
            V_VT(result) = VT_EMPTY;
            break;
        }
    } else if (m->result == VT_BSTR) {
        SysFreeString(value.text);
    }
    return S_OK;
}

}  // namespace dispatch

}  // namespace tarnwick
