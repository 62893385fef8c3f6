// oxfirst/oxfirst.h
// Everything a host or module of the application uses from liboxfirst.
#pragma once

#include <oxfirst/OxFirstExport.h>
#include <oxfirst/OxHeap.h>
#include <oxfirst/OxHeapInfo.h>
#include <oxfirst/OxHostMemoryManager.h>
#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxString.h>
#include <oxfirst/OxTypes.h>
#include <oxfirst/PerfLog.h>
