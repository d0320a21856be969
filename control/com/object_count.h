// The count of live objects of the module (controls and the enumerators they hand out), which
// with the server locks decides whether DllCanUnloadNow lets the module go.
#pragma once

namespace wendrix::com {

void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();

}  // namespace wendrix::com
