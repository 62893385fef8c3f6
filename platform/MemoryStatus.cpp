// platform/MemoryStatus.cpp: placeholder
