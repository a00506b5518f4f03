// Bytes that grow as they are written, for what a method builds up before
// it hands it on: a registration file's plan and undo record, a key path.
#pragma once

#include <cstring>
#include <string_view>

#include "com.h"
#include "errors.h"

namespace tarnwick {

// One buffer of the automation allocator; a step's place is its offset,
// which stays when the buffer moves.
class Buffer {
public:
    // `n` more bytes at the end, not yet written.
    BYTE* extend(size_t n)
    {
        if (n > room_ - used_)
            grow(n);
        BYTE* at = data() + used_;
        used_ += n;
        return at;
    }
    void append(const void* bytes, size_t n) { std::memcpy(extend(n), bytes, n); }
    void append(std::wstring_view text) { append(text.data(), text.size() * sizeof(wchar_t)); }
    void push(wchar_t c) { append(&c, sizeof c); }
    // Drops everything after the first `n` bytes.
    void cut(size_t n) noexcept { used_ = n; }

    BYTE* data() const noexcept { return reinterpret_cast<BYTE*>(bytes_.get()); }
    size_t size() const noexcept { return used_; }
    std::wstring_view text() const noexcept
    {
        return {reinterpret_cast<const wchar_t*>(data()), used_ / sizeof(wchar_t)};
    }

private:
    static constexpr size_t kMost = 0x7FFFFFF0;

    void grow(size_t n)
    {
        if (n > kMost - used_)
            raise(kOutOfMemory);
        size_t room = room_ < kMost / 2 ? room_ * 2 : kMost;
        if (room < used_ + n)
            room = used_ + n;
        if (room < 256)
            room = 256;
        Bstr bigger = Bstr::bytes(static_cast<UINT>(room));
        if (used_)
            std::memcpy(bigger.get(), bytes_.get(), used_);
        bytes_ = std::move(bigger);
        room_ = room;
    }

    Bstr bytes_;
    size_t used_ = 0, room_ = 0;
};

}  // namespace tarnwick
