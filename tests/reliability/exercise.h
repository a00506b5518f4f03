// Calls every public method of one object through its method table, on the
// success paths and on the ordinary failure paths (missing key, missing
// value), checking each result. Shared by the lifetime, apartment and leak
// tests, which each watch something else while the calls run.
#pragma once

#include "reliability.h"

namespace reliability {

// The registry area one caller works in: `key` exists, `missing` does not.
struct Area {
    std::wstring key;
    std::wstring missing;
};

constexpr LONG kCurrentUser = static_cast<LONG>(0x80000001);

// `object` is the default interface of an object of class `cls`; it takes
// no reference of its own, so a caller can watch the count. Calls
// after(method name) after every call; returns the number of calls. Reboot
// is only called while its restart request goes to the refusing stand-in.
template <class After>
unsigned exercise(IDispatch* object, const ClassRef& cls, const Area& area, unsigned round,
                  After&& after)
{
    unsigned calls = 0;
    auto done = [&](const wchar_t* name) {
        ++calls;
        after(name);
    };
    if (cls.clsid == &CLSID_Registry) {
        auto* r = static_cast<_Registry*>(object);
        const std::wstring sub = area.key + L"\\sub" + std::to_wstring(round % 4);
        const std::wstring value_name = L"v" + std::to_wstring(round % 8);
        const std::wstring text = L"text " + std::to_wstring(round);
        Bstr key(area.key), missing(area.missing), sub_b(sub), name(value_name), t(text);
        Bstr hkcu(L"HKCU");

        LONG status = 0;
        VARIANT_BOOL ok = 0;
        EXPECT_EQ(r->CreateRegKey(kCurrentUser, sub_b.get(), &status, &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_TRUE(status == 1 || status == 2) << status;
        done(L"CreateRegKey");

        Bstr buffer(text);
        EXPECT_EQ(r->SetRegValue(kCurrentUser, key.get(), name.get(), buffer.ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(buffer.str(), text);
        done(L"SetRegValue");

        Bstr data;
        EXPECT_EQ(r->QueryRegValue(kCurrentUser, key.get(), name.get(), data.ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        EXPECT_EQ(data.str(), text);
        done(L"QueryRegValue");

        // Failure paths: no key, no value.
        Bstr untouched(L"untouched");
        EXPECT_EQ(r->QueryRegValue(kCurrentUser, missing.get(), name.get(), untouched.ref(), &ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        EXPECT_EQ(untouched.str(), L"untouched");
        done(L"QueryRegValue");
        Bstr no_value(L"no such value");
        EXPECT_EQ(r->QueryRegValue(kCurrentUser, key.get(), no_value.get(), untouched.ref(), &ok),
                  S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        done(L"QueryRegValue");
        Bstr lost(L"lost");
        EXPECT_EQ(r->SetRegValue(kCurrentUser, missing.get(), name.get(), lost.ref(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE);
        done(L"SetRegValue");

        SHORT written = 0;
        const std::wstring wtext = L"written " + std::to_wstring(round);
        Bstr wname(L"w" + std::to_wstring(round % 8)), wvalue(wtext);
        EXPECT_EQ(r->RegWriteString(hkcu.get(), key.get(), wname.get(), wvalue.get(), &written),
                  S_OK);
        EXPECT_EQ(written, 1);
        done(L"RegWriteString");
        EXPECT_EQ(r->RegWriteString(hkcu.get(), missing.get(), wname.get(), wvalue.get(), &written),
                  S_OK);
        EXPECT_EQ(written, 0);
        done(L"RegWriteString");

        Bstr read, key_name(area.key), read_name(wname);
        EXPECT_EQ(r->RegReadString(hkcu.get(), key_name.ref(), read_name.ref(), read.put()), S_OK);
        EXPECT_EQ(read.str(), wtext);
        done(L"RegReadString");
        Bstr missing_name(area.missing);
        EXPECT_EQ(r->RegReadString(hkcu.get(), missing_name.ref(), read_name.ref(), read.put()),
                  S_OK);
        EXPECT_EQ(read.str(), L"");
        done(L"RegReadString");

        SHORT created = 0;
        Bstr root(L"HKCU"), create_name(sub);
        EXPECT_EQ(r->RegCreateKey(root.ref(), create_name.ref(), &created), S_OK);
        EXPECT_EQ(created, 2);  // CreateRegKey above made it
        done(L"RegCreateKey");
    } else if (cls.clsid == &CLSID_WindowsInfo) {
        auto* w = static_cast<_WindowsInfo*>(object);
        LONG platform = 0;
        EXPECT_EQ(w->GetOSType(&platform), S_OK);
        EXPECT_EQ(platform, 2);
        done(L"GetOSType");
        Bstr version;
        EXPECT_EQ(w->GetOSVersionInfo(version.put()), S_OK);
        EXPECT_EQ(version.str().rfind(L"Operating System: ", 0), 0u) << version.str();
        done(L"GetOSVersionInfo");
        Bstr browser, browser_path;
        EXPECT_EQ(w->GetWebBrowser(browser.put()), S_OK);
        done(L"GetWebBrowser");
        EXPECT_EQ(w->GetDefaultBrowserPath(browser_path.put()), S_OK);
        EXPECT_EQ(browser_path.str(), browser.str());
        done(L"GetDefaultBrowserPath");
        Bstr path(L"\"C:\\Program Files\\App\\app.exe\" --open " + std::to_wstring(round));
        EXPECT_EQ(w->GetLocation(path.ref()), S_OK);
        EXPECT_EQ(path.str(), L"C:\\Program Files\\App\\app.exe");
        done(L"GetLocation");
        Bstr none(L"no program here");
        EXPECT_EQ(w->GetLocation(none.ref()), S_OK);
        EXPECT_EQ(none.str(), L"");
        done(L"GetLocation");
    } else if (cls.clsid == &CLSID_Time) {
        auto* t = static_cast<_Time*>(object);
        for (bool local : {false, true}) {
            Bstr now;
            EXPECT_EQ(local ? t->CurrentLocalTime(now.put()) : t->CurrentGMTTime(now.put()), S_OK);
            const std::wstring s = now.str();
            EXPECT_TRUE(s.size() == 8 && s[2] == L':' && s[5] == L':') << s;
            done(local ? L"CurrentLocalTime" : L"CurrentGMTTime");
        }
    } else if (cls.clsid == &CLSID_Reboot) {
        // Never a real restart: the request must go to the stand-in.
        if (bound("ExitWindowsEx") != reinterpret_cast<void*>(&refuse_restart)) {
            ADD_FAILURE() << "Reboot called without the refusing stand-in";
            return calls;
        }
        auto* b = static_cast<_Reboot*>(object);
        SHORT accepted = -5;
        EXPECT_EQ(b->Reboot(&accepted), S_OK);
        EXPECT_EQ(accepted, 0);
        done(L"Reboot");
    }
    return calls;
}

}  // namespace reliability
