// hostdefaults/HostDefaults.cpp
// The one call that gives a host every default of liboxhost.

#include <oxfirst/OxHostDefaults.h>

void oxInstallHostDefaults()
{
    OxRxTypeSysCallbacks::setCallback_fmtout(oxHostFormat);
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(oxHostMultiByteToWideChar);
    OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(oxHostWideCharToMultiByte);
    OxRxTypeSysCallbacks::setCallback_fatalError(oxHostFatalError);
}
