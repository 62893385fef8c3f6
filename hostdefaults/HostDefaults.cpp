// hostdefaults/HostDefaults.cpp: placeholder
