// tests/platform/CriticalSectionTest.cpp: placeholder
