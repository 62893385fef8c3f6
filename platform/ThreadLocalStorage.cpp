// platform/ThreadLocalStorage.cpp: placeholder
