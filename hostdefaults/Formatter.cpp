// hostdefaults/Formatter.cpp: placeholder
