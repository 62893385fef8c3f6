// oxfirst/OxHostDefaults.h
// liboxhost: ready-made host callbacks for liboxfirst. A host links OxFirst::oxhost and calls
// oxInstallHostDefaults() once during start-up, or installs only the pieces it wants. The
// library itself never includes this header nor links liboxhost.
#pragma once

#include <oxfirst/OxRxCallbacks.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define OXHOST_API __attribute__((visibility("default")))

/// Installs the formatter (oxHostFormat), both ANSI converters and the fatal-error handler
/// (oxHostFatalError) through OxRxTypeSysCallbacks, replacing what was installed for those four.
/// The class notifications and the resource-module callback are left as they are. Like the
/// setters it calls, it takes no lock: call it during start-up, before other threads use the
/// library.
OXHOST_API void oxInstallHostDefaults();

/// A printf-style formatter over UTF-16 text, of type OxRxTypeSysCallbacks::FmtOutCallback.
///
/// Formats `format` with `arguments` and hands the result to `sink` in pieces of at most 256
/// units, passing `context` through unchanged. A non-zero answer from the sink stops the
/// formatting at once. A null `sink` only counts. Returns the number of units handed to the sink
/// (all units the text has when the sink never stops), at most INT_MAX. A null `format` gives no
/// output and 0. Ordinary output never touches the heap; only a floating-point conversion whose
/// text exceeds 512 bytes (huge width or precision) borrows a heap block for it.
///
/// A conversion is %[flags][width][.precision][length]conversion:
/// - flags `-` (left-justify), `+`, space, `#`, `0`; width and precision as digits or `*` (an
///   int argument; a negative width means `-` and its magnitude, a negative precision none).
///   Only numbers are padded with zeros; text, characters and pointers are padded with spaces.
/// - length `hh h l ll L j z t` as printf on this platform (`l` is the 64-bit long of Linux),
///   and `I32` (32 bits), `I64` (64 bits), `I` (pointer-sized), `w` (wide, for c s C S).
/// - `d i u x X o`: integers exactly as the C library's printf prints them.
/// - `f F e E g G a A`: floating point (`L`: long double), the C library's digits.
/// - `s` and `c`: OXCHAR text and one OXCHAR unit; `hs`/`hc` narrow, `ls`/`lc`/`ws`/`wc` wide.
///   `S` and `C` are the narrow forms (`lS`/`lC`/`wS`/`wC` wide).
///   Narrow text is read as UTF-8; each ill-formed sequence becomes one U+FFFD (one per maximal
///   subpart). Narrow text never goes through the ANSI converter: the
///   formatter must work before any converter is installed and without allocating.
///   A precision limits the text to that many of its own units (OXCHARs or bytes), and the
///   text is never read beyond them, so an unterminated buffer is safe with a precision. The
///   width counts UTF-16 units of output. A null text pointer prints "(null)", cut by the
///   precision like any text.
/// - `p`: the pointer as 16 upper-case hex digits, without prefix.
/// - `n`: takes its pointer argument and writes nothing; a format must not be able to write
///   to memory.
/// - `%%` prints one `%`. An unknown conversion prints its whole directive literally, and
///   a format that ends inside a directive prints the unfinished directive.
///
/// Like printf, the formatter reads exactly the arguments that the format names, in order; it
/// cannot tell when fewer were passed. The library never passes a format with more conversions
/// than arguments.
OXHOST_API int oxHostFormat(OxRxFmtSink sink, void* context, const OXCHAR* format, va_list arguments);

/// Formats into `buffer` as snprintf does: writes the first units of the text that fit in
/// `capacity - 1`, then a terminator (nothing at all when `capacity` is 0 or `buffer` is null),
/// and returns the number of units the whole text has, without the terminator. When the cut
/// falls inside a surrogate pair the lone high surrogate is left out, so the buffer always holds
/// well-formed text.
OXHOST_API int oxHostFormatToBuffer(OXCHAR* buffer, std::size_t capacity, const OXCHAR* format, ...);
OXHOST_API int oxHostFormatToBufferV(OXCHAR* buffer, std::size_t capacity, const OXCHAR* format,
                                     va_list arguments);

/// The fatal-error policy of a console host, of type OxRxTypeSysCallbacks::FatalErrorCallback:
/// writes `message` as UTF-8 followed by a newline to standard error, then ends the process
/// with std::abort. Unpaired surrogates are written as U+FFFD. A null `message` writes only the
/// newline. Never returns; uses no heap, so it works when memory is exhausted.
[[noreturn]] OXHOST_API void oxHostFatalError(const OXCHAR* message);

/// The ANSI converters, of the types OxRxTypeSysCallbacks::MultiByteToWideCharCallback and
/// WideCharToMultiByteCallback, with the contracts of MultiByteToWideChar and WideCharToMultiByte
/// for the platform's ANSI code page (code page 0 or its own number; 65001 converts UTF-8 and
/// passes straight through). Results count the units or bytes written, the terminator included
/// when `sourceLength` is -1; a capacity of 0 asks for the size needed; 0 means failure.
///
/// Narrow text keeps every UTF-16 unit: a unit that the code page cannot hold is written as the
/// seven bytes "\U+XXXX" (four upper-case hex digits; a surrogate pair as two such escapes), and
/// reading turns "\U+" followed by four hex digits (either case) back into that unit. A
/// backslash of the wide text that would itself read as the start of an escape is written as
/// "\U+005C", so every wide text survives the round trip unchanged. No unit ever needs more
/// than seven bytes. Escapes are recognised only where a character starts: the second byte of a
/// double-byte character is never taken for a backslash.
///
/// `flags` are passed to the platform functions; `extraFlags` must be 0 (ERROR_INVALID_FLAGS).
OXHOST_API int oxHostMultiByteToWideChar(unsigned int codePage, int flags, const char* source,
                                         int sourceLength, OXCHAR* destination, int destinationCapacity);
OXHOST_API int oxHostWideCharToMultiByte(unsigned int codePage, std::uint32_t flags, const OXCHAR* source,
                                         int sourceLength, char* destination, int destinationCapacity,
                                         std::uint32_t extraFlags);

/// One string of a module's string table.
struct OxHostStringResource {
    unsigned int id;
    const OXCHAR* text; ///< null counts as empty
};

/// Gives `module` the string table `strings[0..count)` that LoadStringW, and so
/// OxString::loadString, reads for it; the texts are copied. Registering again replaces the
/// module's table, `count` 0 removes it, a null module is ignored. Linux modules have no resource
/// sections, so a host registers its modules' strings at start-up, choosing for each module any
/// distinct non-null handle (for example the address of one of its own objects) and answering
/// that handle from its getAppResourceDllHandle callback.
OXHOST_API void oxHostRegisterStringTable(win::HINSTANCE module, const OxHostStringResource* strings,
                                          std::size_t count);
