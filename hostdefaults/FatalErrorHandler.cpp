// hostdefaults/FatalErrorHandler.cpp
// The console host's fatal-error policy: the message goes to standard error as UTF-8 and the
// process aborts. The conversion is done here, in stack-sized pieces, rather than through the
// platform layer's codec, so that the handler has no dependency that could itself fail or
// allocate while the process is in trouble.

#include <oxfirst/OxHostDefaults.h>

#include <cstdio>
#include <cstdlib>

namespace {

class StandardErrorWriter {
public:
    void put(char32_t codePoint)
    {
        if (sizeof mBytes - mFill < 4)
            flush();
        if (codePoint < 0x80) {
            mBytes[mFill++] = static_cast<char>(codePoint);
        } else if (codePoint < 0x800) {
            mBytes[mFill++] = static_cast<char>(0xC0 | (codePoint >> 6));
            mBytes[mFill++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            mBytes[mFill++] = static_cast<char>(0xE0 | (codePoint >> 12));
            mBytes[mFill++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            mBytes[mFill++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            mBytes[mFill++] = static_cast<char>(0xF0 | (codePoint >> 18));
            mBytes[mFill++] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            mBytes[mFill++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            mBytes[mFill++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        }
    }

    void flush()
    {
        // Nothing can be done about a failed write on the way to abort; the bytes are dropped.
        if (mFill > 0)
            std::fwrite(mBytes, 1, mFill, stderr);
        mFill = 0;
    }

private:
    char mBytes[256];
    std::size_t mFill = 0; // bytes in mBytes not yet written; a code point needs at most 4
};

} // namespace

void oxHostFatalError(const OXCHAR* message)
{
    StandardErrorWriter writer;
    for (const OXCHAR* p = message; p != nullptr && *p != 0; ++p) {
        char32_t unit = *p;
        if (unit >= 0xD800 && unit <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            writer.put(0x10000 + ((unit - 0xD800) << 10) + (p[1] - 0xDC00));
            ++p;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            writer.put(0xFFFD); // a surrogate without its partner has no UTF-8 form
        } else {
            writer.put(unit);
        }
    }
    writer.put(U'\n');
    writer.flush();
    std::fflush(stderr);
    std::abort();
}
