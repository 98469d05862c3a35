#pragma once

namespace Platform {

// Sets the C allocator up for a process that streams router data: call once, first thing
// in main(), before any other thread starts.
void tuneAllocator();

} // namespace Platform
