// diagnostics/PerfProvider.cpp: placeholder
