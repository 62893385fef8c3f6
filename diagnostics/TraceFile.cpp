// diagnostics/TraceFile.cpp: placeholder
