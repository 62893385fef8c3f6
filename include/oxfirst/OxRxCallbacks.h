// oxfirst/OxRxCallbacks.h
// The services the host lends the library (formatting, ANSI conversion, the resource module,
// the fatal-error policy, class notifications) and the fatal report that uses them.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstdarg>

class OxRxClass;

/// The sink a formatter hands its output to, piece by piece. `context` is passed through
/// unchanged from the formatter's caller. Returns 0 to go on.
using OxRxFmtSink = int (*)(void* context, const OXCHAR* piece, unsigned int unitCount);

/// Process-wide store of the host's callbacks. Every pointer is null when the library loads;
/// each setter replaces the previous pointer (null uninstalls) and returns nothing. The library
/// never clears them, not even when the type system terminates: a host that unloads the module
/// holding a callback uninstalls it first. The setters take no lock: install the callbacks
/// during start-up, before other threads use the library.
class OXFIRST_API OxRxTypeSysCallbacks {
public:
    using NewClassCallback = void (*)(OxRxClass*);
    /// Returning false vetoes the deletion of the class.
    using DeleteClassCallback = bool (*)(OxRxClass*);
    using FatalErrorCallback = void (*)(const OXCHAR* message);
    /// Formats the printf-style `format` with `arguments` and hands the result to `sink` in
    /// pieces, passing `context` through. Returns what the formatter chooses (the library
    /// ignores it).
    using FmtOutCallback = int (*)(OxRxFmtSink sink, void* context, const OXCHAR* format, va_list arguments);
    using AppResourceDllHandleCallback = win::HINSTANCE (*)();
    /// The contract of MultiByteToWideChar: returns the units written (terminator included when
    /// `sourceLength` is -1), 0 on failure.
    using MultiByteToWideCharCallback = int (*)(unsigned int codePage, int flags, const char* source,
                                                int sourceLength, OXCHAR* destination,
                                                int destinationCapacity);
    /// The contract of WideCharToMultiByte: returns the bytes written (terminator included when
    /// `sourceLength` is -1), 0 on failure.
    using WideCharToMultiByteCallback = int (*)(unsigned int codePage, std::uint32_t flags,
                                                const OXCHAR* source, int sourceLength, char* destination,
                                                int destinationCapacity, std::uint32_t extraFlags);

    static void setCallback_newClassCallback(NewClassCallback callback);
    static void setCallback_deleteClassCallback(DeleteClassCallback callback);
    static void setCallback_fatalError(FatalErrorCallback callback);
    static void setCallback_fmtout(FmtOutCallback callback);
    static void setCallback_getAppResourceDllHandle(AppResourceDllHandleCallback callback);
    static void setCallback_MultiByteCIFToWideChar(MultiByteToWideCharCallback callback);
    static void setCallback_WideCharToMultiByteCIF(WideCharToMultiByteCallback callback);

    // Readers for the library's own callers and for hosts that chain to a previous callback.
    static NewClassCallback newClassCallback();
    static DeleteClassCallback deleteClassCallback();
    static FatalErrorCallback fatalError();
    static FmtOutCallback fmtout();
    static AppResourceDllHandleCallback getAppResourceDllHandle();
    static MultiByteToWideCharCallback multiByteToWideChar();
    static WideCharToMultiByteCallback wideCharToMultiByte();
};

/// Length of the fatal report's message buffer in UTF-16 units, including the leading '!' and
/// the terminator.
inline constexpr unsigned int kOxRxAbortBufferLength = 160;

/// Reports a condition the caller cannot recover from. The message is "!" followed by `format`
/// formatted with the arguments through the host's fmtout callback (just "!" without one),
/// cut to fit kOxRxAbortBufferLength units and always terminated. With a fatal-error callback
/// installed the message goes to it and oxrx_abort returns to its caller, which carries on;
/// without one it raises the structured exception 0xBAD0F0E1 (flags 0, no arguments) and does
/// not return. Takes no lock and uses only its own stack buffer.
OXFIRST_API void oxrx_abort(const OXCHAR* format, ...);

/// The code of the structured exception raised by oxrx_abort without a fatal-error callback.
inline constexpr std::uint32_t kOxRxAbortExceptionCode = 0xBAD0F0E1u;
