#pragma once
// A Win32 handle closed, by the function of its kind, when it goes out of scope.
#include <windows.h>

template <typename Handle, auto Close> class ScopedHandle {
  public:
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
    // Closes the handle held, if any, and holds `opened` instead.
    void Reset(Handle opened = Handle{}) {
        if (Valid())
            Close(handle);
        handle = opened;
    }
    // For a function that opens the handle through a pointer; empty before the call.
    Handle* Receive() {
        Reset();
        return &handle;
    }

  private:
    Handle handle{};
};

using ScopedFile = ScopedHandle<HANDLE, &CloseHandle>;
using ScopedKey = ScopedHandle<HKEY, &RegCloseKey>;
using ScopedFont = ScopedHandle<HFONT, &DeleteObject>;
using ScopedBrush = ScopedHandle<HBRUSH, &DeleteObject>;

// A mutex this thread may own: released (when owned) and closed.
inline BOOL ReleaseAndCloseMutex(HANDLE mutex) {
    ReleaseMutex(mutex);
    return CloseHandle(mutex);
}
using ScopedMutex = ScopedHandle<HANDLE, &ReleaseAndCloseMutex>;
