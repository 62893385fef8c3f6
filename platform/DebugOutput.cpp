// platform/DebugOutput.cpp: placeholder
