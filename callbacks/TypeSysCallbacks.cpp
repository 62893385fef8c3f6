// callbacks/TypeSysCallbacks.cpp
// The store of the host's callbacks, below the strings and the class system that both read it.
// Hosts install the callbacks once during start-up, but a fatal report may read them on any
// thread, so each pointer is an atomic read and written with relaxed order: the reader needs
// the pointer, not anything published with it.

#include <oxfirst/OxRxCallbacks.h>

#include <atomic>

namespace {

template <typename Callback>
struct Slot {
    std::atomic<Callback> pointer{nullptr};
    void set(Callback callback) { pointer.store(callback, std::memory_order_relaxed); }
    Callback get() const { return pointer.load(std::memory_order_relaxed); }
};

constinit Slot<OxRxTypeSysCallbacks::NewClassCallback> gNewClass;
constinit Slot<OxRxTypeSysCallbacks::DeleteClassCallback> gDeleteClass;
constinit Slot<OxRxTypeSysCallbacks::FatalErrorCallback> gFatalError;
constinit Slot<OxRxTypeSysCallbacks::FmtOutCallback> gFmtOut;
constinit Slot<OxRxTypeSysCallbacks::AppResourceDllHandleCallback> gAppResourceDllHandle;
constinit Slot<OxRxTypeSysCallbacks::MultiByteToWideCharCallback> gMultiByteToWideChar;
constinit Slot<OxRxTypeSysCallbacks::WideCharToMultiByteCallback> gWideCharToMultiByte;

} // namespace

void OxRxTypeSysCallbacks::setCallback_newClassCallback(NewClassCallback callback)
{
    gNewClass.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_deleteClassCallback(DeleteClassCallback callback)
{
    gDeleteClass.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_fatalError(FatalErrorCallback callback)
{
    gFatalError.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_fmtout(FmtOutCallback callback)
{
    gFmtOut.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(AppResourceDllHandleCallback callback)
{
    gAppResourceDllHandle.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(MultiByteToWideCharCallback callback)
{
    gMultiByteToWideChar.set(callback);
}

void OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(WideCharToMultiByteCallback callback)
{
    gWideCharToMultiByte.set(callback);
}

OxRxTypeSysCallbacks::NewClassCallback OxRxTypeSysCallbacks::newClassCallback()
{
    return gNewClass.get();
}

OxRxTypeSysCallbacks::DeleteClassCallback OxRxTypeSysCallbacks::deleteClassCallback()
{
    return gDeleteClass.get();
}

OxRxTypeSysCallbacks::FatalErrorCallback OxRxTypeSysCallbacks::fatalError()
{
    return gFatalError.get();
}

OxRxTypeSysCallbacks::FmtOutCallback OxRxTypeSysCallbacks::fmtout()
{
    return gFmtOut.get();
}

OxRxTypeSysCallbacks::AppResourceDllHandleCallback OxRxTypeSysCallbacks::getAppResourceDllHandle()
{
    return gAppResourceDllHandle.get();
}

OxRxTypeSysCallbacks::MultiByteToWideCharCallback OxRxTypeSysCallbacks::multiByteToWideChar()
{
    return gMultiByteToWideChar.get();
}

OxRxTypeSysCallbacks::WideCharToMultiByteCallback OxRxTypeSysCallbacks::wideCharToMultiByte()
{
    return gWideCharToMultiByte.get();
}
