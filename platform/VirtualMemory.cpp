// platform/VirtualMemory.cpp: placeholder
