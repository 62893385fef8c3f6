// heap/TlsDestructors.cpp: placeholder
