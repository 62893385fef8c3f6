// platform/Heaps.cpp: placeholder
