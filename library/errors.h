// Run-time errors: how a method stops at once and what its caller receives.
#pragma once

#include <windows.h>

namespace tarnwick {

// Run-time error numbers that the library raises.
enum ErrorNumber : long {
    kInvalidCall = 5,      // invalid procedure call or argument
    kOverflow = 6,
    kOutOfMemory = 7,
    kTypeMismatch = 13,
    kLoadFailed = 48,      // the library of a declared function cannot be loaded
    kFileNotFound = 53,    // the library of a declared function is not found
    kEntryNotFound = 453,  // the library lacks the declared function
};

// Status of a run-time error: severity error, FACILITY_CONTROL, the number.
constexpr HRESULT status_of(long number)
{
    return static_cast<HRESULT>(0x800A0000u + static_cast<unsigned long>(number));
}

// Thrown to end a method. A run-time error of our own carries its number
// and gets fresh error information; a failing inner call carries the status
// it returned and keeps the error information that the inner call left.
struct Failure {
    HRESULT status;
    long number;  // 0 for a passed-on inner status
    // The error's own description; empty for the standard text of its number.
    wchar_t description[64];
};

[[noreturn]] void raise(long number);
// The same with a description of its own, which says more than the
// standard text; cut to what Failure holds.
[[noreturn]] void raise(long number, const wchar_t* description);

// A failing status from an inner call on an object of this library ends the
// calling method with the same status.
inline void check(HRESULT status)
{
    if (FAILED(status)) [[unlikely]]
        throw Failure{status, 0, {}};
}

// The failure that ended a call, from inside the catch block that caught
// it: a run-time error or inner status as thrown; anything else, which the
// library never throws, as E_UNEXPECTED.
Failure caught_failure() noexcept;

// Leaves the error information of a run-time error for the caller and gives
// the status to return. Source is the class's ProgID.
HRESULT report(const Failure& failure, const wchar_t* source, REFIID iid) noexcept;

}  // namespace tarnwick
