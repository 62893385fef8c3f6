// startup/StartupMessages.cpp
// What the start-up checks share besides the names: the module that holds their message texts
// (the database module's, found through its export), the message box built from those texts,
// the test for an embedding launch and the rewrite of PATH.

#include "diagnostics/BoundedText.h"
#include "startup/Startup.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

namespace oxstartup {
namespace {

constexpr win::UINT kTitleText = 15935;
constexpr int kTextCapacity = 2047;
constexpr std::size_t kPathEntryCapacity = 260;

constinit std::atomic<win::HINSTANCE> gResourceModule{nullptr};

bool isBlank(OXCHAR c)
{
    return c == u' ' || c == u'\t';
}

// PATH's entries are separated by ":" on this platform, where Windows uses ";".
constexpr OXCHAR kPathSeparator = u':';

// Whether the directory `entry` (`length` units, terminated, room for 260) holds the graphics
// module, under its Windows or its ELF file name.
bool holdsGraphicsModule(OXCHAR* entry, std::size_t length)
{
    if (length == 0 || (entry[length - 1] != u'\\' && entry[length - 1] != u'/'))
        entry[length++] = u'/';
    for (const std::string_view fileName : {"oxgs.dll", "liboxgs.so"}) {
        if (length + fileName.size() >= kPathEntryCapacity)
            continue;
        for (std::size_t i = 0; i < fileName.size(); ++i)
            entry[length + i] = static_cast<OXCHAR>(fileName[i]);
        entry[length + fileName.size()] = 0;
        if (win::GetFileAttributesW(entry) != win::INVALID_FILE_ATTRIBUTES)
            return true;
    }
    return false;
}

} // namespace

win::HINSTANCE resourceModule()
{
    if (win::HINSTANCE cached = gResourceModule.load())
        return cached;
    using ResourceHandleFunction = win::HINSTANCE (*)();
    win::HMODULE database = win::GetModuleHandleW(u"oxdb20.dll");
    if (database == nullptr)
        return nullptr;
    // The export under each decoration of this platform: the C name, then the C++ one.
    for (const char* name : {"oxdbResourceHandle", "_Z18oxdbResourceHandlev"})
        if (auto function = reinterpret_cast<ResourceHandleFunction>(win::GetProcAddress(database, name))) {
            win::HINSTANCE module = function();
            gResourceModule.store(module);
            return module;
        }
    return nullptr;
}

int showStartupMessage(win::UINT textId, win::UINT boxType, ...)
{
    win::HINSTANCE module = resourceModule();
    OXCHAR textFormat[kTextCapacity];
    OXCHAR titleFormat[kTextCapacity];
    if (module == nullptr || win::LoadStringW(module, textId, textFormat, kTextCapacity) == 0 ||
        win::LoadStringW(module, kTitleText, titleFormat, kTextCapacity) == 0)
        return 0;
    OXCHAR text[kTextCapacity];
    oxdiag::BoundedText textBuilder(text, kTextCapacity);
    va_list arguments;
    va_start(arguments, boxType);
    textBuilder.appendFormat(textFormat, arguments);
    va_end(arguments);
    OXCHAR title[kTextCapacity];
    oxdiag::BoundedText titleBuilder(title, kTextCapacity);
    titleBuilder.appendFormatted(titleFormat, 21, gpProductName);
    return win::MessageBoxW(nullptr, text, title, boxType);
}

bool isEmbeddingLaunch()
{
    static constexpr char16_t kSwitch[] = u"Embedding";
    const OXCHAR* p = win::GetCommandLineW();
    while (p != nullptr && *p != 0) {
        while (isBlank(*p))
            ++p;
        const OXCHAR* word = p;
        while (*p != 0 && !isBlank(*p))
            ++p;
        if (p - word == 10 && (word[0] == u'-' || word[0] == u'/') &&
            std::char_traits<char16_t>::compare(word + 1, kSwitch, 9) == 0)
            return true;
    }
    return false;
}

void rewritePath()
{
    OXCHAR* path = nullptr;
    if (win::_wdupenv_s(&path, nullptr, u"PATH") != 0 || path == nullptr)
        return;
    std::u16string kept = u"PATH=";
    bool dropped = false;
    for (const OXCHAR* p = path; *p != 0;) {
        if (*p == kPathSeparator) {
            kept += *p++;
            continue;
        }
        // One entry: up to the next separator outside double quotes, read without its quotes.
        const OXCHAR* start = p;
        OXCHAR entry[kPathEntryCapacity];
        std::size_t length = 0;
        for (bool quoted = false; *p != 0 && (quoted || *p != kPathSeparator); ++p) {
            if (*p == u'"')
                quoted = !quoted;
            else if (length < kPathEntryCapacity - 1)
                entry[length++] = *p;
            else
                ++length;
        }
        if (length > 258) {
            kept += start; // an entry this long ends the walk; the rest stays as it was
            break;
        }
        entry[length] = 0;
        if (holdsGraphicsModule(entry, length))
            dropped = true;
        else
            kept.append(start, p);
    }
    if (dropped)
        win::_wputenv(kept.c_str());
    std::free(path);
}

} // namespace oxstartup
