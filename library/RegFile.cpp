// Registry 1.2: a key's subtree exported to a registration file, and such a
// file imported.
//
// A registration file is UTF-16LE text with a byte-order mark and CRLF line
// ends: the line "Windows Registry Editor Version 5.00", then each key as
// "[ROOT\path]" followed by its values, one a line, "@" or the quoted name,
// "=", and the data: a quoted text, "dword:" and eight hex digits, or
// "hex:" (REG_BINARY) or "hex(type):" and the bytes in hex, comma
// separated, long lists continued on the next line after a "\". Import
// also takes the older form, "REGEDIT4" text in the ANSI code page, key
// deletions "[-ROOT\path]" and value deletions "name=-".
#include <atomic>
#include <cstddef>
#include <span>
#include <cstring>
#include <cwchar>

#include "Registry.h"
#include "buffer.h"
#include "key_identity.h"
#include "text.h"
#include "tree_walk.h"

namespace tarnwick {

using platform::call;
using platform::Fn;
using namespace reg;

namespace {

constexpr std::wstring_view kHeader = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view kOldHeader = L"REGEDIT4";
constexpr wchar_t kDigits[] = L"0123456789abcdef";
// A file larger than this is not read.
constexpr LONGLONG kLargestFile = 256ll << 20;
// A line of this many characters or more is refused, and so never written.
constexpr size_t kLongestLine = 1u << 20;

// ---------------------------------------------------------------- export

// A file written beside its destination under a name of its own, which
// takes the destination's place only once it is whole; deleted when it
// never does.
class NewFile {
public:
    explicit NewFile(const wchar_t* destination) : destination_(destination)
    {
        // The process and a number: CREATE_NEW keeps two writers apart and
        // never overwrites a file left by another. The number moves on only
        // past a name found taken, so exports reuse their name: Wine 10 for
        // arm64, emulated, keeps some 140 bytes for every new name a process
        // makes a file under.
        static std::atomic<unsigned> next;
        const std::wstring_view to(destination);
        const DWORD process = call<Fn::GetCurrentProcessId>();
        for (int attempt = 0; attempt < 8; ++attempt) {
            unsigned number = next.load(std::memory_order_relaxed);
            wchar_t tail[48] = L".~";
            wchar_t* end = text::put_decimal(tail + 2, process);
            *end++ = L'-';
            end = text::put_decimal(end, number);
            std::wmemcpy(end, L".tmp", 5);
            Bstr name = Bstr::join({to, tail});
            const HANDLE h = call<Fn::CreateFileW>(name.get(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                *handle_.put() = h;
                name_ = std::move(name);
                return;
            }
            next.compare_exchange_strong(number, number + 1, std::memory_order_relaxed);
        }
    }
    NewFile(const NewFile&) = delete;
    ~NewFile()
    {
        handle_.reset();
        if (name_.get() && !placed_)
            platform::call_if_bound<Fn::DeleteFileW>(name_.get());
    }

    bool created() const noexcept { return handle_.get() != nullptr; }

    bool write(const void* bytes, DWORD n)
    {
        DWORD done = 0;
        return call<Fn::WriteFile>(handle_.get(), bytes, n, &done, nullptr) && done == n;
    }

    // Closes the file and puts it in the destination's place.
    bool place()
    {
        handle_.close();
        placed_ = call<Fn::MoveFileExW>(name_.get(), destination_, MOVEFILE_REPLACE_EXISTING);
        return placed_;
    }

private:
    const wchar_t* destination_;
    Bstr name_;
    unique_handle handle_;
    bool placed_ = false;
};

// The text of the file, written through a buffer of 64 KiB.
class Writer {
public:
    explicit Writer(NewFile& file) : file_(file), buffer_(Bstr::bytes(kRoom * sizeof(wchar_t))) {}

    void put(wchar_t c)
    {
        if (used_ == kRoom)
            flush();
        buffer_.get()[used_++] = c;
    }
    void put(std::wstring_view text)
    {
        for (wchar_t c : text)
            put(c);
    }
    // Two hex digits of a byte.
    void put_byte(BYTE b)
    {
        put(kDigits[b >> 4]);
        put(kDigits[b & 15]);
    }
    // The hex digits of a number, `width` of them or as few as it takes;
    // gives their count.
    int put_hex(DWORD n, int width)
    {
        int digits = 1;
        while (digits < 8 && (n >> (4 * digits)) != 0)
            ++digits;
        if (digits < width)
            digits = width;
        for (int i = digits; i-- > 0;)
            put(kDigits[(n >> (4 * i)) & 15]);
        return digits;
    }
    void end_line() { put(L"\r\n"); }

    // Writes what the buffer holds; false when any write failed.
    bool flush()
    {
        if (used_ && !file_.write(buffer_.get(), used_ * sizeof(wchar_t)))
            failed_ = true;
        used_ = 0;
        return !failed_;
    }

private:
    static constexpr DWORD kRoom = 32768;

    NewFile& file_;
    Bstr buffer_;
    DWORD used_ = 0;
    bool failed_ = false;
};

// A name or text between quotes, with "\" and the quote escaped, and a line
// break as the escape that reads back as one; gives the number written.
size_t put_quoted(Writer& out, std::wstring_view text)
{
    size_t length = 2;
    out.put(L'"');
    for (wchar_t c : text) {
        const wchar_t escaped = c == L'\\' || c == L'"' ? c
                                : c == L'\n'            ? L'n'
                                : c == L'\r'            ? L'r'
                                                        : L'\0';
        if (escaped) {
            out.put(L'\\');
            ++length;
            c = escaped;
        }
        out.put(c);
        ++length;
    }
    out.put(L'"');
    return length;
}

// Whether REG_SZ data reads back from a quoted text as it is: whole
// characters, one NUL at the end and none before it, no line break.
bool plain_text(const BYTE* data, DWORD size) noexcept
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t))
        return false;
    const auto* units = reinterpret_cast<const wchar_t*>(data);
    const size_t n = size / sizeof(wchar_t) - 1;
    if (units[n] != L'\0')
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (units[i] == L'\0' || units[i] == L'\r' || units[i] == L'\n')
            return false;
    }
    return true;
}

// Hex lists wrap as the platform's editor wraps them: a line that has
// reached this length after a byte and its comma goes on after a "\".
constexpr size_t kWrapAt = 77;

void put_value(Writer& out, const KeyContents& value)
{
    const std::wstring_view name = value.value_name();
    size_t column = 1;
    if (name.empty())
        out.put(L'@');
    else
        column = put_quoted(out, name);
    out.put(L'=');
    ++column;
    const DWORD type = value.value_type(), size = value.size();
    const BYTE* data = value.data();
    // A text goes between quotes while the line, each character escaped at
    // worst, stays shorter than import takes; a longer one as its bytes.
    if (type == REG_SZ && plain_text(data, size) &&
        column + 2 + size / sizeof(wchar_t) * 2 < kLongestLine) {
        put_quoted(out, {reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t) - 1});
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD n;
        std::memcpy(&n, data, sizeof n);
        out.put(L"dword:");
        out.put_hex(n, 8);
    } else {
        out.put(L"hex");
        column += 4;
        if (type != REG_BINARY) {
            out.put(L'(');
            column += 2 + out.put_hex(type, 1);
            out.put(L')');
        }
        out.put(L':');
        for (DWORD i = 0; i < size; ++i) {
            out.put_byte(data[i]);
            if (i + 1 == size)
                break;
            out.put(L',');
            if ((column += 3) >= kWrapAt) {
                out.put(L"\\\r\n  ");
                column = 2;
            }
        }
    }
    out.end_line();
}

// Whether a key's path can stand on a key line that import reads back as
// this key: no line break, which would end the line, and short enough.
bool fits_key_line(std::wstring_view path) noexcept
{
    return path.size() + 3 < kLongestLine && path.find_first_of(L"\r\n") == std::wstring_view::npos;
}

// Writes the key open as `key`, whose full name is `path`, then each key
// below it, depth first, each level opened in `view`. False when Windows
// refused a value or key, which would leave the file short, or when a key
// cannot be written so that import gives it back: a name the format cannot
// carry, a tree deeper than the registry's own.
bool put_tree(Writer& out, HKEY key, std::wstring_view path, REGSAM view)
{
    TreeWalk walk(key, path, KEY_READ, view, kDeepestTree);
    for (TreeWalk::Step step; (step = walk.next()) != TreeWalk::kEnd;) {
        if (step != TreeWalk::kEnter)
            continue;
        if (!fits_key_line(walk.path()))
            return false;
        out.put(L'[');
        out.put(walk.path());
        out.put(L']');
        out.end_line();
        KeyContents contents(walk.key());
        while (contents.next_value())
            put_value(out, contents);
        out.end_line();
        if (!contents.complete())
            return false;
    }
    return walk.complete() && !walk.too_deep();
}

// ---------------------------------------------------------------- import

// What an import does, in the order of the file. Each step is a Step and
// then its key path or value name with a NUL, and a value's data, padded to
// four bytes.
enum class Op : DWORD { kKey, kDeleteKey, kValue, kDeleteValue };
struct Step {
    Op op;
    DWORD type;   // of a value
    HKEY root;    // of a key
    DWORD units;  // of the path or name, without its NUL
    DWORD size;   // of the data
    ULONG line;   // of the file, where the step begins
};

// After a step's data come at least two bytes that are not zero, so that
// text data goes to Windows as it is (see set_value) without a copy.
constexpr size_t kGuard = 2;

size_t step_size(const Step& step) noexcept
{
    return (sizeof step + (step.units + 1) * sizeof(wchar_t) + step.size + kGuard + 3) &
           ~size_t{3};
}


// Raises error 5, naming the line of the file that is at fault.
[[noreturn]] void refuse(ULONG line)
{
    constexpr wchar_t kRest[] = L" of the file is not a registration entry";
    wchar_t description[64] = L"Line ";
    wchar_t* end = text::put_decimal(description + 5, line);
    std::wmemcpy(end, kRest, std::size(kRest));
    raise(kInvalidCall, description);
}

bool is_blank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t';
}

// The value of a hex digit; -1 for any other character.
int digit_value(wchar_t c) noexcept
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    c = static_cast<wchar_t>(c | 0x20);
    return c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
}

// Reads the text of a registration file, line by line, into the steps of a
// plan: the whole file before anything is done, raising error 5 at the
// first line that is no entry.
class Parser {
public:
    Parser(std::wstring_view text, bool ansi, Buffer& plan) noexcept
        : rest_(text), ansi_(ansi), plan_(plan)
    {
    }

    void run()
    {
        if (!next_line())
            refuse(1);
        skip_blanks_at_end();
        if (line_ != (ansi_ ? kOldHeader : kHeader))
            refuse(number_);
        while (next_line()) {
            skip_blanks();
            if (line_.empty() || line_[0] == L';')
                continue;
            if (line_[0] == L'[')
                key_line();
            else if (line_[0] == L'@' || line_[0] == L'"')
                value_line();
            else
                refuse(number_);
        }
    }

private:
    // The next line, without its line end; false at the end of the text.
    bool next_line()
    {
        if (rest_.empty())
            return false;
        const wchar_t* end = std::wmemchr(rest_.data(), L'\n', rest_.size());
        const size_t n = end ? static_cast<size_t>(end - rest_.data()) : rest_.size();
        line_ = {rest_.data(), n};
        rest_.remove_prefix(end ? n + 1 : n);
        ++number_;
        if (!line_.empty() && line_.back() == L'\r')
            line_.remove_suffix(1);
        if (line_.size() >= kLongestLine || std::wmemchr(line_.data(), L'\0', line_.size()))
            refuse(number_);
        return true;
    }

    void skip_blanks() noexcept
    {
        while (!line_.empty() && is_blank(line_.front()))
            line_.remove_prefix(1);
    }
    void skip_blanks_at_end() noexcept
    {
        while (!line_.empty() && is_blank(line_.back()))
            line_.remove_suffix(1);
    }
    bool take(wchar_t c) noexcept
    {
        if (line_.empty() || line_.front() != c)
            return false;
        line_.remove_prefix(1);
        return true;
    }
    bool take(std::wstring_view word) noexcept
    {
        if (line_.size() < word.size() || !same_name({line_.data(), word.size()}, word))
            return false;
        line_.remove_prefix(word.size());
        return true;
    }
    void expect(wchar_t c)
    {
        if (!take(c))
            refuse(number_);
    }
    // Nothing but blanks may follow.
    void expect_end()
    {
        skip_blanks();
        if (!line_.empty())
            refuse(number_);
    }
    // One to `most` hex digits.
    DWORD hex_number(int most)
    {
        DWORD n = 0;
        int count = 0;
        for (int d; count < most && !line_.empty() && (d = digit_value(line_.front())) >= 0;
             ++count) {
            n = n << 4 | static_cast<DWORD>(d);
            line_.remove_prefix(1);
        }
        if (count == 0)
            refuse(number_);
        return n;
    }

    // Starts a step; its header is written when it ends.
    size_t begin_step()
    {
        const size_t at = plan_.size();
        plan_.extend(sizeof(Step));
        step_line_ = number_;
        return at;
    }
    void end_step(size_t at, Step step)
    {
        step.line = step_line_;
        std::memcpy(plan_.data() + at, &step, sizeof step);
        const size_t rest = step_size(step) - (plan_.size() - at);
        std::memset(plan_.extend(rest), 0xFF, rest);
    }

    // [ROOT\path] or [-ROOT\path]: the path runs to the line's last "]".
    void key_line()
    {
        line_.remove_prefix(1);
        const bool deleting = take(L'-');
        const size_t close = line_.rfind(L']');
        if (close == std::wstring_view::npos)
            refuse(number_);
        std::wstring_view path(line_.data(), close);
        line_.remove_prefix(close + 1);
        expect_end();
        const size_t slash = path.find(L'\\');
        const std::wstring_view root(path.data(),
                                     slash == std::wstring_view::npos ? path.size() : slash);
        Step step{deleting ? Op::kDeleteKey : Op::kKey, 0, nullptr, 0, 0, 0};
        for (const RootName& r : kRootNames) {
            if (same_name(root, r.name))
                step.root =
                    reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(r.value)));
        }
        if (!step.root)
            refuse(number_);
        path.remove_prefix(root.size() < path.size() ? root.size() + 1 : root.size());
        const size_t at = begin_step();
        plan_.append(path);
        plan_.push(L'\0');
        if (deleting &&
            names_root(reinterpret_cast<const wchar_t*>(plan_.data() + at + sizeof step)))
            refuse(number_);  // a root is never deleted
        step.units = static_cast<DWORD>(path.size());
        end_step(at, step);
        in_key_ = !deleting;
    }

    // "name"=data, @=data, "name"=- or @=-.
    void value_line()
    {
        if (!in_key_)
            refuse(number_);  // no key for it to go in
        const size_t at = begin_step();
        Step step{Op::kValue, REG_SZ, nullptr, 0, 0, 0};
        if (!take(L'@'))
            step.units = quoted();
        plan_.push(L'\0');
        skip_blanks();
        expect(L'=');
        skip_blanks();
        const size_t data = plan_.size();
        if (take(L'-')) {
            step.op = Op::kDeleteValue;
        } else if (!line_.empty() && line_.front() == L'"') {
            quoted();
            plan_.push(L'\0');
        } else if (take(L"dword:")) {
            step.type = REG_DWORD;
            const DWORD n = hex_number(8);
            plan_.append(&n, sizeof n);
        } else if (take(L"hex")) {
            step.type = REG_BINARY;
            if (take(L'(')) {
                step.type = hex_number(8);
                expect(L')');
            }
            expect(L':');
            hex_bytes();
            if (ansi_ && (step.type == REG_EXPAND_SZ || step.type == REG_MULTI_SZ)) {
                // Text of the older form is ANSI; the registry keeps UTF-16.
                const Bstr wide = text::from_ansi(
                    reinterpret_cast<const char*>(plan_.data() + data), plan_.size() - data);
                plan_.cut(data);
                plan_.append(wide.view());
            }
        } else {
            refuse(number_);
        }
        expect_end();
        step.size = static_cast<DWORD>(plan_.size() - data);
        end_step(at, step);
    }

    // A text between quotes, its escapes undone, into the plan; gives its
    // length. Escapes are \\, \", \n and \r.
    DWORD quoted()
    {
        expect(L'"');
        DWORD n = 0;
        for (;; ++n) {
            if (line_.empty())
                refuse(number_);  // no closing quote
            wchar_t c = line_.front();
            line_.remove_prefix(1);
            if (c == L'"')
                return n;
            if (c == L'\\') {
                const wchar_t e = line_.empty() ? L'\0' : line_.front();
                c = e == L'\\' || e == L'"' ? e : e == L'n' ? L'\n' : e == L'r' ? L'\r' : L'\0';
                if (!c)
                    refuse(number_);
                line_.remove_prefix(1);
            }
            plan_.push(c);
        }
    }

    // Bytes in hex, comma separated; after a comma a "\" at the end of the
    // line continues the list on the next line that is no comment.
    void hex_bytes()
    {
        for (;;) {
            skip_blanks();
            if (line_.empty())
                return;
            if (take(L'\\')) {
                expect_end();
                do {
                    if (!next_line())
                        refuse(number_);  // the file ends where the list goes on
                    skip_blanks();
                } while (!line_.empty() && line_.front() == L';');
                continue;
            }
            const BYTE b = static_cast<BYTE>(hex_number(2));
            plan_.append(&b, 1);
            skip_blanks();
            if (line_.empty())
                return;
            expect(L',');
        }
    }

    std::wstring_view rest_;  // the text after the current line
    std::wstring_view line_;  // what is left of the current line
    ULONG number_ = 0;        // of the current line, from 1
    ULONG step_line_ = 0;     // where the step being read began
    bool ansi_;
    bool in_key_ = false;  // a key line came last: values may follow
    Buffer& plan_;
};

// Reads the whole file; false when Windows refuses to open or read it.
bool read_file(const wchar_t* path, Bstr& bytes, DWORD& size)
{
    unique_handle file;
    const HANDLE h = call<Fn::CreateFileW>(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    *file.put() = h;
    LARGE_INTEGER length;
    if (!call<Fn::GetFileSizeEx>(h, &length))
        return false;
    if (length.QuadPart > kLargestFile)
        raise(kOutOfMemory);
    size = static_cast<DWORD>(length.QuadPart);
    bytes = Bstr::bytes(size);
    for (DWORD done = 0; done < size;) {
        DWORD n = 0;
        if (!call<Fn::ReadFile>(h, reinterpret_cast<BYTE*>(bytes.get()) + done, size - done, &n,
                                nullptr) ||
            n == 0)
            return false;  // an error, or the file got shorter
        done += n;
    }
    return true;
}

// The plan of a file's bytes: UTF-16LE with its byte-order mark, or the
// older form in the ANSI code page. Raises 5 with the line at fault.
void plan_of(const BYTE* bytes, DWORD size, Buffer& plan)
{
    Bstr converted;
    std::wstring_view text;
    const bool wide = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (wide) {
        text = {reinterpret_cast<const wchar_t*>(bytes + 2), (size - 2) / sizeof(wchar_t)};
        if (size % 2) {
            // Half a character at the end, on the last line.
            ULONG line = 1;
            for (wchar_t c : text)
                line += c == L'\n';
            refuse(line);
        }
    } else if (size >= kOldHeader.size() &&
               std::memcmp(bytes, "REGEDIT4", kOldHeader.size()) == 0) {
        converted = text::from_ansi(reinterpret_cast<const char*>(bytes), size);
        text = converted.view();
    } else {
        refuse(1);
    }
    Parser(text, !wide, plan).run();
}

// The steps of a plan, one at a time.
class Steps {
public:
    explicit Steps(const Buffer& plan) noexcept : plan_(plan) {}

    bool next() noexcept
    {
        if (at_ >= plan_.size())
            return false;
        std::memcpy(&step_, plan_.data() + at_, sizeof step_);
        name_ = reinterpret_cast<const wchar_t*>(plan_.data() + at_ + sizeof step_);
        at_ += step_size(step_);
        return true;
    }
    const Step& step() const noexcept { return step_; }
    // The key path or value name, NUL-terminated.
    const wchar_t* name() const noexcept { return name_; }
    const BYTE* data() const noexcept { return reinterpret_cast<const BYTE*>(name_ + step_.units + 1); }

private:
    const Buffer& plan_;
    size_t at_ = 0;
    Step step_{};
    const wchar_t* name_ = nullptr;
};

// Raises error 5 before anything is written when a key deletion of the
// plan would delete a root, the storage of one or a key that holds one,
// by whatever name the file gives it.
void check_deletions(const Buffer& plan, REGSAM view)
{
    for (Steps steps(plan); steps.next();) {
        if (steps.step().op != Op::kDeleteKey)
            continue;
        KeyIdentity key;
        if (!key.find(steps.step().root, steps.name(), view) ||
            (key.exists() && key.holds_root()))
            refuse(steps.step().line);
    }
}

// What an import changed, kept before each change so that all of it can be
// undone, last change first: the keys it made, the values it set or
// deleted as they were before, and each subtree it deleted, whole. Each
// entry is a Step (its op telling which), then its key path, the value
// name and the old data.
class Undo {
public:
    enum Kind : DWORD { kMadeKey, kOldValue, kNoValue, kSavedKey, kSavedValue, kSavedTree };
    static constexpr DWORD kLink = 1;  // the type of a saved key that is a link

    // The key root\path[0, made) that this import creates.
    void made_key(HKEY root, std::wstring_view path) { add(done_, kMadeKey, root, 0, path, {}, {}); }

    // Keeps value `name` of `key` (root\path) as it is now, or that it is
    // not there; false when Windows does not say which.
    bool keep_value(HKEY root, std::wstring_view path, HKEY key, const wchar_t* name)
    {
        ValueReader old;
        if (old.read(key, name)) {
            add(done_, kOldValue, root, old.type(), path, name, {old.data(), old.size()});
            return true;
        }
        if (call<Fn::RegQueryValueExW>(key, name, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_FILE_NOT_FOUND)
            return false;
        add(done_, kNoValue, root, 0, path, name, {});
        return true;
    }

    // Keeps the whole subtree of `key` (root\path, open to read); false
    // when any of it cannot be read.
    bool keep_tree(HKEY root, std::wstring_view path, HKEY key, REGSAM view)
    {
        const size_t first = saved_.size();
        TreeWalk walk(key, path, KEY_READ, view, kAnyDepth);
        for (TreeWalk::Step step; (step = walk.next()) != TreeWalk::kEnd;) {
            if (step != TreeWalk::kEnter)
                continue;
            const size_t at = saved_.size();
            add(saved_, kSavedKey, root, 0, walk.path(), {}, {});
            KeyContents contents(walk.key());
            while (contents.next_value()) {
                add(saved_, kSavedValue, root, contents.value_type(), {},
                    contents.value_name(), {contents.data(), contents.size()});
                // A link is made again as a link: its type says so.
                if (contents.value_type() == REG_LINK &&
                    same_name(contents.value_name(), L"SymbolicLinkValue")) {
                    const DWORD link = kLink;
                    std::memcpy(saved_.data() + at + offsetof(Header, type), &link, sizeof link);
                }
            }
            if (!contents.complete())
                return false;
        }
        if (!walk.complete())
            return false;
        // Where the saved keys begin and end, as the entry's data.
        const size_t range[2] = {first, saved_.size()};
        add(done_, kSavedTree, root, 0, {}, {}, {reinterpret_cast<const BYTE*>(range), sizeof range});
        return true;
    }

    // Undoes every change, last first; false when Windows refused any part
    // of the undoing, which then goes on with the rest.
    bool roll_back(REGSAM view)
    {
        bool whole = true;
        const auto* starts = reinterpret_cast<const size_t*>(starts_.data());
        for (size_t i = starts_.size() / sizeof(size_t); i-- > 0;) {
            const Entry e = entry(done_, starts[i]);
            switch (e.kind) {
            case kMadeKey: {
                // A key whose making was the refused step is not there.
                delete_subkeys(e.root, e.path, view);
                unique_hkey left;
                whole &= delete_key(e.root, e.path, view) || !open_tree(e.root, e.path, view, left);
                break;
            }
            case kOldValue:
            case kNoValue: {
                unique_hkey key;
                whole &= call<Fn::RegOpenKeyExW>(e.root, e.path, 0, KEY_SET_VALUE | view,
                                                 key.put()) == 0 &&
                         (e.kind == kOldValue ? set_value(key.get(), e.name, e.type, e.data, e.size)
                                              : call<Fn::RegDeleteValueW>(key.get(), e.name)) ==
                             0;
                break;
            }
            default: {
                size_t range[2];
                std::memcpy(range, e.data, sizeof range);
                whole &= restore(range[0], range[1], view);
                break;
            }
            }
        }
        return whole;
    }

private:
    struct Entry {
        Kind kind;
        DWORD type;
        HKEY root;
        const wchar_t* path;
        const wchar_t* name;
        const BYTE* data;
        DWORD size;
    };
    struct Header {
        Kind kind;
        DWORD type;
        HKEY root;
        DWORD path_units, name_units, size;
    };
    static size_t entry_size(const Header& h) noexcept
    {
        return (sizeof h + (h.path_units + h.name_units + 2) * sizeof(wchar_t) + h.size + 7) &
               ~size_t{7};
    }

    void add(Buffer& to, Kind kind, HKEY root, DWORD type, std::wstring_view path,
             std::wstring_view name, std::span<const BYTE> data)
    {
        const Header h{kind, type, root, static_cast<DWORD>(path.size()),
                       static_cast<DWORD>(name.size()), static_cast<DWORD>(data.size())};
        const size_t at = to.size();
        to.append(&h, sizeof h);
        to.append(path);
        to.push(L'\0');
        to.append(name);
        to.push(L'\0');
        to.append(data.data(), data.size());
        to.extend(at + entry_size(h) - to.size());
        if (&to == &done_)
            starts_.append(&at, sizeof at);  // once the entry is whole
    }

    static Entry entry(const Buffer& from, size_t at) noexcept
    {
        Header h;
        std::memcpy(&h, from.data() + at, sizeof h);
        const auto* path = reinterpret_cast<const wchar_t*>(from.data() + at + sizeof h);
        const wchar_t* name = path + h.path_units + 1;
        return {h.kind, h.type, h.root, path, name,
                reinterpret_cast<const BYTE*>(name + h.name_units + 1), h.size};
    }

    // Makes the saved keys from `first` to `end` again, with their values.
    bool restore(size_t first, size_t end, REGSAM view)
    {
        bool whole = true;
        unique_hkey key;
        for (size_t at = first; at < end;) {
            const Entry e = entry(saved_, at);
            Header h;
            std::memcpy(&h, saved_.data() + at, sizeof h);
            at += entry_size(h);
            if (e.kind == kSavedKey) {
                // A key that stayed is opened as itself, never through a
                // link; one that went is made again, a link as a link.
                const DWORD options = e.type == kLink ? REG_OPTION_CREATE_LINK : 0;
                if (call<Fn::RegOpenKeyExW>(e.root, e.path, REG_OPTION_OPEN_LINK,
                                            KEY_SET_VALUE | view, key.put()) != 0 &&
                    call<Fn::RegCreateKeyExW>(e.root, e.path, 0, nullptr, options,
                                              KEY_SET_VALUE | KEY_CREATE_LINK | view, nullptr,
                                              key.put(), nullptr) != 0) {
                    key.reset();
                    whole = false;
                }
            } else if (!key.get() ||
                       set_value(key.get(), e.name, e.type, e.data, e.size) != 0) {
                whole = false;
            }
        }
        return whole;
    }

    Buffer done_;    // the changes, in order
    Buffer starts_;  // where each of them begins
    Buffer saved_;   // the deleted subtrees' keys and values
};

// Raises error 5 for the step of line `line` that Windows refused, once
// every change before it is undone.
[[noreturn]] void refuse_step(ULONG line, Undo& undo, REGSAM view)
{
    const bool undone = undo.roll_back(view);
    const wchar_t* rest = undone ? L" of the file was refused; nothing is changed"
                                 : L" of the file was refused; not all is undone";
    wchar_t description[64] = L"Line ";
    wchar_t* end = text::put_decimal(description + 5, line);
    std::wcsncpy(end, rest, std::size(description) - 1 - static_cast<size_t>(end - description));
    raise(kInvalidCall, description);
}

// Takes the steps of a plan in order, all of them or none: before each
// change what it changes is kept, and at the first step that Windows
// refuses everything done is undone and the call raises error 5 naming its
// line. A deletion of something that is not there is done. Gives the number
// of values written.
LONG apply(const Buffer& plan, REGSAM view)
{
    check_deletions(plan, view);
    Undo undo;
    LONG written = 0;
    unique_hkey key;         // where the values go
    const wchar_t* path = L"";  // its path
    HKEY root = nullptr;     // and root
    bool made = false;       // whether this import made it: its values were not there
    for (Steps steps(plan); steps.next();) {
        const Step& step = steps.step();
        const wchar_t* name = steps.name();
        bool done = true;
        switch (step.op) {
        case Op::kKey: {
            constexpr REGSAM kAccess = KEY_SET_VALUE | KEY_QUERY_VALUE;
            root = step.root;
            path = name;
            made = false;
            // Most keys of a file are there already.
            if (call<Fn::RegOpenKeyExW>(step.root, name, 0, kAccess | view, key.put()) == 0)
                break;
            KeyIdentity there;
            done = there.find(step.root, name, view);
            if (!done)
                break;
            made = !there.exists();
            if (made) {
                // The first key of the path that is not there yet.
                const std::wstring_view whole(name);
                size_t end = whole.find_first_not_of(L'\\', there.existing_length());
                end = whole.find(L'\\', end);
                undo.made_key(step.root, {whole.data(), end == std::wstring_view::npos ? whole.size() : end});
            }
            done = call<Fn::RegCreateKeyExW>(step.root, name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             kAccess | view, nullptr, key.put(), nullptr) == 0;
            break;
        }
        case Op::kDeleteKey: {
            key.reset();
            unique_hkey doomed;
            const LONG status = call<Fn::RegOpenKeyExW>(step.root, name, REG_OPTION_OPEN_LINK,
                                                        KEY_READ | view, doomed.put());
            if (status == ERROR_FILE_NOT_FOUND)
                break;
            done = status == 0 && undo.keep_tree(step.root, name, doomed.get(), view);
            doomed.reset();
            if (done) {
                delete_subkeys(step.root, name, view);
                done = delete_key(step.root, name, view);
            }
            break;
        }
        case Op::kValue:
            done = key.get() && (made || undo.keep_value(root, path, key.get(), name)) &&
                   call<Fn::RegSetValueExW>(key.get(), name, 0, step.type, steps.data(),
                                            step.size) == 0;  // the data is guarded
            written += done;
            break;
        case Op::kDeleteValue: {
            // In a key this import made, only what it wrote can be there.
            done = key.get() && (made || undo.keep_value(root, path, key.get(), name));
            if (!done)
                break;
            const LONG status = call<Fn::RegDeleteValueW>(key.get(), name);
            done = status == 0 || status == ERROR_FILE_NOT_FOUND;
            break;
        }
        }
        if (!done) {
            key.reset();
            refuse_step(step.line, undo, view);
        }
    }
    return written;
}

}  // namespace

HRESULT Registry::RegExportKey(VARIANT RootKey, BSTR SubKey, BSTR Path, VARIANT View,
                               VARIANT_BOOL* result)
{
    return method(result, [&](VARIANT_BOOL& written) {
        const Place place(RootKey, SubKey, View);
        const wchar_t* file = name_of(Path);
        const wchar_t* root = named_root(place.root);
        unique_hkey key;
        if (!place.open(KEY_READ, key))
            return;
        // The key's full name, without the backslashes Windows ignores
        // around its path.
        const std::wstring_view sub = trimmed(place.sub_key);
        Buffer path;
        path.append(root);
        if (!sub.empty()) {
            path.push(L'\\');
            path.append(sub);
        }
        NewFile out(file);
        if (!out.created())
            return;
        Writer writer(out);
        writer.put(L'\xFEFF');
        writer.put(kHeader);
        writer.end_line();
        writer.end_line();
        if (put_tree(writer, key.get(), path.text(), place.view) && writer.flush() && out.place())
            written = VARIANT_TRUE;
    });
}

HRESULT Registry::RegImportFile(BSTR Path, VARIANT View, LONG* result)
{
    return method(result, [&](LONG& written) {
        const wchar_t* file = name_of(Path);
        const REGSAM view = view_of(View);
        Bstr bytes;
        DWORD size = 0;
        if (!read_file(file, bytes, size))
            return;
        Buffer plan;
        plan_of(reinterpret_cast<const BYTE*>(bytes.get()), size, plan);
        written = apply(plan, view);
    });
}

}  // namespace tarnwick
