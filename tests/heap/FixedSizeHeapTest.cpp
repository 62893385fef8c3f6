// tests/heap/FixedSizeHeapTest.cpp: placeholder
