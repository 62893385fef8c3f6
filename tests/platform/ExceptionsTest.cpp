// tests/platform/ExceptionsTest.cpp: placeholder
