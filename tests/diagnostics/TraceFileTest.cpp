// tests/diagnostics/TraceFileTest.cpp: placeholder
