// Registry: read one value as text, write one text value, create a key;
// each by root-key handle value or by root-key name.
#pragma once

#include "object.h"

namespace tarnwick {

class Registry final : public Object<Registry, _Registry, kRegistry> {
public:
    HRESULT STDMETHODCALLTYPE CreateRegKey(LONG RootKey, BSTR strSubKey, LONG* KeyStatus,
                                           VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE QueryRegValue(LONG RootKey, BSTR strSubKey, BSTR strValueName,
                                            BSTR* strData, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE SetRegValue(LONG RootKey, BSTR SubKey, BSTR ValueName,
                                          BSTR* SettingBuffer, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE RegReadString(BSTR RootKey, BSTR* strKeyName, BSTR* strValueName,
                                            BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RegWriteString(BSTR RootKey, BSTR strKeyName, BSTR strValueName,
                                             BSTR strValue, SHORT* result) override;
    HRESULT STDMETHODCALLTYPE RegCreateKey(BSTR* RootKey, BSTR* strKeyName, SHORT* result) override;

private:
    // The handle value of a root-key name; 0 for any other text.
    static LONG RootKeyFromName(BSTR name) noexcept;
};

}  // namespace tarnwick
