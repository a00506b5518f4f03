// Helpers for the WindowsInfo, Time and Reboot tests: a log of the platform
// calls that stand-ins receive, a fake registry behind the three registry
// functions, and a few text helpers.
#pragma once

#include "keys.h"
#include "methods.h"
#include "seam.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace classes {

using testkit::Bstr;
using testkit::Com;

using testkit::error_description;
using testkit::narrow;
using testkit::Rebind;
using testkit::seam;
using testkit::widen;

// An object of registered class C through its interface I, and a second one
// created by its ProgID for calls by name.
template <class I, const testkit::ClassRef& C> class Registered : public ::testing::Test {
protected:
    void SetUp() override
    {
        object_ = testkit::create<I>(*C.clsid);
        ASSERT_TRUE(object_) << narrow(C.progid()) << " is not registered";
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromProgID(C.progid().c_str(), &clsid));
        EXPECT_EQ(*C.clsid, clsid);
        by_name_ = testkit::create<IDispatch>(clsid);
        ASSERT_TRUE(by_name_);
    }

    testkit::Apartment apartment_;
    Com<I> object_;
    Com<IDispatch> by_name_;
};

// The text result of a method without parameters, called by name; the call
// must succeed and give a String.
inline std::wstring text_by_name(IDispatch* object, const wchar_t* method)
{
    testkit::Variant result;
    EXPECT_EQ(S_OK, testkit::call_by_name(object, method, {}, &result)) << narrow(method);
    EXPECT_EQ(VT_BSTR, V_VT(&result)) << narrow(method);
    return V_VT(&result) == VT_BSTR ? testkit::text_of(result) : L"(not a text)";
}

// What the stand-ins received, one line per call, in order.
inline std::vector<std::string>& calls()
{
    static std::vector<std::string> log;
    return log;
}

inline std::string format(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

inline void record(const std::string& line)
{
    calls().push_back(line);
}

// A registry of its own behind RegOpenKeyExW, RegQueryValueExW and
// RegCloseKey. Keys are found by the exact sub-key text under
// HKEY_LOCAL_MACHINE; values by exact name ("" is the default value).
class FakeRegistry {
public:
    std::map<std::string, std::map<std::string, std::string>> keys;

    FakeRegistry()
        : open_(TESTKIT_STAND_IN(RegOpenKeyExW, &Open)),
          query_(TESTKIT_STAND_IN(RegQueryValueExW, &Query)),
          close_(TESTKIT_STAND_IN(RegCloseKey, &Close))
    {
        current() = this;
    }
    ~FakeRegistry() { current() = nullptr; }
    HRESULT status() const
    {
        return FAILED(open_.status())    ? open_.status()
               : FAILED(query_.status()) ? query_.status()
                                         : close_.status();
    }
    // Keys that were opened and are not closed yet.
    size_t open_keys() const { return handles_.size(); }

private:
    static FakeRegistry*& current()
    {
        static FakeRegistry* registry = nullptr;
        return registry;
    }

    static LSTATUS WINAPI Open(HKEY root, LPCWSTR sub_key, DWORD, REGSAM, PHKEY out)
    {
        FakeRegistry* self = current();
        const std::string sub = sub_key ? narrow(sub_key) : "(null)";
        record(format("RegOpenKeyExW(%#lx, \"%s\")",
                      static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(root)), sub.c_str()));
        if (!self || root != HKEY_LOCAL_MACHINE || !sub_key)
            return ERROR_FILE_NOT_FOUND;
        auto key = self->keys.find(sub);
        if (key == self->keys.end())
            return ERROR_FILE_NOT_FOUND;
        HKEY handle = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7000 + 4 * ++self->serial_));
        self->handles_[handle] = key->first;
        *out = handle;
        return ERROR_SUCCESS;
    }

    static LSTATUS WINAPI Query(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                LPDWORD size)
    {
        FakeRegistry* self = current();
        const std::string value_name = name ? narrow(name) : "";
        record(format("RegQueryValueExW(\"%s\")", name ? value_name.c_str() : "(null)"));
        if (!self || !self->handles_.count(key))
            return ERROR_INVALID_HANDLE;
        const auto& values = self->keys[self->handles_[key]];
        auto value = values.find(value_name);
        if (value == values.end())
            return ERROR_FILE_NOT_FOUND;
        const std::wstring text = widen(value->second);
        const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        if (type)
            *type = REG_SZ;
        if (!size || *size < needed) {
            if (size)
                *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, text.c_str(), needed);
        *size = needed;
        return ERROR_SUCCESS;
    }

    static LSTATUS WINAPI Close(HKEY key)
    {
        FakeRegistry* self = current();
        record("RegCloseKey");
        if (!self || !self->handles_.erase(key))
            return ERROR_INVALID_HANDLE;
        return ERROR_SUCCESS;
    }

    Rebind open_, query_, close_;
    std::map<HKEY, std::string> handles_;
    unsigned serial_ = 0;
};

// A text result slot that holds a text of the test's own before the call,
// so that a method that leaves its slot alone is seen: a method must set it
// to the null string on failure and to a new text on success.
class TextSlot {
public:
    TextSlot() = default;
    TextSlot(const TextSlot&) = delete;
    ~TextSlot()
    {
        if (value_ != marker_.get())
            SysFreeString(value_);
    }
    BSTR* put() { return &value_; }
    bool untouched() const { return value_ == marker_.get(); }
    bool null() const { return value_ == nullptr; }
    std::wstring str() const
    {
        if (untouched())
            return L"(untouched)";
        return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring();
    }

private:
    Bstr marker_{L"left over"};
    BSTR value_ = marker_.get();
};

// Seconds since midnight of a "HH:MM:SS" text; -1 when it is not one.
inline int seconds_of(const std::wstring& text)
{
    if (text.size() != 8 || text[2] != L':' || text[5] != L':')
        return -1;
    int fields[3];
    for (int i = 0; i < 3; ++i) {
        wchar_t a = text[3 * i], b = text[3 * i + 1];
        if (a < L'0' || a > L'9' || b < L'0' || b > L'9')
            return -1;
        fields[i] = (a - L'0') * 10 + (b - L'0');
    }
    if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59)
        return -1;
    return fields[0] * 3600 + fields[1] * 60 + fields[2];
}

inline int seconds_of(const SYSTEMTIME& t)
{
    return t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

// The distance from a to b on a 24-hour clock, in -43200..43199 seconds.
inline int clock_difference(int a, int b)
{
    int d = ((b - a) % 86400 + 86400) % 86400;
    return d >= 43200 ? d - 86400 : d;
}

}  // namespace classes
