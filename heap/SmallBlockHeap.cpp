// heap/SmallBlockHeap.cpp: placeholder
