// tests/platform/ThreadsTest.cpp: placeholder
