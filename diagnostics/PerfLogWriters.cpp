// diagnostics/PerfLogWriters.cpp: placeholder
