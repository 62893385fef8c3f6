// heap/HeapFrontEnd.cpp: placeholder
