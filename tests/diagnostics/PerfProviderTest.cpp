// tests/diagnostics/PerfProviderTest.cpp: placeholder
