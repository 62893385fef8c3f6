// tests/heap/HeapReportTest.cpp: placeholder
