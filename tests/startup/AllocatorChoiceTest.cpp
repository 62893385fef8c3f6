// tests/startup/AllocatorChoiceTest.cpp: placeholder
