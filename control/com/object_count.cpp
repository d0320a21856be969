#include "control/com/object_count.h"

#include <atomic>

namespace wendrix::com {
namespace {

std::atomic<long> g_objects{0};

}  // namespace

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
long LiveObjects() { return g_objects; }

}  // namespace wendrix::com
