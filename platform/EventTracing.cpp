// platform/EventTracing.cpp: placeholder
