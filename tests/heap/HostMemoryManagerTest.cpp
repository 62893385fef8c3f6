// tests/heap/HostMemoryManagerTest.cpp
// The managed runtime's memory manager and heap: interfaces, references, results, system calls.

#include <oxfirst/OxHostMemoryManager.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace OxClr;

// Each object answers two interfaces (clearing the result otherwise); one malloc object serves
// every CreateMalloc from a private heap that goes when the manager and every caller let it go.
TEST(HostMemoryManager, OneMallocServesEveryRequestAndLivesWhileReferenced)
{
    void* object = nullptr;
    ASSERT_TRUE(!oxCreateCLRHostMemoryManager(nullptr) && oxCreateCLRHostMemoryManager(&object));
    auto* manager = static_cast<IHostMemoryManager*>(object);
    EXPECT_TRUE(manager->QueryInterface(IID_IHostMalloc, &object) == E_NOINTERFACE && object == nullptr);
    ASSERT_EQ(S_OK, manager->QueryInterface(IID_IUnknown, &object));
    EXPECT_TRUE(object == manager && static_cast<IUnknown*>(object)->Release() == 1u);

    const win::DWORD heapsBefore = win::GetProcessHeaps(0, nullptr);
    IHostMalloc *first = nullptr, *second = nullptr;
    ASSERT_TRUE(manager->CreateMalloc(MALLOC_THREADSAFE, &first) == S_OK &&
                manager->CreateMalloc(MALLOC_EXECUTABLE, &second) == S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IHostMemoryManager, &object));
    void *block = nullptr, *tracked = nullptr, *tooBig = &tooBig;
    char file[] = "Runtime.cpp";
    ASSERT_TRUE(first->Alloc(100, eProcessCritical, &block) == S_OK &&
                first->DebugAlloc(32, eAppDomainCritical, file, 7, &tracked) == S_OK);
    std::memset(block, 0x42, 100);
    EXPECT_NE(block, tracked);
    EXPECT_TRUE(first->Alloc(SIZE_MAX / 2, eTaskCritical, &tooBig) == E_OUTOFMEMORY && tooBig == nullptr);
    for (void* p : {block, tracked, static_cast<void*>(nullptr)})
        EXPECT_EQ(S_OK, first->Free(p));

    EXPECT_TRUE(first->Release() == 2u && second->Release() == 1u);
    EXPECT_EQ(heapsBefore + 1, win::GetProcessHeaps(0, nullptr));
    EXPECT_EQ(0u, manager->Release()); // the manager's reference was the last one
    EXPECT_EQ(heapsBefore, win::GetProcessHeaps(0, nullptr));
}

// System calls pass through; a null out-parameter answers E_POINTER, refusals E_OUTOFMEMORY or E_FAIL.
TEST(HostMemoryManager, SystemOperationsPassThrough)
{
    void* object = nullptr;
    ASSERT_TRUE(oxCreateCLRHostMemoryManager(&object));
    auto* manager = static_cast<IHostMemoryManager*>(object);
    auto virtualAlloc = [manager](void* address, SIZE_T size, DWORD type, void** memory) {
        return manager->VirtualAlloc(address, size, type, win::PAGE_READWRITE, eTaskCritical, memory);
    };
    void *memory = nullptr, *page = nullptr;
    EXPECT_EQ(E_POINTER, virtualAlloc(nullptr, 4096, win::MEM_COMMIT, nullptr));
    ASSERT_EQ(S_OK, virtualAlloc(nullptr, 65536, win::MEM_RESERVE, &memory));
    ASSERT_EQ(S_OK, virtualAlloc(memory, 4096, win::MEM_COMMIT, &page));
    EXPECT_EQ(E_OUTOFMEMORY, virtualAlloc(nullptr, 0, win::MEM_COMMIT, &page));
    win::MEMORY_BASIC_INFORMATION info{};
    SIZE_T answered = 0;
    ASSERT_EQ(S_OK, manager->VirtualQuery(memory, &info, sizeof info, &answered));
    EXPECT_TRUE(answered == sizeof info && info.State == win::MEM_COMMIT);
    DWORD old = 0;
    EXPECT_TRUE(manager->VirtualProtect(memory, 4096, win::PAGE_READONLY, &old) == S_OK &&
                old == win::PAGE_READWRITE);
    EXPECT_EQ(E_FAIL,
              manager->VirtualProtect(static_cast<char*>(memory) + 8192, 4096, win::PAGE_READONLY, &old));
    EXPECT_EQ(E_FAIL, manager->VirtualFree(static_cast<char*>(memory) + 4096, 0, win::MEM_RELEASE));
    EXPECT_EQ(S_OK, manager->VirtualFree(memory, 0, win::MEM_RELEASE));
    DWORD load = 1000;
    SIZE_T available = 0;
    ASSERT_EQ(S_OK, manager->GetMemoryLoad(&load, &available));
    EXPECT_TRUE(load <= 100u && available > 0u);
    EXPECT_EQ(0u, manager->Release());
}

} // namespace
