// platform/win.h
// The platform layer: the Windows interfaces the library is written against, emulated on
// Linux. Names, arguments and answers are Windows': failure is 0, FALSE or null plus the calling
// thread's last error, never an exception (RaiseException alone throws). Sizes given to the
// memory functions are rounded to pages as Windows rounds them.
//
// The layer is the only code of the library that calls POSIX or glibc extensions. It is
// exported (OXWIN_API) because there must be exactly one emulated system per process: liboxhost
// and modules ported beside the library use the same heap table, the same record of
// reservations and the same debug-output sink as the library itself. Its only dependency is
// <oxfirst/OxTypes.h>, the public header of basic types (OXCHAR, HINSTANCE, the structured
// exception RaiseException throws), which knows nothing of the library above the layer.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define OXWIN_API __attribute__((visibility("default")))

namespace win {

// ---------------------------------------------------------------------------------------------
// Types

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = int;
using UINT = unsigned int;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using WCHAR = OXCHAR;
using LPVOID = void*;
using LPCVOID = const void*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using HANDLE = void*;
using HMODULE = HINSTANCE;
using errno_t = int;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// ---------------------------------------------------------------------------------------------
// Errors (the calling thread's last error)

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_LENGTH = 24;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;
inline constexpr DWORD ERROR_ARITHMETIC_OVERFLOW = 534;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

OXWIN_API DWORD GetLastError();
OXWIN_API void SetLastError(DWORD error);

// ---------------------------------------------------------------------------------------------
// Structured exceptions

/// Throws OxStructuredException(code, flags, arguments). Never returns.
[[noreturn]] OXWIN_API void RaiseException(DWORD code, DWORD flags, DWORD argumentCount,
                                           const ULONG_PTR* arguments);

// ---------------------------------------------------------------------------------------------
// Version

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOW) == 276);

inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

/// Windows 10.0 (build 19045), or the version that OX_EMULATE_WINDOWS_VERSION ("major.minor",
/// build 0) names; read once, at the first call. FALSE with ERROR_INSUFFICIENT_BUFFER when
/// dwOSVersionInfoSize is not 276 (the extended record is not emulated).
OXWIN_API BOOL GetVersionExW(OSVERSIONINFOW* info);

// ---------------------------------------------------------------------------------------------
// Critical sections
//
// Re-entrant locks. A zero-filled CRITICAL_SECTION is a free one, so a section in static storage
// works before any constructor runs; there is nothing to initialise or delete. Uncontended entry
// and leave are one atomic operation each; a contended thread sleeps on a futex.

struct CRITICAL_SECTION {
    int state;           // the futex word of SlimLock.h (accessed atomically)
    int recursionCount;  // entries by the owner; 0 when free
    unsigned long owner; // pthread_self() of the owner, 0 when free (accessed atomically)
};

/// Waits until no other thread holds the section; the holder may enter again.
OXWIN_API void EnterCriticalSection(CRITICAL_SECTION* section);
/// Undoes one entry; the last one frees the section. Ignored unless the calling thread holds it.
OXWIN_API void LeaveCriticalSection(CRITICAL_SECTION* section);

/// Holds a critical section for a scope.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION& section) : mSection(section)
    {
        EnterCriticalSection(&mSection);
    }
    ~CriticalSectionGuard() { LeaveCriticalSection(&mSection); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION& mSection;
};

// ---------------------------------------------------------------------------------------------
// Virtual memory
//
// Reservations are kept in a record of the layer's own (in memory it maps itself, never the C
// runtime heap), so every call answers as Windows does: a reserve is PROT_NONE address space, a
// commit makes pages accessible and zero-filled the first time, a decommit discards their
// contents, a release must name the base of a reservation with size 0. All four functions are
// thread-safe and never allocate from the C runtime heap, so allocators may call them with their
// own locks held. A range given by address and size covers every page holding one of its bytes.
// A protection is one of the PAGE_* values below; nothing else is emulated (copy-on-write,
// PAGE_GUARD and the other modifiers are refused with ERROR_INVALID_PARAMETER).

inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_DECOMMIT = 0x00004000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD MEM_FREE = 0x00010000;
inline constexpr DWORD MEM_PRIVATE = 0x00020000;
inline constexpr DWORD MEM_MAPPED = 0x00040000;
inline constexpr DWORD MEM_TOP_DOWN = 0x00100000;

inline constexpr DWORD PAGE_NOACCESS = 0x01;
inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;
inline constexpr DWORD PAGE_EXECUTE = 0x10;
inline constexpr DWORD PAGE_EXECUTE_READ = 0x20;
inline constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;

inline constexpr SIZE_T kPageSize = 4096;
inline constexpr SIZE_T kAllocationGranularity = 65536;

struct MEMORY_BASIC_INFORMATION {
    LPVOID BaseAddress;    // the page that holds the queried address
    LPVOID AllocationBase; // base of the reservation; null for free memory
    DWORD AllocationProtect;
    WORD PartitionId;
    SIZE_T RegionSize; // bytes from BaseAddress over which State, Protect and Type stay the same
    DWORD State;       // MEM_COMMIT, MEM_RESERVE or MEM_FREE
    DWORD Protect;     // page protection when committed, 0 when reserved, PAGE_NOACCESS when free
    DWORD Type;        // MEM_PRIVATE (MEM_MAPPED for shared mappings of others), 0 for free memory
};
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48);

/// `allocationType` is MEM_RESERVE, MEM_COMMIT or both, optionally with MEM_TOP_DOWN (accepted,
/// not needed: mappings already grow down from the top).
/// - Reserve: `size` rounds up to pages. A null `address` gives a new reservation on a 64 KB
///   boundary; a given one rounds down to 64 KB and must be free (else ERROR_INVALID_ADDRESS).
///   With MEM_COMMIT every page of it is committed at once. Returns the reservation's base.
/// - Commit (non-null `address`): the pages must lie in one reservation (else
///   ERROR_INVALID_ADDRESS). They take `protect`; pages newly committed read zero, pages already
///   committed keep their contents. Returns the first page. A null `address` reserves and
///   commits, as MEM_RESERVE | MEM_COMMIT does.
/// Null on failure: ERROR_INVALID_PARAMETER for a zero size, bad flags or bad protection,
/// ERROR_NOT_ENOUGH_MEMORY when the system refuses (or test::failNextCommits says so); nothing
/// is changed then.
OXWIN_API LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
/// MEM_RELEASE: `address` must be a reservation's base (else ERROR_INVALID_ADDRESS) and `size`
/// 0 (else ERROR_INVALID_PARAMETER); unmaps the whole reservation.
/// MEM_DECOMMIT: the pages must lie in one reservation (else ERROR_INVALID_ADDRESS); their
/// contents are discarded and they go back to reserved. Size 0 means the whole reservation and
/// is accepted only with its base (else ERROR_INVALID_PARAMETER). Decommitting reserved pages is
/// no error. Any other `freeType`: ERROR_INVALID_PARAMETER. FALSE on failure, nothing changed.
OXWIN_API BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
/// Describes the region that starts at the page holding `address` and returns
/// sizeof(MEMORY_BASIC_INFORMATION). In a reservation of the layer the region ends where the page
/// state or the reservation ends. Outside them, memory mapped by others is reported committed
/// with the protection of its kernel mapping (AllocationBase = start of that mapping) and
/// unmapped memory is free up to the next mapping (coarser, page by page, when /proc is not
/// mounted). 0 when `buffer` is null (ERROR_INVALID_PARAMETER), `length` is below the size of the
/// record (ERROR_BAD_LENGTH) or `address` lies beyond user space (ERROR_INVALID_PARAMETER).
OXWIN_API SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length);
/// Gives every page of the range `newProtect`; all of them must be committed and in one
/// reservation (else ERROR_INVALID_ADDRESS). `*oldProtect` receives the former protection of
/// the first page. FALSE with ERROR_INVALID_PARAMETER for a null `oldProtect`, a zero size or a
/// bad protection; on failure nothing changes and `*oldProtect` is not written.
OXWIN_API BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, DWORD* oldProtect);

// ---------------------------------------------------------------------------------------------
// Private heaps
//
// Each handle is a private heap of the layer's own: growable, thread-safe, knows every block, so
// HeapWalk lists them, HeapSize and HeapValidate answer exactly, and a pointer or handle that is
// not the heap's own is refused (FALSE, null or SIZE_MAX with ERROR_INVALID_PARAMETER or
// ERROR_INVALID_HANDLE) instead of corrupting anything. A handle is checked before anything
// else, so a destroyed or made-up handle gets ERROR_INVALID_HANDLE from every function. Using a
// handle while another thread destroys it is the caller's error. At most 16383 private heaps
// live at once. No HEAP_* flag or option is emulated: flags and options other than 0 fail with
// ERROR_INVALID_PARAMETER.
//
// The C runtime heap (_get_heap_handle) is a handle too: it forwards to glibc malloc, realloc
// and free. glibc keeps no requested sizes, so on that heap HeapSize answers the usable size
// (malloc_usable_size), HeapValidate answers TRUE, HeapWalk lists one region whose committed
// size is what glibc has handed out (mallinfo2: uordblks + hblkhd), and HeapDestroy fails
// (ERROR_INVALID_PARAMETER).

inline constexpr WORD PROCESS_HEAP_REGION = 0x0001;
inline constexpr WORD PROCESS_HEAP_ENTRY_BUSY = 0x0004;

struct PROCESS_HEAP_ENTRY {
    LPVOID lpData;
    DWORD cbData;
    BYTE cbOverhead;
    BYTE iRegionIndex;
    WORD wFlags;
    union {
        struct {
            HANDLE hMem;
            DWORD dwReserved[3];
        } Block;
        struct {
            DWORD dwCommittedSize;
            DWORD dwUnCommittedSize;
            LPVOID lpFirstBlock;
            LPVOID lpLastBlock;
        } Region;
    };
};
static_assert(sizeof(PROCESS_HEAP_ENTRY) == 40);

enum HEAP_INFORMATION_CLASS : int {
    HeapCompatibilityInformation = 0,
};

/// A growable heap with at least `initialSize` committed up front; `options` and `maximumSize`
/// must be 0 (a heap of fixed maximum size is not emulated). Null with ERROR_NOT_ENOUGH_MEMORY.
OXWIN_API HANDLE HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
/// Frees every block and mapping of the heap; the handle is invalid from then on.
OXWIN_API BOOL HeapDestroy(HANDLE heap);
/// A 16-byte aligned block of exactly `size` bytes (0 gives a block too). Null with
/// ERROR_NOT_ENOUGH_MEMORY.
OXWIN_API LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
/// Resizes a live block, keeping the contents both sizes share; it may move. Null with
/// ERROR_NOT_ENOUGH_MEMORY, and the block is unchanged; null with ERROR_INVALID_PARAMETER when
/// `p` is null or not a live block of the heap.
OXWIN_API LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T size);
/// TRUE for null. FALSE with ERROR_INVALID_PARAMETER, the heap untouched, for anything that is
/// not a live block of this heap (another heap's, an interior pointer, a block freed already).
OXWIN_API BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID p);
/// The size requested for the block; SIZE_MAX with ERROR_INVALID_PARAMETER for anything that
/// is not a live block of this heap.
OXWIN_API SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID p);
/// With `p`: TRUE exactly when it is a live block of the heap. With null: checks the whole heap
/// (every block, every link). FALSE with ERROR_INVALID_PARAMETER otherwise.
OXWIN_API BOOL HeapValidate(HANDLE heap, DWORD flags, LPCVOID p);
/// The heap's own re-entrant lock: other threads wait in every Heap... call on this heap until
/// the holder unlocks; the holder can go on using the heap.
OXWIN_API BOOL HeapLock(HANDLE heap);
OXWIN_API BOOL HeapUnlock(HANDLE heap);
/// Start with `entry->lpData` null; each call replaces `*entry` with the next entry, and the
/// walk ends with FALSE and ERROR_NO_MORE_ITEMS. Entries come region by region in address order:
/// a PROCESS_HEAP_REGION entry (Region.dwCommittedSize the region's mapping, lpFirstBlock the
/// first block's header, lpLastBlock the end of its last block), then its blocks: busy ones
/// (PROCESS_HEAP_ENTRY_BUSY, lpData the block, cbData its requested size, cbOverhead header and
/// padding) and free ones (wFlags 0). Blocks above 512 KB have a mapping of
/// their own and come last, as busy entries outside any region. An entry the heap did not give
/// out is refused with ERROR_INVALID_PARAMETER. Hold HeapLock across the walk for a stable view.
OXWIN_API BOOL HeapWalk(HANDLE heap, PROCESS_HEAP_ENTRY* entry);
/// HeapCompatibilityInformation with a 4-byte 2 (low fragmentation) is accepted; another class,
/// value or length fails with ERROR_INVALID_PARAMETER.
OXWIN_API BOOL HeapSetInformation(HANDLE heap, HEAP_INFORMATION_CLASS informationClass, void* information,
                                  SIZE_T length);
/// Fills up to `capacity` handles of the live heaps (the C runtime heap first) and returns how
/// many heaps there are; when that is more than `capacity`, nothing beyond it is written.
OXWIN_API DWORD GetProcessHeaps(DWORD capacity, HANDLE* heaps);

// ---------------------------------------------------------------------------------------------
// C runtime pieces

/// The C runtime's new handler in the form the front end calls: returns non-zero to ask for a
/// retry, 0 to give up.
using _PNH = int (*)(SIZE_T size);

/// The handler installed with _set_new_handler, else an adapter over std::get_new_handler()
/// (a std handler that returns asks for a retry; one that throws gives up), else null.
OXWIN_API _PNH _query_new_handler();
/// Installs a handler of the C runtime's form; returns the previous one (null when there was
/// none of that form).
OXWIN_API _PNH _set_new_handler(_PNH handler);
/// malloc_usable_size(p); 0 for null.
OXWIN_API SIZE_T _msize(const void* p);
/// The handle of the C runtime heap, usable with every Heap... function.
OXWIN_API std::intptr_t _get_heap_handle();

// ---------------------------------------------------------------------------------------------
// Threads: thread-local storage, fibers, stacks, process exit

inline constexpr DWORD TLS_OUT_OF_INDEXES = 0xFFFFFFFF;
/// Number of TLS indices a process may hold at once: the 64 that Windows guarantees (its
/// expansion slots are not emulated).
inline constexpr DWORD kTlsSlotCount = 64;

/// A free TLS index whose value is null in every thread; TLS_OUT_OF_INDEXES with
/// ERROR_NO_MORE_ITEMS when all kTlsSlotCount are taken.
OXWIN_API DWORD TlsAlloc();
/// The calling thread's value in slot `index` (null until set) with the last error set to
/// ERROR_SUCCESS; null with ERROR_INVALID_PARAMETER for an index that was never allocated.
OXWIN_API LPVOID TlsGetValue(DWORD index);
/// Stores `value` in the calling thread's slot `index`. FALSE with ERROR_INVALID_PARAMETER
/// for an index that is not allocated.
OXWIN_API BOOL TlsSetValue(DWORD index, LPVOID value);
/// Frees `index` and clears its value in every thread, so a later TlsAlloc that hands out the
/// same index finds null everywhere. FALSE with ERROR_INVALID_PARAMETER for an index that is
/// not allocated.
OXWIN_API BOOL TlsFree(DWORD index);

/// The fiber-data word of the calling thread's information block: the current fiber when the
/// thread runs fibers (a value of at least 0x10000 whose first word is the fiber's parameter),
/// a small number otherwise. A fiber library (or a test) sets it with test::setCurrentFiber.
OXWIN_API LPVOID GetCurrentFiber();

/// The lowest and one past the highest address of the calling thread's stack.
OXWIN_API void GetCurrentThreadStackLimits(ULONG_PTR* lowLimit, ULONG_PTR* highLimit);

/// Whether the process is exiting, as opposed to the library being unloaded while the process
/// goes on. Answers false until exit begins.
OXWIN_API BOOL RtlDllShutdownInProgress();
/// Load-time work of the layer (startup/LoadOrder.cpp): arms the watch that makes
/// RtlDllShutdownInProgress answer true once the process exits. Run by the loading thread.
void watchForProcessExit();

// ---------------------------------------------------------------------------------------------
// Memory status

struct MEMORYSTATUS {
    DWORD dwLength;
    DWORD dwMemoryLoad; // percentage of physical memory in use
    SIZE_T dwTotalPhys;
    SIZE_T dwAvailPhys;
    SIZE_T dwTotalPageFile;
    SIZE_T dwAvailPageFile;
    SIZE_T dwTotalVirtual;
    SIZE_T dwAvailVirtual; // user address space not reserved by the process
};
static_assert(sizeof(MEMORYSTATUS) == 56);

/// Fills `status` (dwLength is set to its size). Null is ignored.
OXWIN_API void GlobalMemoryStatus(MEMORYSTATUS* status);

// ---------------------------------------------------------------------------------------------
// Environment
//
// Names and values are UTF-16 here and UTF-8 in the process environment.

/// Windows' secure getenv: `*required` receives the length needed with the terminator (0 when
/// the variable is not set, and then `buffer[0]` is 0 when there is room). 0 on success, ERANGE
/// when the buffer is too small, EINVAL for a null name or a null buffer with a count.
OXWIN_API errno_t _wgetenv_s(SIZE_T* required, WCHAR* buffer, SIZE_T count, const WCHAR* name);

// ---------------------------------------------------------------------------------------------
// Text conversion
//
// Code page 65001 (UTF-8) is the layer's own codec: an ill-formed sequence becomes U+FFFD, one
// per maximal subpart (overlongs, encoded surrogates, bytes F5..FF, truncated sequences and
// stray continuation bytes); an unpaired surrogate encodes as U+FFFD (EF BF BD).
//
// Code page 0 (CP_ACP) is the ANSI code page: Windows-1252 unless OX_ANSI_CODEPAGE, read with
// getenv at the first use of any of these functions, names another: 874, 1250..1258 and other
// single-byte pages glibc's iconv knows as "CP<number>" (437, 850, 866 ...), the double-byte
// pages 932, 936, 949 and 950, or 65001 (the ANSI code page is then UTF-8). A number that is
// malformed or not one of these falls back to 1252. The mapping is glibc's for the page (1252
// is built in), turned into tables at first use, so a conversion never calls iconv, takes no
// lock and never allocates. The explicit number of the ANSI code page means CP_ACP; any other
// code page than CP_ACP, the ANSI page's number and CP_UTF8 fails with ERROR_INVALID_PARAMETER.
//
// Arguments, for both directions:
// - `sourceLength` -1: the source is NUL-terminated and the terminator is converted and counted
//   in the result. Otherwise exactly `sourceLength` units or bytes are converted (embedded NULs
//   as characters) and no terminator is added. A length of 0 or below -1, a null source, a
//   negative capacity, a null destination with a capacity, and a destination that overlaps the
//   source fail with ERROR_INVALID_PARAMETER.
// - `destinationCapacity` 0: nothing is written (`destination` may be null) and the result is
//   the size the conversion needs.
// - Otherwise the result is the units or bytes written. When they do not fit, the result is 0
//   with ERROR_INSUFFICIENT_BUFFER; the destination then holds the leading characters that fit
//   (never a split character, never more than the capacity, no terminator added). Callers must
//   not rely on that partial text.
// - A result that would not fit in an int fails with ERROR_INVALID_PARAMETER.
// - `flags` must be 0 (no flag is emulated); anything else fails with ERROR_INVALID_FLAGS.

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

/// Decodes `source` to UTF-16. A sequence of the ANSI code page that the page leaves undefined
/// decodes to U+FFFD, with two exceptions that Windows' tables make as well: a single byte in
/// 0x80..0x9F that the page does not define decodes to the C1 control of the same value (1252's
/// 0x81, 0x8D, 0x8F, 0x90 and 0x9D, 932's 0x80), and so round-trips. A lead byte of a double-byte
/// page followed by a byte outside the page's trail range (or by nothing) decodes to one U+FFFD
/// and the byte after it is decoded on its own, so an ASCII delimiter is never swallowed; a lead
/// byte and a trail byte that form no character decode to one U+FFFD together.
OXWIN_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                                  LPWSTR destination, int destinationCapacity);
/// Encodes `source` from UTF-16. With the ANSI code page, each character the page cannot hold
/// (a surrogate pair counts as one character, an unpaired surrogate as one) becomes '?', and
/// `*usedDefaultChar` is then TRUE (FALSE otherwise) when `usedDefaultChar` is not null; no
/// best-fit mapping is ever made. `defaultChar` must be null (another default character is not
/// emulated), and with CP_UTF8 so must `usedDefaultChar`, as on Windows; ERROR_INVALID_PARAMETER
/// otherwise.
OXWIN_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength,
                                  LPSTR destination, int destinationCapacity, LPCSTR defaultChar,
                                  BOOL* usedDefaultChar);
/// Whether `byte` opens a two-byte character in the ANSI code page: 0x81..0x9F and 0xE0..0xFC
/// for 932, 0x81..0xFE for 936, 949 and 950, never for single-byte pages and UTF-8.
OXWIN_API BOOL IsDBCSLeadByte(BYTE byte);
/// The ANSI code page in force (1252 unless OX_ANSI_CODEPAGE names another), read once.
OXWIN_API UINT GetACP();

// ---------------------------------------------------------------------------------------------
// C runtime text functions over UTF-16
//
// The C library's functions under the process's current C locale (setlocale), after widening
// UTF-16 to wchar_t: a surrogate pair becomes its code point, an unpaired surrogate keeps its
// value. Narrow (_mbs...) text is in the ANSI code page and is decoded with MultiByteToWideChar
// first. Results are below, equal to or above 0 as with the C library; only their sign counts.
// A null text counts as the empty text. None of them takes a lock, and texts are widened in
// temporary buffers (TemporaryBuffer.h), so short texts never allocate; should a long text find
// no memory, code-point order stands in for the collation.

/// Collation of the current locale (LC_COLLATE).
OXWIN_API int wcscoll(const WCHAR* a, const WCHAR* b);
/// Collation of both texts after lower-casing every character (towlower, LC_CTYPE).
OXWIN_API int _wcsicoll(const WCHAR* a, const WCHAR* b);
/// Code-point order after lower-casing every character (towlower, LC_CTYPE); no collation.
OXWIN_API int _wcsicmp(const WCHAR* a, const WCHAR* b);
/// wcscoll of the decoded texts.
OXWIN_API int _mbscoll(const unsigned char* a, const unsigned char* b);
/// _wcsicoll of the decoded texts.
OXWIN_API int _mbsicoll(const unsigned char* a, const unsigned char* b);
/// Byte order (unsigned bytes): a double-byte character compares as its lead and trail byte.
OXWIN_API int _mbscmp(const unsigned char* a, const unsigned char* b);
/// _wcsicmp of the decoded texts: zero exactly when they are equal but for case.
OXWIN_API int _mbsicmp(const unsigned char* a, const unsigned char* b);
/// Whether the unit is a decimal digit in the current locale (iswdigit; glibc: 0-9 only). A
/// surrogate is not.
OXWIN_API int iswdigit(WCHAR c);
/// wcstol in base 10 of the text (leading blanks and a sign allowed), clamped to the int range;
/// 0 when no digits start it.
OXWIN_API int _wtoi(const WCHAR* text);
/// A copy of the text from the C runtime heap (release it with free); null for null or when the
/// allocation fails.
OXWIN_API WCHAR* _wcsdup(const WCHAR* text);

// ---------------------------------------------------------------------------------------------
// Formatted print
//
// One printf-style formatter over UTF-16 text serves every print routine. A conversion is
// %[flags][width][.precision][length]conversion with the flags - + space # 0, widths and
// precisions as digits or `*`, the lengths hh h l ll L j z t of this platform (l is 64 bits)
// and the runtime's I32, I64, I (pointer-sized) and w. `d i u x X o` print integers, `f F e E
// g G a A` floating point with the C library's digits, `s`/`c` UTF-16 text and units (`hs`,
// `hc`, `S`, `C`: narrow UTF-8 text, each ill-formed sequence one U+FFFD), `p` 16 upper-case hex
// digits; a precision bounds how much of a text is read; null text prints "(null)"; `n` takes
// its argument and writes nothing; `%%` is one `%`; an unknown or unfinished directive prints
// itself. Output never touches the heap except for floating-point text over 512 bytes.

/// Receives the formatted text in pieces of at most 256 units; a non-zero answer stops the
/// formatting.
using PFORMAT_SINK = int (*)(void* context, const WCHAR* piece, unsigned int unitCount);

/// The layer's own entry to the formatter: hands the text to `sink` (a null sink only counts)
/// and returns the units handed over, at most INT_MAX; 0 for a null format.
OXWIN_API int FormatOutputW(PFORMAT_SINK sink, void* context, const WCHAR* format, va_list arguments);
/// The units the formatted text needs, without its terminator; -1 for a null format.
OXWIN_API int _scwprintf(const WCHAR* format, ...);
/// Prints into `buffer` of `count` units and returns the units written, without the
/// terminator. A null buffer, a count of 0 or above INT_MAX, a null format and a text that does
/// not fit with its terminator are invalid arguments: the answer is -1 and the buffer (when
/// there is one) holds the empty text. No invalid-parameter handler is run.
OXWIN_API int swprintf_s(WCHAR* buffer, SIZE_T count, const WCHAR* format, ...);

// ---------------------------------------------------------------------------------------------
// String resources
//
// A module's string table is what its host registered for it with RegisterStringTable; there
// are no resource sections to read. Lookups and registrations are serialised by one lock.

/// One string of a module's string table.
struct STRING_RESOURCE {
    UINT id;
    LPCWSTR text; // null counts as empty
};
/// Gives `module` the string table `strings[0..count)`, replacing the table it had (pointers
/// that LoadStringW handed out for the old table become invalid). Texts are copied; a later
/// entry with the same id replaces an earlier one. `count` 0 removes the module's table. A null
/// module is ignored. Windows reads string tables from resource sections and has no such call:
/// here hosts register their modules' strings, picking any distinct non-null handle for a
/// module, for example the address of one of their own objects.
OXWIN_API void RegisterStringTable(HINSTANCE module, const STRING_RESOURCE* strings, SIZE_T count);

/// Copies string `id` of `module` into `buffer`: at most `bufferMax` - 1 units, then a
/// terminator; returns the units copied without the terminator (a longer string is cut, so a
/// result of `bufferMax` - 1 may mean it did not fit). `bufferMax` 0: instead writes a read-only
/// pointer to the string into the buffer argument (taken as `const WCHAR**`) and returns the
/// string's whole length; the pointed-to text is terminated here, but Windows callers must not
/// rely on that, and it stays valid until the module's table is registered anew or removed.
/// 0 with ERROR_RESOURCE_DATA_NOT_FOUND when the module has no table, ERROR_RESOURCE_NAME_NOT_FOUND
/// when the table has no string `id`, ERROR_INVALID_PARAMETER for a null buffer or a negative
/// `bufferMax`; an empty string gives 0 too. Whenever `bufferMax` > 0 and `buffer` is not null,
/// the buffer is terminated, also on failure.
OXWIN_API int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax);

// Modules
//
// A module counts only while it is loaded; nothing here ever loads one. "X.dll" is looked for
// among the loaded objects as "X.dll" and as "libX.so", file names compared without regard to
// ASCII letter case, as Windows compares module names.

/// The handle of the loaded module of that file name. Null with ERROR_MOD_NOT_FOUND when no such
/// module is loaded (a null name, a path or a name without its extension included: the main
/// program and lookups by path are not emulated). The handle takes no reference: it stays valid
/// while the module stays loaded.
OXWIN_API HMODULE GetModuleHandleW(LPCWSTR moduleName);
/// The address of the export `procName` (a name; ordinals are not emulated) of `module`. Null
/// with ERROR_INVALID_HANDLE for a null module, ERROR_PROC_NOT_FOUND for a name the module does
/// not export.
OXWIN_API void* GetProcAddress(HMODULE module, LPCSTR procName);

// ---------------------------------------------------------------------------------------------
// Process and thread ids

/// getpid(), asked of the system once per process (a forked child asks again).
OXWIN_API DWORD GetCurrentProcessId();
/// gettid(), asked of the system once per thread.
OXWIN_API DWORD GetCurrentThreadId();

// ---------------------------------------------------------------------------------------------
// Event tracing: providers
//
// An in-process event-tracing system. Providers register under a GUID and write events; trace
// sessions (started through the consumer interface below) enable a provider by level and keyword
// mask and receive, synchronously on the writing thread, each written event they enable.
//
// Whether a session enables an event: the event's level is at most the session's level (a
// session level of 0 enables every level), and the event's keyword mask is 0 or shares a bit with
// the session's match-any mask. EventEnabled is true when some session enables the event.
//
// Everything here is safe to call from any thread. A write that no session enables reads two
// words of the provider's record and returns: no lock, no allocation, no system call.

using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;
using ULONGLONG = std::uint64_t;
using BOOLEAN = std::uint8_t;
using PVOID = void*;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);
using LPCGUID = const GUID*;

/// A provider's registration; 0 is never a valid one.
using REGHANDLE = std::uint64_t;

/// The constant part of an event: what it is, for the system and for sessions to filter on.
struct EVENT_DESCRIPTOR {
    USHORT Id;
    UCHAR Version;
    UCHAR Channel;
    UCHAR Level;
    UCHAR Opcode;
    USHORT Task;
    ULONGLONG Keyword;
};
static_assert(sizeof(EVENT_DESCRIPTOR) == 16);

/// One payload field: `Size` bytes at address `Ptr`.
struct EVENT_DATA_DESCRIPTOR {
    ULONGLONG Ptr;
    ULONG Size;
    ULONG Reserved;
};
static_assert(sizeof(EVENT_DATA_DESCRIPTOR) == 16);

struct EVENT_FILTER_DESCRIPTOR {
    ULONGLONG Ptr;
    ULONG Size;
    ULONG Type;
};

inline constexpr ULONG EVENT_CONTROL_CODE_DISABLE_PROVIDER = 0;
inline constexpr ULONG EVENT_CONTROL_CODE_ENABLE_PROVIDER = 1;

/// Told of each session that enables the provider (IsEnabled 1, with that session's level and
/// match-any mask; MatchAllKeyword is 0) and of each that stops (IsEnabled 0, level and masks 0).
/// Called on the thread that starts or stops the session, after the change took effect, so
/// EventEnabled already answers for it; calls are serialised with each other.
using PENABLECALLBACK = void (*)(LPCGUID SourceId, ULONG IsEnabled, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                 ULONGLONG MatchAllKeyword, EVENT_FILTER_DESCRIPTOR* FilterData,
                                 PVOID CallbackContext);

/// Most fields one event may carry, and most payload bytes (the system's 64 KB less the header
/// it adds to every event).
inline constexpr ULONG MAX_EVENT_DATA_DESCRIPTORS = 128;
inline constexpr ULONG MAX_EVENT_PAYLOAD_SIZE = 65536 - 80;

/// Registers a provider for the rest of the process (ending a registration is not emulated) and
/// writes its handle to `*RegHandle` (0 on failure). Sessions already
/// started for `ProviderId` enable it at once: `EnableCallback` (may be null) is called for each
/// of them before EventRegister returns. One GUID may be registered more than once. Answers
/// ERROR_SUCCESS, ERROR_INVALID_PARAMETER for a null GUID or handle pointer, or
/// ERROR_NO_SYSTEM_RESOURCES when the process holds 64 registrations already.
OXWIN_API ULONG EventRegister(LPCGUID ProviderId, PENABLECALLBACK EnableCallback, PVOID CallbackContext,
                              REGHANDLE* RegHandle);
/// Whether some session enables the event for this provider. FALSE for an invalid handle or a
/// null descriptor.
OXWIN_API BOOLEAN EventEnabled(REGHANDLE RegHandle, const EVENT_DESCRIPTOR* EventDescriptor);
/// Hands the event to every session that enables it. ERROR_SUCCESS also when none does (the event
/// is dropped); ERROR_INVALID_HANDLE for an invalid handle, ERROR_INVALID_PARAMETER for a null
/// descriptor, more than MAX_EVENT_DATA_DESCRIPTORS fields or fields without data,
/// ERROR_ARITHMETIC_OVERFLOW when the fields add up to more than MAX_EVENT_PAYLOAD_SIZE bytes;
/// a refused event reaches no session. The fields themselves are looked at only when some session
/// may want the event: a write nobody wants returns ERROR_SUCCESS without reading them.
OXWIN_API ULONG EventWrite(REGHANDLE RegHandle, const EVENT_DESCRIPTOR* EventDescriptor, ULONG UserDataCount,
                           EVENT_DATA_DESCRIPTOR* UserData);

// ---------------------------------------------------------------------------------------------
// Event tracing: trace sessions (the consumer side)
//
// A session enables one provider GUID with a level and a match-any keyword mask until it is
// stopped. Starting and stopping call the enable callbacks of the providers registered under
// that GUID, as the system does. At most 64 sessions run at a time.

/// One event as a session receives it. Valid only during the callback: copy what is kept.
struct TRACE_EVENT_RECORD {
    LPCGUID ProviderId;
    const EVENT_DESCRIPTOR* Descriptor;
    ULONGLONG Timestamp; // nanoseconds of CLOCK_MONOTONIC, taken once per write
    DWORD ProcessId;
    DWORD ThreadId; // the writing thread (gettid)
    ULONG FieldCount;
    const EVENT_DATA_DESCRIPTOR* Fields; // FieldCount fields, in the order written
};

/// Receives each event the session enables, on the writing thread, possibly on several threads
/// at once. It may write events and start or stop sessions.
using PTRACE_EVENT_CALLBACK = void (*)(const TRACE_EVENT_RECORD* Event, PVOID Context);

/// A running session; 0 is never a valid one.
using TRACEHANDLE = std::uint64_t;

/// Starts a session for `ProviderId` (level 0 enables every level) that hands events to
/// `Callback`. Returns its handle, or 0 with ERROR_INVALID_PARAMETER for a null GUID or
/// callback, or ERROR_NO_SYSTEM_RESOURCES when 64 sessions are running.
OXWIN_API TRACEHANDLE StartTraceSession(LPCGUID ProviderId, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                        PTRACE_EVENT_CALLBACK Callback, PVOID Context);
/// Stops the session. When it returns, the session's callback will not be called again and is
/// running on no other thread (a callback may stop its own session; it then finishes its own
/// call). FALSE with ERROR_INVALID_HANDLE for a handle that is not running.
OXWIN_API BOOL StopTraceSession(TRACEHANDLE Session);

// ---------------------------------------------------------------------------------------------
// Process, modules and files

/// The pseudo handle of the calling process: (HANDLE)-1, never closed.
OXWIN_API HANDLE GetCurrentProcess();
/// Ends the process at once with `exitCode` (_exit: no atexit handler, no destructor, no flush).
/// Only the current process can be ended: FALSE with ERROR_ACCESS_DENIED for any other handle.
OXWIN_API BOOL TerminateProcess(HANDLE process, UINT exitCode);
/// The path of `module`'s file (null: the executable, from /proc/self/exe). Copies at most
/// `size` - 1 units and a terminator and returns the units copied; when the path does not fit it
/// is cut, the result is `size` and the last error ERROR_INSUFFICIENT_BUFFER. 0 with
/// ERROR_MOD_NOT_FOUND when the path cannot be read.
OXWIN_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
/// The arguments of /proc/self/cmdline joined by single blanks, an argument holding a blank in
/// double quotes, or what test::setCommandLine installed. The text lives for the process.
OXWIN_API LPCWSTR GetCommandLineW();

inline constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;
/// The process's error mode is only stored (no system box exists to suppress); returns the
/// previous mode. GetErrorMode answers the stored one.
OXWIN_API UINT SetErrorMode(UINT mode);
OXWIN_API UINT GetErrorMode();

inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
/// FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL for what `path` names (stat);
/// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND when nothing is there.
OXWIN_API DWORD GetFileAttributesW(LPCWSTR path);

/// Hands `text` to the debug-output sink: a test's capture when installed, else standard error
/// (as UTF-8) when OX_DEBUG_OUTPUT is set, else nowhere.
OXWIN_API void OutputDebugStringW(LPCWSTR text);
/// raise(SIGTRAP): stops in an attached debugger; without one the process ends.
OXWIN_API void DebugBreak();

/// A malloc'd copy of the variable's value in `*buffer` (release it with free) and its length
/// with the terminator in `*count` (may be null); `*buffer` null and `*count` 0 when it is not
/// set. EINVAL for a null buffer pointer or name, ENOMEM when the copy cannot be made.
OXWIN_API errno_t _wdupenv_s(WCHAR** buffer, SIZE_T* count, const WCHAR* name);
/// Sets a variable from "NAME=value"; "NAME=" removes it. 0, or -1 for text without "=".
OXWIN_API int _wputenv(const WCHAR* assignment);

using LCID = DWORD;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr DWORD NORM_IGNORECASE = 0x0001;
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;
/// Compares `count1` and `count2` units (-1: up to the terminator) with wcscoll, or _wcsicoll
/// under NORM_IGNORECASE, in the process's C locale whatever `locale` says. CSTR_LESS_THAN,
/// CSTR_EQUAL or CSTR_GREATER_THAN; 0 with ERROR_INVALID_FLAGS for other flags, or with
/// ERROR_INVALID_PARAMETER for a null text.
OXWIN_API int CompareStringW(LCID locale, DWORD flags, LPCWSTR text1, int count1, LPCWSTR text2, int count2);

// Privileges: the process never needs one here. Each call succeeds and changes nothing.
struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x0002;
/// `*token` receives a handle that CloseHandle accepts.
OXWIN_API BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
OXWIN_API BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid);
/// Leaves the last error ERROR_SUCCESS, as Windows does when every privilege was adjusted.
OXWIN_API BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                                     DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                                     DWORD* returnLength);

// ---------------------------------------------------------------------------------------------
// The local clock
//
// The process's own view of local time: the machine's local time plus an offset that
// SetLocalTime sets, so changing the time changes it for this process only and never the
// machine's clock. OX_LOCAL_TIME ("YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS", read at the first
// call) starts the process at that local time.

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek; // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

OXWIN_API void GetLocalTime(SYSTEMTIME* time);
/// Makes the clock read `time` now and run on from there (wDayOfWeek is ignored). FALSE with
/// ERROR_INVALID_PARAMETER, nothing changed, for a null pointer or a date or time that does not
/// exist (years 1601 to 30827).
OXWIN_API BOOL SetLocalTime(const SYSTEMTIME* time);

// ---------------------------------------------------------------------------------------------
// Named kernel objects: file mappings and semaphores shared between processes
//
// Each named object is a file in the directory that OX_NAMED_OBJECT_DIR names (read at the first
// use; /dev/shm by default) called "<kind>.<uid>.<name>". An object lives exactly while some
// handle of some process refers to it, as on Windows: every handle holds a shared lock on the
// file that the kernel drops when the handle closes or its process dies, and a create that finds
// no other holder starts the object anew (zero-filled, or with the new semaphore count), whatever
// a killed process left there. The last handle to close removes the file. Every handle is closed
// with CloseHandle.

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});
inline constexpr DWORD FILE_MAP_WRITE = 0x0002;
inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

/// A named mapping backed by memory (`file` must be INVALID_HANDLE_VALUE, `protect`
/// PAGE_READWRITE, `name` non-empty: ERROR_INVALID_PARAMETER otherwise). A new one has
/// `sizeLow` zero bytes (`sizeHigh` must be 0) and the last error ERROR_SUCCESS; an existing one
/// keeps its size and contents, with ERROR_ALREADY_EXISTS. Null with ERROR_ACCESS_DENIED when the
/// object's file cannot be opened. `attributes` is ignored.
OXWIN_API HANDLE CreateFileMappingW(HANDLE file, void* attributes, DWORD protect, DWORD sizeHigh,
                                    DWORD sizeLow, LPCWSTR name);
/// A new handle of the existing mapping `name`; null with ERROR_FILE_NOT_FOUND when no process
/// holds one.
OXWIN_API HANDLE OpenFileMappingW(DWORD access, BOOL inheritHandle, LPCWSTR name);
/// Maps `bytes` (0: the whole mapping) from the start of the mapping, shared with every other
/// view of it. The offset must be 0 (ERROR_INVALID_PARAMETER); more bytes than the mapping holds
/// give null with ERROR_ACCESS_DENIED.
OXWIN_API LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
/// FALSE with ERROR_INVALID_ADDRESS for an address that is not a view's start.
OXWIN_API BOOL UnmapViewOfFile(LPCVOID address);

/// A named semaphore with `initialCount` of `maximumCount` (0 <= initial <= maximum, maximum
/// >= 1, name non-empty: ERROR_INVALID_PARAMETER otherwise). An existing one keeps its count, with
/// ERROR_ALREADY_EXISTS.
OXWIN_API HANDLE CreateSemaphoreW(void* attributes, LONG initialCount, LONG maximumCount, LPCWSTR name);
/// Takes one count of a semaphore, waiting at most `milliseconds` (INFINITE: no limit):
/// WAIT_OBJECT_0 or WAIT_TIMEOUT; WAIT_FAILED with ERROR_INVALID_HANDLE for another handle.
OXWIN_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
/// Adds `count` to the semaphore; `*previousCount` (may be null) receives the count before.
/// FALSE with ERROR_TOO_MANY_POSTS, nothing changed, when that would pass the maximum.
OXWIN_API BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previousCount);
/// Closes a mapping, semaphore or token handle; a view still mapped keeps its mapping alive until
/// it is unmapped. FALSE with ERROR_INVALID_HANDLE for null and INVALID_HANDLE_VALUE (the
/// current-process pseudo handle).
OXWIN_API BOOL CloseHandle(HANDLE handle);

// ---------------------------------------------------------------------------------------------
// User interface: message boxes, the Shift key, the thread's message queue
//
// There are no windows. A message box is answered by, in this order: the responder a test
// installed (test::setMessageBoxResponder); OX_MESSAGE_BOX_ANSWER (a button name, "ok", "cancel",
// "abort", "retry", "ignore", "yes", "no", or its number; "+shift" after it holds Shift down for
// the answer); a prompt on the terminal when standard input and standard error are both
// terminals ("!" in the answer holds Shift down); otherwise the box fails and answers 0, as a
// box with no desktop does.

struct HWND__;
using HWND = HWND__*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using SHORT = std::int16_t;
struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_TASKMODAL = 0x2000;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT PM_REMOVE = 0x1;

/// The answer (IDOK ... IDNO) of the box's buttons (the low four bits of `type`), or 0 when the
/// box could not be shown. `owner` is ignored. Sets the Shift key's state as the answer says.
OXWIN_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
/// There are no windows: null.
OXWIN_API HWND GetActiveWindow();
/// `window` itself.
OXWIN_API HWND GetLastActivePopup(HWND window);
/// For VK_SHIFT, a negative value while the Shift switch is down; 0 otherwise.
OXWIN_API SHORT GetAsyncKeyState(int virtualKey);
/// Posts to the calling thread's queue (`window` must be null: ERROR_INVALID_WINDOW_HANDLE
/// otherwise); FALSE with ERROR_NOT_ENOUGH_MEMORY when it holds 64 messages already.
OXWIN_API BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// The oldest message of the calling thread's queue with a number in [filterMin, filterMax]
/// (both 0: any), removed with PM_REMOVE; FALSE when there is none. `window` must be null.
OXWIN_API BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage);

} // namespace win
