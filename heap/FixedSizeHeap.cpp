// heap/FixedSizeHeap.cpp: placeholder
