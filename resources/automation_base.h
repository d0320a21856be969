// What the header widl generates from Wendrix.idl imports as automation_base.idl: the real
// OLE Automation and control declarations of the platform.
#pragma once

#include <ocidl.h>
#include <olectl.h>
