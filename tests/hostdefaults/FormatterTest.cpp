// tests/hostdefaults/FormatterTest.cpp: placeholder
