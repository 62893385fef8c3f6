// tests/heap/SmallBlockHeapTest.cpp: placeholder
