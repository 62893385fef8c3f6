// tests/platform/HeapsTest.cpp: placeholder
