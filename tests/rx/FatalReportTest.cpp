// tests/rx/FatalReportTest.cpp: placeholder
