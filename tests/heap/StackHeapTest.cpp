// tests/heap/StackHeapTest.cpp: placeholder
