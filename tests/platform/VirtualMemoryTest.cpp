// tests/platform/VirtualMemoryTest.cpp: placeholder
