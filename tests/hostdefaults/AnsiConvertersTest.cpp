// tests/hostdefaults/AnsiConvertersTest.cpp: placeholder
