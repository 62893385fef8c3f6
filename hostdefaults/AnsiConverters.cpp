// hostdefaults/AnsiConverters.cpp: placeholder
