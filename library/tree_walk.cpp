#include "tree_walk.h"

#include "errors.h"

namespace tarnwick::reg {

using platform::call;
using platform::Fn;

namespace {

// Key names have at most 255 characters on Windows; other systems keep
// longer ones, which are read with more room, up to the longest path.
constexpr DWORD kFirstRoom = 256;
constexpr DWORD kMostRoom = 32768;

// Puts a NUL after the text, outside it, so that the last name in the
// path is also the name a call takes.
void terminate(Buffer& path)
{
    path.push(L'\0');
    path.cut(path.size() - sizeof(wchar_t));
}

}  // namespace

TreeWalk::TreeWalk(HKEY top, std::wstring_view prefix, REGSAM access, REGSAM view,
                   unsigned deepest)
    : top_(top), access_(access | KEY_ENUMERATE_SUB_KEYS | view), deepest_(deepest)
{
    path_.append(prefix);
    terminate(path_);
    push_level(prefix.size());
}

void TreeWalk::push_level(size_t path_end)
{
    const Level level{path_end, 0};
    levels_.append(&level, sizeof level);
}

TreeWalk::Step TreeWalk::step(Step s, HKEY key, HKEY parent, size_t name_start,
                              size_t depth) noexcept
{
    last_ = s;
    key_ = key;
    parent_ = parent;
    name_start_ = name_start;
    depth_ = depth;
    skip_ = removed_ = false;
    return s;
}

// The name of subkey `index` of `key` into listed_, with more room while it
// does not fit.
LONG TreeWalk::read_subkey(HKEY key, DWORD index)
{
    for (;;) {
        if (listed_room_ == 0)
            listed_ = Bstr::bytes((listed_room_ = kFirstRoom) * sizeof(wchar_t));
        listed_length_ = listed_room_;
        const LONG status = call<Fn::RegEnumKeyExW>(key, index, listed_.get(), &listed_length_,
                                                    nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_MORE_DATA || listed_room_ >= kMostRoom)
            return status;
        listed_ = Bstr::bytes((listed_room_ *= 2) * sizeof(wchar_t));
    }
}

// Leaves the deepest level: its key is closed, and the path keeps its name
// until the next step.
TreeWalk::Step TreeWalk::leave()
{
    const size_t depth = levels() - 1;
    if (depth == 0)
        return step(kLeave, nullptr, nullptr, level().path_end, 0);
    keys_.pop();
    levels_.cut(levels_.size() - sizeof(Level));
    terminate(path_);
    const size_t above = level().path_end;
    return step(kLeave, nullptr, level_key(), above ? above + 1 : 0, depth);
}

TreeWalk::Step TreeWalk::next()
{
    if (!started_) {
        started_ = true;
        return step(kEnter, top_, nullptr, path_.text().size(), 0);
    }
    switch (last_) {
    case kEnd:
        return kEnd;
    case kEnter:
        if (skip_)
            return leave();
        break;
    case kLeave:
    case kRefused:
        if (levels() == 1 && last_ == kLeave && depth_ == 0)
            return step(kEnd, nullptr, nullptr, path_.text().size(), 0);
        // Back at the level above: its path, and its next subkey unless
        // this one is gone.
        path_.cut(level().path_end * sizeof(wchar_t));
        if (!removed_)
            ++level().next;
        break;
    }
    const HKEY key = level_key();
    const LONG status = read_subkey(key, level().next);
    if (status != 0) {
        if (status != ERROR_NO_MORE_ITEMS)
            complete_ = false;
        return leave();
    }
    const size_t depth = levels();
    if (depth > deepest_) {
        too_deep_ = true;
        return step(kEnd, nullptr, nullptr, path_.text().size(), depth);
    }
    if (!path_.text().empty())
        path_.push(L'\\');
    const size_t name_start = path_.text().size();
    path_.append({listed_.get(), listed_length_});
    terminate(path_);
    unique_hkey child;
    if (call<Fn::RegOpenKeyExW>(key, listed_.get(), REG_OPTION_OPEN_LINK, access_,
                                child.put()) != 0) {
        complete_ = false;
        return step(kRefused, nullptr, key, name_start, depth);
    }
    keys_.push(child);
    push_level(path_.text().size());
    return step(kEnter, keys_.back(), key, name_start, depth);
}

}  // namespace tarnwick::reg
