// rx/TypeSysCallbacks.cpp: placeholder
