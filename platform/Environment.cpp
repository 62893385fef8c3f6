// platform/Environment.cpp: placeholder
