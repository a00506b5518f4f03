// Self-registration: the type library and, for each class, its class
// identifier and ProgID entries, written to and removed from the
// machine-wide class registration, HKEY_LOCAL_MACHINE\Software\Classes.
// Never through the merged HKEY_CLASSES_ROOT: there, a write goes to the
// user's own classes wherever a key of that name exists, and the
// machine-wide entries would stay stale.
//
// On 64-bit Windows a 32-bit and a 64-bit library can be registered side by
// side. Each registry view holds its own class identifiers; the ProgIDs and
// the type library's key are shared. So each library removes its own class
// entries, and a shared entry only when the other view's library does not
// use it any more.
#include <cwchar>

#include "object.h"

namespace tarnwick {

using platform::call;
using platform::call_if_bound;
using platform::Fn;

namespace {

constexpr wchar_t kMachineClasses[] = L"Software\\Classes";
// The view of a library of the other bitness. Windows without a second view
// ignores the flag, and so finds this library's own entries, which are
// removed before it looks.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// A GUID in registry form, "{...}".
struct GuidText {
    explicit GuidText(const GUID& id) noexcept { StringFromGUID2(id, text, 39); }
    std::wstring_view view() const noexcept { return {text, 38}; }
    wchar_t text[39];
};

HRESULT status_of_win32(LONG error)
{
    return error == 0 ? S_OK : HRESULT_FROM_WIN32(error);
}

// Lower-case hexadecimal digits of a number, as the type library's keys
// spell versions and locales.
struct HexText {
    explicit HexText(unsigned long n) noexcept
    {
        wchar_t* p = text + sizeof text / sizeof *text;
        do {
            *--p = L"0123456789abcdef"[n % 16];
            n /= 16;
        } while (n);
        start = p;
    }
    std::wstring_view view() const noexcept
    {
        return {start, static_cast<size_t>(text + sizeof text / sizeof *text - start)};
    }
    wchar_t text[8];
    const wchar_t* start;
};

// The library's own file and the type library inside it.
struct OwnTypeLibrary {
    wchar_t path[MAX_PATH + 1];
    ComPtr<ITypeLib> library;
    TLIBATTR attributes;

    HRESULT load()
    {
        HRESULT hr = module::own_type_library(path, library.put());
        if (FAILED(hr))
            return hr;
        TLIBATTR* a;
        if (FAILED(hr = library->GetLibAttr(&a)))
            return hr;
        attributes = *a;
        library->ReleaseTLibAttr(a);
        return S_OK;
    }

    // The type library's version as its keys spell it, "1.2".
    Bstr version() const
    {
        return Bstr::join({HexText(attributes.wMajorVerNum).view(), L".",
                           HexText(attributes.wMinorVerNum).view()});
    }

    // "TypeLib\{libid}\1.2\0\win32": where the type library records the
    // file of one platform, this library's own or the other bitness's.
    Bstr platform_key(bool own) const
    {
        const SYSKIND kind = own ? attributes.syskind
                                 : (attributes.syskind == SYS_WIN64 ? SYS_WIN32 : SYS_WIN64);
        return Bstr::join({L"TypeLib\\", GuidText(attributes.guid).view(), L"\\",
                           version().view(), L"\\", HexText(attributes.lcid).view(),
                           kind == SYS_WIN64 ? L"\\win64" : L"\\win32"});
    }
};

// HKEY_LOCAL_MACHINE\Software\Classes of this library's own view, for one
// registration or unregistration.
HRESULT open_machine_classes(unique_hkey& classes)
{
    return status_of_win32(call<Fn::RegOpenKeyExW>(HKEY_LOCAL_MACHINE, kMachineClasses, 0,
                                                   KEY_READ | KEY_WRITE, classes.put()));
}

bool key_exists(HKEY classes, const Bstr& path)
{
    unique_hkey key;
    return call<Fn::RegOpenKeyExW>(classes, path.get(), 0, KEY_QUERY_VALUE, key.put()) == 0;
}

// Whether the machine-wide classes of the other view hold the key. Asked by
// its whole path: a view flag on a key opened relative to one of this view's
// handles is not followed everywhere.
bool other_view_has(std::wstring_view path)
{
    const Bstr full = Bstr::join({kMachineClasses, L"\\", path});
    unique_hkey key;
    return call<Fn::RegOpenKeyExW>(HKEY_LOCAL_MACHINE, full.get(), 0,
                                   KEY_QUERY_VALUE | kOtherView, key.put()) == 0;
}

// The default value of a key as text; null when there is none.
Bstr default_text(HKEY classes, const Bstr& path)
{
    unique_hkey key;
    wchar_t text[MAX_PATH + 1];
    DWORD size = sizeof text - sizeof *text, type = REG_NONE;
    if (call<Fn::RegOpenKeyExW>(classes, path.get(), 0, KEY_QUERY_VALUE, key.put()) != 0 ||
        call<Fn::RegQueryValueExW>(key.get(), nullptr, nullptr, &type,
                                   reinterpret_cast<BYTE*>(text), &size) != 0 ||
        type != REG_SZ)
        return Bstr();
    return Bstr::copy(text, static_cast<UINT>(wcsnlen(text, size / sizeof *text)));
}

// Removes a key with everything under it; a key that is already gone
// counts as removed.
HRESULT delete_tree(HKEY classes, const Bstr& path)
{
    LONG error = call<Fn::RegDeleteTreeW>(classes, path.get());
    return error == ERROR_FILE_NOT_FOUND ? S_OK : status_of_win32(error);
}

// The changes one registration makes, so that a registration that fails
// part-way puts back what was there before it: keys it made go again,
// values it replaced get their old type and bytes back, last change first.
class Journal {
public:
    explicit Journal(HKEY classes) noexcept : classes_(classes) {}

    // Sets text value `name` (null: the default value) of the key `path`,
    // creating the key.
    HRESULT set(const Bstr& path, const wchar_t* name, const wchar_t* value)
    {
        if (count_ == kMaxChanges)
            return E_UNEXPECTED;
        unique_hkey key;
        DWORD disposition = 0;
        LONG error = call<Fn::RegCreateKeyExW>(classes_, path.get(), 0, nullptr,
                                               REG_OPTION_NON_VOLATILE,
                                               KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                                               key.put(), &disposition);
        if (error != 0)
            return status_of_win32(error);
        Change& change = changes_[count_++];
        change.path = Bstr::copy(path.get());
        change.name = name;
        change.created = disposition == REG_CREATED_NEW_KEY;
        if (!change.created)
            remember(key.get(), change);
        return status_of_win32(call<Fn::RegSetValueExW>(
            key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t))));
    }

    // Puts everything back, last change first, as far as Windows lets it.
    void undo() noexcept
    {
        while (count_ > 0) {
            Change& change = changes_[--count_];
            if (change.created) {
                call_if_bound<Fn::RegDeleteTreeW>(classes_, change.path.get());
                continue;
            }
            unique_hkey key;
            if (!call_if_bound<Fn::RegOpenKeyExW>(classes_, change.path.get(), 0, KEY_SET_VALUE,
                                                  key.put()) ||
                !key.get())
                continue;
            if (change.before.get())
                call_if_bound<Fn::RegSetValueExW>(
                    key.get(), change.name, 0, change.type,
                    reinterpret_cast<const BYTE*>(change.before.get()), change.size);
            else
                call_if_bound<Fn::RegDeleteValueW>(key.get(), change.name);
        }
    }

private:
    struct Change {
        Bstr path;
        const wchar_t* name = nullptr;
        bool created = false;  // the key is new: it goes with all below it
        DWORD type = REG_NONE;
        Bstr before;  // the bytes the value had; null when it had none
        DWORD size = 0;
    };

    // Notes the value's type and bytes before they are replaced.
    static void remember(HKEY key, Change& change)
    {
        DWORD size = 0;
        if (call<Fn::RegQueryValueExW>(key, change.name, nullptr, &change.type, nullptr,
                                       &size) != 0)
            return;
        Bstr bytes = Bstr::bytes(size);
        if (call<Fn::RegQueryValueExW>(key, change.name, nullptr, &change.type,
                                       reinterpret_cast<BYTE*>(bytes.get()), &size) == 0) {
            change.before = std::move(bytes);
            change.size = size;
        }
    }

    static constexpr unsigned kValuesPerClass = 8;  // register_class below
    static constexpr unsigned kMaxChanges = kValuesPerClass * kClassCount;

    HKEY classes_;
    Change changes_[kMaxChanges];
    unsigned count_ = 0;
};

HRESULT register_class(Journal& journal, const ClassInfo& c, const OwnTypeLibrary& own)
{
    const GuidText clsid(*c.clsid);
    const GuidText library(own.attributes.guid);
    const Bstr key = Bstr::join({L"CLSID\\", clsid.view()});
    const Bstr server = Bstr::join({key.view(), L"\\InprocServer32"});
    const Bstr progid = Bstr::join({c.progid});
    HRESULT hr;
    if (FAILED(hr = journal.set(key, nullptr, c.name)) ||
        FAILED(hr = journal.set(server, nullptr, own.path)) ||
        FAILED(hr = journal.set(server, L"ThreadingModel", L"Apartment")) ||
        FAILED(hr = journal.set(Bstr::join({key.view(), L"\\ProgID"}), nullptr, c.progid)) ||
        FAILED(hr = journal.set(Bstr::join({key.view(), L"\\TypeLib"}), nullptr, library.text)) ||
        FAILED(hr = journal.set(Bstr::join({key.view(), L"\\Version"}), nullptr,
                                own.version().get())) ||
        FAILED(hr = journal.set(progid, nullptr, c.name)) ||
        FAILED(hr = journal.set(Bstr::join({c.progid, L"\\CLSID"}), nullptr, clsid.text)))
        return hr;
    return S_OK;
}

// Removes this library's record from the type library's registration: all
// of it (its interfaces too) when no library of the other bitness is
// registered, otherwise only the entry naming this library's file.
HRESULT unregister_type_library(HKEY classes, const OwnTypeLibrary& own)
{
    const Bstr own_key = own.platform_key(true);
    if (!key_exists(classes, own_key))
        return S_OK;  // not registered: what was asked for
    if (other_view_has(own.platform_key(false).view()))
        return delete_tree(classes, own_key);
    const TLIBATTR& a = own.attributes;
    HRESULT hr =
        call<Fn::UnRegisterTypeLib>(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

HRESULT unregister_all(HKEY classes, const OwnTypeLibrary& own)
{
    HRESULT result = S_OK;
    auto note = [&result](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    };
    for (const ClassInfo* c : kClasses) {
        const Bstr key = Bstr::join({L"CLSID\\", GuidText(*c->clsid).view()});
        HRESULT hr = delete_tree(classes, key);
        note(hr);
        // The ProgID stays while the other view's library serves the class.
        if (SUCCEEDED(hr) && !other_view_has(Bstr::join({key.view(), L"\\InprocServer32"}).view()))
            note(delete_tree(classes, Bstr::join({c->progid})));
    }
    note(unregister_type_library(classes, own));
    return result;
}

// Runs a registration step, turning a function that cannot be bound (or
// an allocation that fails) into its failing status.
template <class Step> HRESULT guarded(Step step) noexcept
{
    try {
        return step();
    } catch (...) {
        return caught_failure().status;
    }
}

HRESULT register_all(HKEY classes, const OwnTypeLibrary& own)
{
    // The file the type library named before, to name it again should the
    // registration fail.
    const Bstr before = default_text(classes, own.platform_key(true));
    Journal journal(classes);
    const HRESULT hr = guarded([&] {
        HRESULT status =
            call<Fn::RegisterTypeLib>(own.library.get(), const_cast<wchar_t*>(own.path), nullptr);
        for (unsigned i = 0; i < kClassCount && SUCCEEDED(status); ++i)
            status = register_class(journal, *kClasses[i], own);
        return status;
    });
    if (SUCCEEDED(hr))
        return hr;
    journal.undo();
    guarded([&] {
        if (!before.get())
            return unregister_type_library(classes, own);
        ComPtr<ITypeLib> previous;
        if (std::wcscmp(before.get(), own.path) != 0 &&
            SUCCEEDED(LoadTypeLibEx(before.get(), REGKIND_NONE, previous.put())))
            return call<Fn::RegisterTypeLib>(previous.get(), before.get(), nullptr);
        return S_OK;
    });
    return hr;
}

// Runs register_all or unregister_all on the machine-wide classes.
template <class Step> HRESULT on_machine_classes(Step step) noexcept
{
    OwnTypeLibrary own;
    HRESULT hr = own.load();
    if (FAILED(hr))
        return hr;
    return guarded([&] {
        unique_hkey classes;
        HRESULT status = open_machine_classes(classes);
        return SUCCEEDED(status) ? step(classes.get(), own) : status;
    });
}

}  // namespace

}  // namespace tarnwick

using namespace tarnwick;

STDAPI DllRegisterServer()
{
    return on_machine_classes(register_all);
}

STDAPI DllUnregisterServer()
{
    return on_machine_classes(unregister_all);
}
