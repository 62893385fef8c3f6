// tests/platform/TextCodecTest.cpp: placeholder
