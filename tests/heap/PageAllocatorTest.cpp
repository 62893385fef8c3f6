// tests/heap/PageAllocatorTest.cpp: placeholder
