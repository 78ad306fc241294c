#pragma once
// A Win32 handle closed, by the function of its kind, when it goes out of scope.
#include <windows.h>

template <typename Handle, auto Close> struct ScopedHandle {
    Handle handle{};
    ScopedHandle() = default;
    explicit ScopedHandle(Handle opened) : handle(opened) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() {
        if (Valid())
            Close(handle);
    }
    // Null or INVALID_HANDLE_VALUE, as each kind's open reports a failure.
    bool Valid() const {
        return handle && handle != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
    }
    operator Handle() const { return handle; }
};

using ScopedFile = ScopedHandle<HANDLE, &CloseHandle>;
using ScopedKey = ScopedHandle<HKEY, &RegCloseKey>;
