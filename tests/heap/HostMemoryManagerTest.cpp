// tests/heap/HostMemoryManagerTest.cpp: placeholder
