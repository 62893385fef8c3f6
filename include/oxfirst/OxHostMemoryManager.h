// oxfirst/OxHostMemoryManager.h
// A memory manager a host hands to the managed runtime it starts, so the runtime takes its
// memory from the host: virtual memory straight from the system, heap memory from one private
// heap. The runtime's hosting interfaces are declared here as abstract classes with the
// runtime's operations, in its order, and its interface ids.
#pragma once

#include <oxfirst/OxFirstExport.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace OxClr {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using SIZE_T = std::size_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

struct GUID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;

/// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
/// {7BC698D1-F9E3-4460-9CDE-D04248E9FA25}
inline constexpr IID IID_IHostMemoryManager{
    0x7BC698D1, 0xF9E3, 0x4460, {0x9C, 0xDE, 0xD0, 0x42, 0x48, 0xE9, 0xFA, 0x25}};
/// {1831991C-CC53-4A31-B218-04E910446479}
inline constexpr IID IID_IHostMalloc{
    0x1831991C, 0xCC53, 0x4A31, {0xB2, 0x18, 0x04, 0xE9, 0x10, 0x44, 0x64, 0x79}};

/// How badly the runtime needs an allocation (ignored here).
enum EMemoryCriticalLevel : std::int32_t {
    eTaskCritical = 0,
    eAppDomainCritical = 1,
    eProcessCritical = 2,
};

/// How the runtime wants a heap (ignored here: one heap serves every kind).
enum MALLOC_TYPE : std::int32_t {
    MALLOC_THREADSAFE = 0x1,
    MALLOC_EXECUTABLE = 0x2,
};

enum EMemoryAvailable : std::int32_t {
    eMemoryAvailableLow = 1,
    eMemoryAvailableNeutral = 2,
    eMemoryAvailableHigh = 3,
};

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class ICLRMemoryNotificationCallback : public IUnknown {
public:
    virtual HRESULT OnMemoryNotification(EMemoryAvailable level) = 0;

protected:
    ~ICLRMemoryNotificationCallback() = default;
};

class IHostMalloc : public IUnknown {
public:
    virtual HRESULT Alloc(SIZE_T size, EMemoryCriticalLevel criticalLevel, void** memory) = 0;
    virtual HRESULT DebugAlloc(SIZE_T size, EMemoryCriticalLevel criticalLevel, char* fileName, int line,
                               void** memory) = 0;
    virtual HRESULT Free(void* memory) = 0;

protected:
    ~IHostMalloc() = default;
};

class IHostMemoryManager : public IUnknown {
public:
    virtual HRESULT CreateMalloc(DWORD mallocType, IHostMalloc** malloc) = 0;
    virtual HRESULT VirtualAlloc(void* address, SIZE_T size, DWORD allocationType, DWORD protect,
                                 EMemoryCriticalLevel criticalLevel, void** memory) = 0;
    virtual HRESULT VirtualFree(void* address, SIZE_T size, DWORD freeType) = 0;
    virtual HRESULT VirtualQuery(void* address, void* buffer, SIZE_T length, SIZE_T* result) = 0;
    virtual HRESULT VirtualProtect(void* address, SIZE_T size, DWORD newProtect, DWORD* oldProtect) = 0;
    virtual HRESULT GetMemoryLoad(DWORD* memoryLoad, SIZE_T* availableBytes) = 0;
    virtual HRESULT RegisterMemoryNotificationCallback(ICLRMemoryNotificationCallback* callback) = 0;
    virtual HRESULT NeedsVirtualAddressSpace(void* startAddress, SIZE_T size) = 0;
    virtual HRESULT AcquiredVirtualAddressSpace(void* startAddress, SIZE_T size) = 0;
    virtual HRESULT ReleasedVirtualAddressSpace(void* startAddress) = 0;

protected:
    ~IHostMemoryManager() = default;
};

} // namespace OxClr

/// The runtime's heap: one private heap (growable, low-fragmentation) made at construction and
/// destroyed, with every block still in it, when the last reference goes.
class OXFIRST_API COxHostMalloc : public OxClr::IHostMalloc {
public:
    COxHostMalloc() noexcept;
    virtual ~COxHostMalloc();
    COxHostMalloc(const COxHostMalloc&) = delete;
    COxHostMalloc& operator=(const COxHostMalloc&) = delete;

    /// E_POINTER for a null `object`; IUnknown and IHostMalloc take a reference, anything else
    /// gives E_NOINTERFACE (and `*object` null).
    OxClr::HRESULT QueryInterface(const OxClr::IID& iid, void** object) override;
    /// The count after the change. Release deletes the object when the count falls to 0.
    OxClr::ULONG AddRef() override;
    OxClr::ULONG Release() override;
    /// A block of `size` bytes from the heap, retried through the new handler. E_POINTER for a
    /// null `memory`, E_FAIL without a heap, E_OUTOFMEMORY when the heap refuses.
    OxClr::HRESULT Alloc(OxClr::SIZE_T size, OxClr::EMemoryCriticalLevel criticalLevel,
                         void** memory) override;
    /// Alloc; the file and line are ignored.
    OxClr::HRESULT DebugAlloc(OxClr::SIZE_T size, OxClr::EMemoryCriticalLevel criticalLevel, char* fileName,
                              int line, void** memory) override;
    /// S_OK for null; E_FAIL without a heap.
    OxClr::HRESULT Free(void* memory) override;

private:
    std::atomic<std::uint32_t> mReferences;
    void* mHeap;
};

/// The runtime's memory manager: virtual memory from the system as asked, and one shared
/// COxHostMalloc for every heap the runtime wants.
class OXFIRST_API COxHostMemoryManager : public OxClr::IHostMemoryManager {
public:
    COxHostMemoryManager() noexcept;
    /// Releases the shared COxHostMalloc, if any.
    virtual ~COxHostMemoryManager();
    COxHostMemoryManager(const COxHostMemoryManager&) = delete;
    COxHostMemoryManager& operator=(const COxHostMemoryManager&) = delete;

    /// E_POINTER for a null `object`; IUnknown and IHostMemoryManager take a reference,
    /// anything else gives E_NOINTERFACE (and `*object` null).
    OxClr::HRESULT QueryInterface(const OxClr::IID& iid, void** object) override;
    OxClr::ULONG AddRef() override;
    OxClr::ULONG Release() override;
    /// The shared COxHostMalloc (made on first call) with a reference for the caller, whatever
    /// the type. E_POINTER for a null `malloc`, E_OUTOFMEMORY when it cannot be made. Two first
    /// calls racing on two threads may each make one.
    OxClr::HRESULT CreateMalloc(OxClr::DWORD mallocType, OxClr::IHostMalloc** malloc) override;
    /// The system's VirtualAlloc; E_OUTOFMEMORY when it refuses, E_POINTER for a null `memory`.
    OxClr::HRESULT VirtualAlloc(void* address, OxClr::SIZE_T size, OxClr::DWORD allocationType,
                                OxClr::DWORD protect, OxClr::EMemoryCriticalLevel criticalLevel,
                                void** memory) override;
    /// The system's VirtualFree; E_FAIL when it refuses.
    OxClr::HRESULT VirtualFree(void* address, OxClr::SIZE_T size, OxClr::DWORD freeType) override;
    /// The system's VirtualQuery into `buffer` (a memory-information record), its answer in
    /// `*result`. E_POINTER for a null `buffer` or `result`.
    OxClr::HRESULT VirtualQuery(void* address, void* buffer, OxClr::SIZE_T length,
                                OxClr::SIZE_T* result) override;
    /// The system's VirtualProtect; E_FAIL when it refuses, E_POINTER for a null `oldProtect`.
    OxClr::HRESULT VirtualProtect(void* address, OxClr::SIZE_T size, OxClr::DWORD newProtect,
                                  OxClr::DWORD* oldProtect) override;
    /// The percentage of physical memory in use and the bytes of address space still free.
    OxClr::HRESULT GetMemoryLoad(OxClr::DWORD* memoryLoad, OxClr::SIZE_T* availableBytes) override;
    // These four do nothing and return S_OK.
    OxClr::HRESULT
    RegisterMemoryNotificationCallback(OxClr::ICLRMemoryNotificationCallback* callback) override;
    OxClr::HRESULT NeedsVirtualAddressSpace(void* startAddress, OxClr::SIZE_T size) override;
    OxClr::HRESULT AcquiredVirtualAddressSpace(void* startAddress, OxClr::SIZE_T size) override;
    OxClr::HRESULT ReleasedVirtualAddressSpace(void* startAddress) override;

private:
    std::atomic<std::uint32_t> mReferences;
    OxClr::IHostMalloc* mpMalloc;
};

/// A new COxHostMemoryManager with one reference, as IHostMemoryManager in `*result`. False
/// for a null `result`, and when the manager cannot be made (`*result` is then null).
OXFIRST_API bool oxCreateCLRHostMemoryManager(void** result) noexcept;
