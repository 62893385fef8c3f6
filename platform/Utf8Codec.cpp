// platform/Utf8Codec.cpp: placeholder
