// oxfirst/oxfirst.h
// Everything a host or module of the application uses from liboxfirst.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxAssert.h>
#include <oxfirst/OxFirstExport.h>
#include <oxfirst/OxHeap.h>
#include <oxfirst/OxHeapInfo.h>
#include <oxfirst/OxHostMemoryManager.h>
#include <oxfirst/OxRxAttribute.h>
#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxCopyOnWriteObject.h>
#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxObject.h>
#include <oxfirst/OxRxOverrule.h>
#include <oxfirst/OxRxPimpl.h>
#include <oxfirst/OxRxProperty.h>
#include <oxfirst/OxRxSet.h>
#include <oxfirst/OxRxTextString.h>
#include <oxfirst/OxRxValue.h>
#include <oxfirst/OxStartup.h>
#include <oxfirst/OxString.h>
#include <oxfirst/OxTypes.h>
#include <oxfirst/PerfLog.h>
