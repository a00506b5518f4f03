#include "errors.h"

#include <oleauto.h>

#include <cwchar>

#include "com.h"

namespace tarnwick {

namespace {

const wchar_t* description_of(long number)
{
    switch (number) {
    case kInvalidCall:
        return L"Invalid procedure call or argument";
    case kOverflow:
        return L"Overflow";
    case kTypeMismatch:
        return L"Type mismatch";
    case kOutOfMemory:
        return L"Out of memory";
    case kLoadFailed:
        return L"Error in loading the library";
    case kFileNotFound:
        return L"File not found";
    case kEntryNotFound:
        return L"Entry point not found";
    default:
        return L"Run-time error";
    }
}

}  // namespace

void raise(long number)
{
    throw Failure{status_of(number), number, {}};
}

void raise(long number, const wchar_t* description)
{
    Failure failure{status_of(number), number, {}};
    std::wcsncpy(failure.description, description,
                 sizeof failure.description / sizeof(wchar_t) - 1);
    throw failure;
}

Failure caught_failure() noexcept
{
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (...) {
        return Failure{E_UNEXPECTED, 0, {}};
    }
}

HRESULT report(const Failure& failure, const wchar_t* source, REFIID iid) noexcept
{
    if (failure.number == 0)
        return failure.status;
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(source));
        create->SetDescription(const_cast<LPOLESTR>(
            failure.description[0] ? failure.description : description_of(failure.number)));
        if (auto info = create.as<IErrorInfo>())
            SetErrorInfo(0, info.get());
    }
    return failure.status;
}

}  // namespace tarnwick
