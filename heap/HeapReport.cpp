// heap/HeapReport.cpp: placeholder
