// tests/heap/NamedHeapsTest.cpp: placeholder
