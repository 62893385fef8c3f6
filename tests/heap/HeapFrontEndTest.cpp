// tests/heap/HeapFrontEndTest.cpp: placeholder
