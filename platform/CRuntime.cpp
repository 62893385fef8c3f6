// platform/CRuntime.cpp: placeholder
