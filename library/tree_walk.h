// The one walk over a subtree, for every operation that goes through one:
// delete, copy, find and export. It is iterative, so the deepest tree that
// Windows keeps takes no more stack than a flat one; it opens every key as
// itself, never following a link into the tree it points to, with the view
// flag at every level, because a key opened below a handle of one view is
// not kept in that view on every system; and it reads each level's names
// again with room when one is longer than its buffer, rather than stopping.
#pragma once

#include <windows.h>

#include <string_view>

#include "buffer.h"
#include "handles.h"

namespace tarnwick::reg {

// How deep copy, find and export go below the key they start from: the
// registry's own limit on the depth of a tree.
inline constexpr unsigned kDeepestTree = 512;
// For a walk that goes as deep as the tree does.
inline constexpr unsigned kAnyDepth = ~0u;

// Open keys, one a level of a tree, each closed when it is taken off or
// when the stack goes; a level may hold no key.
class KeyStack {
public:
    KeyStack() = default;
    KeyStack(const KeyStack&) = delete;
    KeyStack& operator=(const KeyStack&) = delete;
    ~KeyStack()
    {
        while (size())
            pop();
    }

    // Takes over the key that `key` holds.
    void push(unique_hkey& key)
    {
        keys_.extend(sizeof(HKEY));  // room first: a failure leaves the key to `key`
        const HKEY h = key.release();
        std::memcpy(keys_.data() + keys_.size() - sizeof h, &h, sizeof h);
    }
    void pop() noexcept
    {
        unique_hkey last;
        *last.put() = back();
        keys_.cut(keys_.size() - sizeof(HKEY));
    }
    HKEY back() const noexcept
    {
        HKEY h;
        std::memcpy(&h, keys_.data() + keys_.size() - sizeof h, sizeof h);
        return h;
    }
    size_t size() const noexcept { return keys_.size() / sizeof(HKEY); }

private:
    Buffer keys_;
};

class TreeWalk {
public:
    enum Step {
        kEnter,    // a key, open, before the keys below it
        kLeave,    // the same key, closed, after the keys below it
        kRefused,  // a key below that would not open: nothing below it is walked
        kEnd,
    };

    // Walks `top` (open, and left open) and the keys below it, each opened
    // with `access` and `view`, at most `deepest` levels below `top`. Paths
    // are `prefix` and the names below it.
    TreeWalk(HKEY top, std::wstring_view prefix, REGSAM access, REGSAM view, unsigned deepest);
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    // The next step, depth first; kEnd after `top` is left, or once a key
    // lies deeper than allowed.
    Step next();

    // Of the key of the last step: open on kEnter, null otherwise.
    HKEY key() const noexcept { return key_; }
    // The key above it, open; null for `top`.
    HKEY parent() const noexcept { return parent_; }
    // Its name (empty for `top`), and its path: the prefix, then each name
    // below it, with a backslash before each but at the start.
    std::wstring_view name() const noexcept
    {
        return {path().data() + name_start_, path().size() - name_start_};
    }
    std::wstring_view path() const noexcept { return path_.text(); }
    // Its level: 0 for `top`.
    size_t depth() const noexcept { return depth_; }

    // After kEnter: the keys below it are not walked.
    void skip() noexcept { skip_ = true; }
    // After kLeave or kRefused: the key is gone (a delete), so the next key
    // at its level comes at its place in the listing.
    void removed() noexcept { removed_ = true; }

    // Whether every key was listed and opened: false when Windows refused a
    // listing or a key.
    bool complete() const noexcept { return complete_; }
    // Whether the walk ended at a key deeper than allowed.
    bool too_deep() const noexcept { return too_deep_; }

private:
    // One level of the walk below `top`; its key is on keys_.
    struct Level {
        size_t path_end;  // characters of the path up to this key
        DWORD next;       // the index of the subkey to read next
    };
    size_t levels() const noexcept { return levels_.size() / sizeof(Level); }
    Level& level() const noexcept
    {
        return *reinterpret_cast<Level*>(levels_.data() + levels_.size() - sizeof(Level));
    }
    HKEY level_key() const noexcept { return levels() == 1 ? top_ : keys_.back(); }
    void push_level(size_t path_end);

    LONG read_subkey(HKEY key, DWORD index);
    Step leave();
    Step step(Step s, HKEY key, HKEY parent, size_t name_start, size_t depth) noexcept;

    HKEY top_;
    Buffer levels_;
    KeyStack keys_;  // of the levels below `top`
    Buffer path_;
    Bstr listed_;  // the last subkey name read
    DWORD listed_room_ = 0, listed_length_ = 0;
    REGSAM access_;  // with the view flag
    unsigned deepest_;
    // The last step and its key.
    Step last_ = kEnd;
    HKEY key_ = nullptr, parent_ = nullptr;
    size_t name_start_ = 0, depth_ = 0;
    bool started_ = false, skip_ = false, removed_ = false;
    bool complete_ = true, too_deep_ = false;
};

}  // namespace tarnwick::reg
