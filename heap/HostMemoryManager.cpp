// heap/HostMemoryManager.cpp: placeholder
