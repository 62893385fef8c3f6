// tests/hostdefaults/HostDefaultsTest.cpp: placeholder
