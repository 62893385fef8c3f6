// platform/NamedObjects.cpp
// Named file mappings and semaphores shared between processes, with Windows' lifetime: an
// object exists exactly while some process holds a handle to it. Each object is a file; each
// handle is an open file description holding a shared OFD lock on the file's byte 0, which the
// kernel drops when the handle closes or its process dies. Whether anyone else holds the object
// is decided under an exclusive lock on byte 1 (the gate): a create that gets byte 0 exclusively
// is alone and starts the object anew, whatever a killed process left in the file, and a close
// that gets it exclusively is the last one and removes the file. A handle that opened a file
// the last holder removed meanwhile sees the path name another inode (or none) and opens again.

#include "platform/TestControls.h"
#include "platform/Utf16.h"
#include "platform/win.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace win {
namespace {

enum class Kind : std::uint32_t { mapping = 0x6d617031, semaphore = 0x73656d31 };

// The whole state of a semaphore, in its file. The count is a futex word shared between the
// processes that map it: 0 <= count <= maximum.
struct SemaphoreState {
    std::atomic<std::int32_t> count;
    std::int32_t maximum;
};
static_assert(sizeof(SemaphoreState) == 8 && std::atomic<std::int32_t>::is_always_lock_free);

struct NamedObject {
    Kind kind;
    int fd;
    std::string path;
    SIZE_T size;               // bytes of the object when this handle was made
    SemaphoreState* semaphore; // a semaphore's state, mapped for the handle's life
};

constexpr off_t kHolderByte = 0;
constexpr off_t kGateByte = 1;
constexpr std::size_t kNameLimit = 260;
constexpr int kMaximumViews = 256;

struct View {
    void* address;
    SIZE_T size;
};

// Guards the directory and the view table.
constinit CRITICAL_SECTION gLock{};
constinit std::string* gpDirectory = nullptr;
constinit View gViews[kMaximumViews] = {};

bool lockByte(int fd, short type, off_t byte, bool wait)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// False when the path names another file or none (errno ENOENT then).
bool namesSameFile(int fd, const char* path)
{
    struct stat opened, named;
    errno = 0;
    return ::fstat(fd, &opened) == 0 && ::stat(path, &named) == 0 && opened.st_ino == named.st_ino &&
           opened.st_dev == named.st_dev;
}

// The object's file: "<directory>/<kind>.<uid>.<name>", the name in UTF-8 with "/" as "_".
// False for a null, empty or too long name.
bool pathOf(Kind kind, LPCWSTR name, std::string& path)
{
    if (name == nullptr || name[0] == 0)
        return false;
    char narrow[kNameLimit * 3 + 1];
    const std::size_t length = detail::utf16ToUtf8(name, narrow, sizeof narrow);
    if (length >= sizeof narrow)
        return false;
    for (char* c = narrow; *c != 0; ++c)
        if (*c == '/')
            *c = '_';
    {
        CriticalSectionGuard guard(gLock);
        if (gpDirectory == nullptr) {
            const char* directory = std::getenv("OX_NAMED_OBJECT_DIR");
            gpDirectory = new std::string(directory != nullptr && directory[0] != 0 ? directory : "/dev/shm");
        }
        path = *gpDirectory;
    }
    path += kind == Kind::mapping ? "/mem." : "/sem.";
    path += std::to_string(::getuid()) + "." + narrow;
    return true;
}

// Opens the object as a new holder. When no other process holds it, `create` starts it anew
// with `size` bytes (`initial` written at its start when not null) and `*isNew` is set;
// otherwise the object as it stands is joined. -1 with the last error set on failure.
int openObject(const std::string& path, bool create, SIZE_T size, const void* initial, bool* isNew)
{
    *isNew = false;
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
        if (fd < 0) {
            SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
            return -1;
        }
        if (!lockByte(fd, F_WRLCK, kGateByte, true)) {
            ::close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return -1;
        }
        if (!namesSameFile(fd, path.c_str())) {
            // Removed by its last holder after we opened it: open what the path names now.
            const bool gone = errno == ENOENT;
            ::close(fd);
            if (!create && gone) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return -1;
            }
            continue;
        }
        if (lockByte(fd, F_WRLCK, kHolderByte, false)) {
            // Nobody holds the object: what the file holds is left by holders that died.
            const bool started =
                create && ::ftruncate(fd, 0) == 0 && ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                (initial == nullptr || ::pwrite(fd, initial, size, 0) == static_cast<ssize_t>(size));
            if (!started) {
                ::unlink(path.c_str());
                ::close(fd);
                SetLastError(create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
                return -1;
            }
            *isNew = true;
        }
        lockByte(fd, F_RDLCK, kHolderByte, false); // joins the holders; never refused under the gate
        lockByte(fd, F_UNLCK, kGateByte, false);
        return fd;
    }
}

// A view still mapped keeps the handle's file description, and so its holder lock, alive: the
// object lives on while the view does, as on Windows. The gate is given back explicitly for
// that reason.
void closeObject(int fd, const std::string& path)
{
    lockByte(fd, F_WRLCK, kGateByte, true);
    if (lockByte(fd, F_WRLCK, kHolderByte, false))
        ::unlink(path.c_str()); // the last holder: the object ends with this handle
    lockByte(fd, F_UNLCK, kGateByte, false);
    ::close(fd);
}

SIZE_T fileSize(int fd)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 ? static_cast<SIZE_T>(status.st_size) : 0;
}

HANDLE makeHandle(Kind kind, LPCWSTR name, bool create, SIZE_T size, const void* initial)
{
    auto* object = new (std::nothrow) NamedObject{kind, -1, {}, 0, nullptr};
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool isNew = false;
    if (!pathOf(kind, name, object->path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else if ((object->fd = openObject(object->path, create, size, initial, &isNew)) >= 0) {
        object->size = fileSize(object->fd);
        if (kind == Kind::semaphore && object->size >= sizeof(SemaphoreState)) {
            void* state =
                ::mmap(nullptr, sizeof(SemaphoreState), PROT_READ | PROT_WRITE, MAP_SHARED, object->fd, 0);
            object->semaphore = state == MAP_FAILED ? nullptr : static_cast<SemaphoreState*>(state);
        }
        if (kind == Kind::mapping || object->semaphore != nullptr) {
            SetLastError(isNew ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
            return object;
        }
        closeObject(object->fd, object->path);
        SetLastError(ERROR_INVALID_HANDLE); // a file that holds no semaphore
    }
    delete object;
    return nullptr;
}

NamedObject* objectOf(HANDLE handle, Kind kind)
{
    auto* object = static_cast<NamedObject*>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || handle == detail::kProcessToken ||
        object->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

long futex(std::atomic<std::int32_t>* word, int operation, std::int32_t value, const timespec* timeout)
{
    return ::syscall(SYS_futex, reinterpret_cast<std::int32_t*>(word), operation, value, timeout, nullptr, 0);
}

std::int64_t monotonicMs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

HANDLE CreateFileMappingW(HANDLE file, void*, DWORD protect, DWORD sizeHigh, DWORD sizeLow, LPCWSTR name)
{
    if (file != INVALID_HANDLE_VALUE || protect != PAGE_READWRITE || sizeHigh != 0 || sizeLow == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return makeHandle(Kind::mapping, name, true, sizeLow, nullptr);
}

HANDLE OpenFileMappingW(DWORD, BOOL, LPCWSTR name)
{
    HANDLE handle = makeHandle(Kind::mapping, name, false, 0, nullptr);
    if (handle != nullptr)
        SetLastError(ERROR_SUCCESS);
    return handle;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes)
{
    NamedObject* object = objectOf(mapping, Kind::mapping);
    if (object == nullptr)
        return nullptr;
    if (offsetHigh != 0 || offsetLow != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (bytes == 0)
        bytes = object->size;
    // The file is measured again: a view beyond its end would fault when touched.
    if (bytes > object->size || bytes > fileSize(object->fd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const int protection = PROT_READ | ((access & FILE_MAP_WRITE) != 0 ? PROT_WRITE : 0);
    void* address = ::mmap(nullptr, bytes, protection, MAP_SHARED, object->fd, 0);
    if (address == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    CriticalSectionGuard guard(gLock);
    for (View& view : gViews)
        if (view.address == nullptr) {
            view = {address, bytes};
            return address;
        }
    ::munmap(address, bytes);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL UnmapViewOfFile(LPCVOID address)
{
    CriticalSectionGuard guard(gLock);
    for (View& view : gViews)
        if (address != nullptr && view.address == address) {
            ::munmap(view.address, view.size);
            view = {};
            return TRUE;
        }
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
}

HANDLE CreateSemaphoreW(void*, LONG initialCount, LONG maximumCount, LPCWSTR name)
{
    if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::int32_t initial[2] = {initialCount, maximumCount};
    return makeHandle(Kind::semaphore, name, true, sizeof initial, initial);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    NamedObject* object = objectOf(handle, Kind::semaphore);
    if (object == nullptr)
        return WAIT_FAILED;
    std::atomic<std::int32_t>& count = object->semaphore->count;
    const std::int64_t deadline = monotonicMs() + milliseconds;
    for (;;) {
        std::int32_t value = count.load();
        while (value > 0)
            if (count.compare_exchange_weak(value, value - 1))
                return WAIT_OBJECT_0;
        const std::int64_t left = milliseconds == INFINITE ? 50 : deadline - monotonicMs();
        if (left <= 0)
            return WAIT_TIMEOUT;
        // A slice at a time: a holder that dies leaves no wake-up behind, and none is needed.
        const std::int64_t slice = left < 50 ? left : 50;
        const timespec timeout{static_cast<std::time_t>(slice / 1000),
                               static_cast<long>(slice % 1000) * 1000000};
        futex(&count, FUTEX_WAIT, value, &timeout);
    }
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previousCount)
{
    NamedObject* object = objectOf(semaphore, Kind::semaphore);
    if (object == nullptr)
        return FALSE;
    SemaphoreState& state = *object->semaphore;
    std::int32_t value = state.count.load();
    do {
        if (count < 1 || value > state.maximum - count) {
            SetLastError(count < 1 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
            return FALSE;
        }
    } while (!state.count.compare_exchange_weak(value, value + count));
    if (previousCount != nullptr)
        *previousCount = value;
    futex(&state.count, FUTEX_WAKE, INT_MAX, nullptr);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == detail::kProcessToken)
        return TRUE;
    auto* object = static_cast<NamedObject*>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        (object->kind != Kind::mapping && object->kind != Kind::semaphore)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->semaphore != nullptr)
        ::munmap(object->semaphore, sizeof(SemaphoreState));
    closeObject(object->fd, object->path);
    object->kind = Kind{};
    delete object;
    return TRUE;
}

void test::setNamedObjectDirectory(const char* directory)
{
    CriticalSectionGuard guard(gLock);
    delete gpDirectory;
    gpDirectory = new std::string(directory);
}

} // namespace win
