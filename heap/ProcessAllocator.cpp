// heap/ProcessAllocator.cpp: placeholder
