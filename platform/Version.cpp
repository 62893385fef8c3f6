// platform/Version.cpp: placeholder
