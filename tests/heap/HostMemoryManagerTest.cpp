// tests/heap/HostMemoryManagerTest.cpp
// The managed runtime's memory manager and heap: interface ids, reference counts, result codes
// and what each operation passes on to the system.

#include <oxfirst/OxHostMemoryManager.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

using namespace OxClr;

class HostMemoryManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        void* object = nullptr;
        ASSERT_TRUE(oxCreateCLRHostMemoryManager(&object));
        mManager = static_cast<IHostMemoryManager*>(object);
    }
    void TearDown() override
    {
        if (mManager != nullptr) {
            EXPECT_EQ(0u, mManager->Release());
        }
    }

    HRESULT virtualAlloc(void* address, SIZE_T size, DWORD type, void** memory)
    {
        return mManager->VirtualAlloc(address, size, type, win::PAGE_READWRITE, eTaskCritical, memory);
    }

    IHostMemoryManager* mManager = nullptr;
};

// The manager starts with the factory's one reference (the factory refuses a null result); it
// answers for IUnknown and its own interface only, clearing the result otherwise.
TEST_F(HostMemoryManager, ReferencesAndInterfaces)
{
    EXPECT_FALSE(oxCreateCLRHostMemoryManager(nullptr));
    EXPECT_EQ(2u, mManager->AddRef());
    EXPECT_EQ(1u, mManager->Release());
    void* object = &object;
    EXPECT_EQ(E_NOINTERFACE, mManager->QueryInterface(IID_IHostMalloc, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, mManager->QueryInterface(IID_IUnknown, nullptr));
    ASSERT_EQ(S_OK, mManager->QueryInterface(IID_IUnknown, &object));
    EXPECT_EQ(mManager, object);
    EXPECT_EQ(1u, static_cast<IUnknown*>(object)->Release());
}

// One malloc object serves every CreateMalloc, whatever type is asked for, with blocks from its
// own private heap and the result codes of the contract; it keeps its heap until both the
// manager and every caller have let it go, and its heap goes with it.
TEST_F(HostMemoryManager, OneMallocServesEveryRequest)
{
    const win::DWORD heapsBefore = win::GetProcessHeaps(0, nullptr);
    EXPECT_EQ(E_POINTER, mManager->CreateMalloc(MALLOC_THREADSAFE, nullptr));
    IHostMalloc* first = nullptr;
    IHostMalloc* second = nullptr;
    ASSERT_EQ(S_OK, mManager->CreateMalloc(MALLOC_THREADSAFE, &first));
    ASSERT_EQ(S_OK, mManager->CreateMalloc(MALLOC_EXECUTABLE, &second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(heapsBefore + 1, win::GetProcessHeaps(0, nullptr));

    void* object = nullptr;
    EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IHostMemoryManager, &object));
    EXPECT_EQ(S_OK, first->QueryInterface(IID_IHostMalloc, &object));
    EXPECT_EQ(first, object);

    EXPECT_EQ(E_POINTER, first->Alloc(16, eTaskCritical, nullptr));
    void* block = nullptr;
    ASSERT_EQ(S_OK, first->Alloc(100, eProcessCritical, &block));
    std::memset(block, 0x42, 100);
    void* tracked = nullptr;
    char file[] = "Runtime.cpp";
    ASSERT_EQ(S_OK, first->DebugAlloc(32, eAppDomainCritical, file, 7, &tracked));
    EXPECT_NE(block, tracked);
    void* tooBig = &tooBig;
    EXPECT_EQ(E_OUTOFMEMORY, first->Alloc(SIZE_MAX / 2, eTaskCritical, &tooBig));
    EXPECT_EQ(nullptr, tooBig);
    for (void* p : {block, tracked, static_cast<void*>(nullptr)})
        EXPECT_EQ(S_OK, first->Free(p));

    EXPECT_EQ(3u, first->Release());
    EXPECT_EQ(2u, second->Release());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(heapsBefore + 1, win::GetProcessHeaps(0, nullptr));
    EXPECT_EQ(0u, std::exchange(mManager, nullptr)->Release()); // the manager's reference was the last one
    EXPECT_EQ(heapsBefore, win::GetProcessHeaps(0, nullptr));
}

// Virtual memory and the memory load go to the system as asked; null out-parameters answer
// E_POINTER, and refusals map to E_OUTOFMEMORY and E_FAIL. The notifications are accepted.
TEST_F(HostMemoryManager, SystemOperationsPassThrough)
{
    void* memory = nullptr;
    void* page = nullptr;
    EXPECT_EQ(E_POINTER, virtualAlloc(nullptr, 4096, win::MEM_COMMIT, nullptr));
    ASSERT_EQ(S_OK, virtualAlloc(nullptr, 65536, win::MEM_RESERVE, &memory));
    ASSERT_EQ(S_OK, virtualAlloc(memory, 4096, win::MEM_COMMIT, &page));
    EXPECT_EQ(E_OUTOFMEMORY, virtualAlloc(nullptr, 0, win::MEM_COMMIT, &page));

    win::MEMORY_BASIC_INFORMATION info{};
    SIZE_T answered = 0;
    EXPECT_EQ(E_POINTER, mManager->VirtualQuery(memory, nullptr, sizeof info, &answered));
    EXPECT_EQ(E_POINTER, mManager->VirtualQuery(memory, &info, sizeof info, nullptr));
    ASSERT_EQ(S_OK, mManager->VirtualQuery(memory, &info, sizeof info, &answered));
    EXPECT_TRUE(answered == sizeof info && info.State == win::MEM_COMMIT);

    DWORD old = 0;
    auto* base = static_cast<char*>(memory);
    EXPECT_EQ(E_POINTER, mManager->VirtualProtect(memory, 4096, win::PAGE_READONLY, nullptr));
    EXPECT_EQ(S_OK, mManager->VirtualProtect(memory, 4096, win::PAGE_READONLY, &old));
    EXPECT_EQ(win::PAGE_READWRITE, old);
    EXPECT_EQ(E_FAIL, mManager->VirtualProtect(base + 8192, 4096, win::PAGE_READONLY, &old));
    EXPECT_EQ(E_FAIL, mManager->VirtualFree(base + 4096, 0, win::MEM_RELEASE));
    EXPECT_EQ(S_OK, mManager->VirtualFree(memory, 0, win::MEM_RELEASE));

    DWORD load = 1000;
    SIZE_T available = 0;
    EXPECT_EQ(E_POINTER, mManager->GetMemoryLoad(nullptr, &available));
    EXPECT_EQ(E_POINTER, mManager->GetMemoryLoad(&load, nullptr));
    ASSERT_EQ(S_OK, mManager->GetMemoryLoad(&load, &available));
    EXPECT_TRUE(load <= 100u && available > 0u);
    EXPECT_EQ(S_OK, mManager->RegisterMemoryNotificationCallback(nullptr));
    EXPECT_EQ(S_OK, mManager->NeedsVirtualAddressSpace(nullptr, 4096));
    EXPECT_EQ(S_OK, mManager->AcquiredVirtualAddressSpace(nullptr, 4096));
    EXPECT_EQ(S_OK, mManager->ReleasedVirtualAddressSpace(nullptr));
}

} // namespace
