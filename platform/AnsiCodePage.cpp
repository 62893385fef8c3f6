// platform/AnsiCodePage.cpp: placeholder
