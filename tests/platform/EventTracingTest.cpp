// tests/platform/EventTracingTest.cpp: placeholder
