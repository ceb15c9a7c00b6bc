#include "platform/Heap.h"

namespace korbu::platform {

// The Windows heap has no such settings (how it serves libclamav was not measured).
void KeepFreedMemoryForReuse() {}

}  // namespace korbu::platform
