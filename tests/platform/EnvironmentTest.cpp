// tests/platform/EnvironmentTest.cpp: placeholder
