// startup/LoadOrder.cpp: placeholder
