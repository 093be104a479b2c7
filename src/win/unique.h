#pragma once
// Owners for Win32 handles. The empty value of each handle kind lives only in
// its traits, because mixing up null and INVALID_HANDLE_VALUE is the classic
// handle bug.
#include <windows.h>

#include <utility>

namespace win {

template <typename Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() noexcept = default;
    explicit Unique(Handle h) noexcept : handle_(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : handle_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Unique() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::empty(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::empty()); }

    // Closing must not disturb the error code of the call that made us give up.
    void reset(Handle h = Traits::empty()) noexcept
    {
        Handle old = std::exchange(handle_, h);
        if (old != Traits::empty()) {
            DWORD error = GetLastError();
            Traits::close(old);
            SetLastError(error);
        }
    }

    // For out-parameters: closes what is held and hands out the slot.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::empty();
};

struct FileTraits {
    using Handle = HANDLE;
    static Handle empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};

struct FindTraits {
    using Handle = HANDLE;
    static Handle empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { FindClose(h); }
};

struct HandleTraits {
    using Handle = HANDLE;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};

// Only keys we opened; never a predefined root key.
struct KeyTraits {
    using Handle = HKEY;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { RegCloseKey(h); }
};

struct ViewTraits {
    using Handle = void*;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { UnmapViewOfFile(h); }
};

using File = Unique<FileTraits>;
using Find = Unique<FindTraits>;
using Handle = Unique<HandleTraits>;
using Key = Unique<KeyTraits>;
using View = Unique<ViewTraits>;

// Both handles of a started process, closed thread first.
struct Process {
    Handle process;
    Handle thread;

    void adopt(const PROCESS_INFORMATION& pi) noexcept
    {
        process.reset(pi.hProcess);
        thread.reset(pi.hThread);
    }
    ~Process() { thread.reset(); }
};

// A COM interface pointer we hold one reference of.
template <typename Interface>
struct ComTraits {
    using Handle = Interface*;
    static Handle empty() noexcept { return nullptr; }
    static void close(Handle h) noexcept { h->Release(); }
};
template <typename Interface>
using ComPtr = Unique<ComTraits<Interface>>;

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit()
    {
        if (armed_) f_();
    }
    void dismiss() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

template <typename F>
ScopeExit<F> onScopeExit(F f)
{
    return ScopeExit<F>(std::move(f));
}

} // namespace win
