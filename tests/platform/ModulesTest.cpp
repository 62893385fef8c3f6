// tests/platform/ModulesTest.cpp: placeholder
