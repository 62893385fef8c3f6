// tests/startup/VersionEmulationTest.cpp: placeholder
