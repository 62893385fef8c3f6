// tests/platform/NamedObjectsTest.cpp
// Named mappings and semaphores within one process; their life across killed processes is the
// session tests' (tests/startup).

#include "platform/PlatformTest.h"

#include <filesystem>

using namespace win;

// Guards against a second create starting the object anew instead of joining it, a semaphore
// counting past its maximum or a wait that neither takes a count nor times out, and an object
// or its file outliving its last handle.
TEST(NamedObjects, LiveWhileHeldAndKeepTheirState)
{
    std::string folder = std::filesystem::temp_directory_path() / "oxnamed.XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(folder.data()));
    test::setNamedObjectDirectory(folder.c_str());
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, u"s");
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    HANDLE again = CreateSemaphoreW(nullptr, 1, 1, u"s");
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(again, 20));
    EXPECT_EQ(0u, oxtest::errorOf(ReleaseSemaphore(semaphore, 1, nullptr)));
    EXPECT_EQ(ERROR_TOO_MANY_POSTS, oxtest::errorOf(ReleaseSemaphore(again, 1, nullptr)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(again, 0));

    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, u"m");
    auto* written = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    written[15] = 'x';
    HANDLE opened = OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"m");
    auto* read = static_cast<char*>(MapViewOfFile(opened, FILE_MAP_WRITE, 0, 0, 16));
    EXPECT_EQ('x', read[15]);
    EXPECT_TRUE(UnmapViewOfFile(written) && UnmapViewOfFile(read));
    for (HANDLE handle : {semaphore, again, mapping, opened})
        EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, oxtest::errorOf(OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"m")));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove(folder);
}
