// hostdefaults/FatalErrorHandler.cpp: placeholder
