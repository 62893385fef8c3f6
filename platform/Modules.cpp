// platform/Modules.cpp: placeholder
