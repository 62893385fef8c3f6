// rx/FatalReport.cpp: placeholder
