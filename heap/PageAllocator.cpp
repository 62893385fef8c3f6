// heap/PageAllocator.cpp: placeholder
