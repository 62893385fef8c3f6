// platform/ProcessExit.cpp: placeholder
