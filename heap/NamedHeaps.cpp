// heap/NamedHeaps.cpp: placeholder
