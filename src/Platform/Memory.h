#pragma once

#include <QtGlobal>

namespace Platform {

// Sets the C allocator up for a process that streams router data: call once, first thing
// in main(), before any other thread starts.
void tuneAllocator();

// Bytes the C allocator has handed out and not yet taken back; 0 where it cannot tell.
qint64 heapInUse();

} // namespace Platform
