#include "com.h"

#include <cwchar>

#include "errors.h"

namespace tarnwick {

Bstr Bstr::copy(const wchar_t* text, UINT length)
{
    if (length == 0)
        return Bstr();
    Bstr out(SysAllocStringLen(text, length));
    if (!out.get())
        raise(kOutOfMemory);
    return out;
}

Bstr Bstr::join(std::initializer_list<std::wstring_view> parts)
{
    UINT length = 0;
    for (std::wstring_view part : parts)
        length += static_cast<UINT>(part.size());
    if (length == 0)
        return Bstr();
    Bstr out(SysAllocStringLen(nullptr, length));
    if (!out.get())
        raise(kOutOfMemory);
    wchar_t* end = out.get();
    for (std::wstring_view part : parts)
        end = std::wmemcpy(end, part.data(), part.size()) + part.size();
    return out;
}

Bstr Bstr::bytes(UINT count)
{
    Bstr out(SysAllocStringByteLen(nullptr, count));
    if (!out.get())
        raise(kOutOfMemory);
    return out;
}

bool optional_flag(const VARIANT& argument)
{
    const VARIANT* v = &argument;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND)
        return false;
    Variant flag;
    if (FAILED(VariantChangeType(flag.get(), const_cast<VARIANT*>(v), 0, VT_BOOL)))
        raise(kTypeMismatch);
    return V_BOOL(flag.get()) != VARIANT_FALSE;
}

}  // namespace tarnwick
