// tests/diagnostics/PerfLogWritersTest.cpp: placeholder
