// heap/HostMemoryManager.cpp
// The memory manager and heap the managed runtime is given. Reference counts change
// atomically; the shared malloc object is cached without a lock (a race of two first
// CreateMalloc calls costs one extra heap, never a wrong answer).

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxHostMemoryManager.h>

#include "platform/win.h"

#include <new>

using namespace OxClr;

namespace {

// The common part of Release: the count after the decrement, deleting the object at 0.
template <typename Object>
ULONG release(Object* object, std::atomic<std::uint32_t>& references)
{
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete object;
        return 0;
    }
    return references.load(std::memory_order_relaxed);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// COxHostMalloc

COxHostMalloc::COxHostMalloc() noexcept : mReferences(0), mHeap(oxHeapCreate(0)) {}

COxHostMalloc::~COxHostMalloc()
{
    if (mHeap != nullptr)
        win::HeapDestroy(mHeap);
    mHeap = nullptr;
}

HRESULT COxHostMalloc::QueryInterface(const IID& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IHostMalloc)
        return E_NOINTERFACE;
    *object = static_cast<IHostMalloc*>(this);
    AddRef();
    return S_OK;
}

ULONG COxHostMalloc::AddRef()
{
    return mReferences.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG COxHostMalloc::Release()
{
    return release(this, mReferences);
}

HRESULT COxHostMalloc::Alloc(SIZE_T size, EMemoryCriticalLevel, void** memory)
{
    if (memory == nullptr)
        return E_POINTER;
    *memory = nullptr;
    if (mHeap == nullptr)
        return E_FAIL;
    *memory = oxHeapAlloc(mHeap, size);
    return *memory != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT COxHostMalloc::DebugAlloc(SIZE_T size, EMemoryCriticalLevel criticalLevel, char*, int, void** memory)
{
    return Alloc(size, criticalLevel, memory);
}

HRESULT COxHostMalloc::Free(void* memory)
{
    if (memory == nullptr)
        return S_OK;
    if (mHeap == nullptr)
        return E_FAIL;
    oxHeapFree(mHeap, memory);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// COxHostMemoryManager

COxHostMemoryManager::COxHostMemoryManager() noexcept : mReferences(0), mpMalloc(nullptr) {}

COxHostMemoryManager::~COxHostMemoryManager()
{
    if (mpMalloc != nullptr)
        mpMalloc->Release();
}

HRESULT COxHostMemoryManager::QueryInterface(const IID& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IHostMemoryManager)
        return E_NOINTERFACE;
    *object = static_cast<IHostMemoryManager*>(this);
    AddRef();
    return S_OK;
}

ULONG COxHostMemoryManager::AddRef()
{
    return mReferences.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG COxHostMemoryManager::Release()
{
    return release(this, mReferences);
}

HRESULT COxHostMemoryManager::CreateMalloc(DWORD, IHostMalloc** malloc)
{
    if (malloc == nullptr)
        return E_POINTER;
    *malloc = nullptr;
    if (mpMalloc == nullptr) {
        auto* created = new (std::nothrow) COxHostMalloc;
        if (created == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = created->QueryInterface(IID_IHostMalloc, reinterpret_cast<void**>(&mpMalloc));
        if (result != S_OK) {
            delete created;
            return result;
        }
    }
    *malloc = mpMalloc;
    mpMalloc->AddRef();
    return S_OK;
}

HRESULT COxHostMemoryManager::VirtualAlloc(void* address, SIZE_T size, DWORD allocationType, DWORD protect,
                                           EMemoryCriticalLevel, void** memory)
{
    if (memory == nullptr)
        return E_POINTER;
    *memory = win::VirtualAlloc(address, size, allocationType, protect);
    return *memory != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT COxHostMemoryManager::VirtualFree(void* address, SIZE_T size, DWORD freeType)
{
    return win::VirtualFree(address, size, freeType) == 1 ? S_OK : E_FAIL;
}

HRESULT COxHostMemoryManager::VirtualQuery(void* address, void* buffer, SIZE_T length, SIZE_T* result)
{
    if (result == nullptr || buffer == nullptr)
        return E_POINTER;
    *result = win::VirtualQuery(address, static_cast<win::MEMORY_BASIC_INFORMATION*>(buffer), length);
    return S_OK;
}

HRESULT COxHostMemoryManager::VirtualProtect(void* address, SIZE_T size, DWORD newProtect, DWORD* oldProtect)
{
    if (oldProtect == nullptr)
        return E_POINTER;
    return win::VirtualProtect(address, size, newProtect, oldProtect) == 1 ? S_OK : E_FAIL;
}

HRESULT COxHostMemoryManager::GetMemoryLoad(DWORD* memoryLoad, SIZE_T* availableBytes)
{
    if (memoryLoad == nullptr || availableBytes == nullptr)
        return E_POINTER;
    win::MEMORYSTATUS status{};
    win::GlobalMemoryStatus(&status);
    *memoryLoad = status.dwMemoryLoad;
    *availableBytes = status.dwAvailVirtual;
    return S_OK;
}

HRESULT COxHostMemoryManager::RegisterMemoryNotificationCallback(ICLRMemoryNotificationCallback*)
{
    return S_OK;
}

HRESULT COxHostMemoryManager::NeedsVirtualAddressSpace(void*, SIZE_T)
{
    return S_OK;
}

HRESULT COxHostMemoryManager::AcquiredVirtualAddressSpace(void*, SIZE_T)
{
    return S_OK;
}

HRESULT COxHostMemoryManager::ReleasedVirtualAddressSpace(void*)
{
    return S_OK;
}

bool oxCreateCLRHostMemoryManager(void** result) noexcept
{
    if (result == nullptr)
        return false;
    *result = nullptr;
    auto* manager = new (std::nothrow) COxHostMemoryManager;
    if (manager == nullptr)
        return false;
    if (manager->QueryInterface(IID_IHostMemoryManager, result) != S_OK) {
        delete manager;
        return false;
    }
    return true;
}
