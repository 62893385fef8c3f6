// heap/StackHeap.cpp: placeholder
