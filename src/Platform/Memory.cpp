#include "Platform/Memory.h"

#include <cstdlib> // defines __GLIBC__ where it applies

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Platform {

void tuneAllocator()
{
#if defined(__GLIBC__)
    // Replies and received chunks are short-lived blocks of tens of KiB. By default the
    // allocator gives the top of the heap back to the kernel as soon as such a block is
    // freed and takes it again for the next one; every give-back unmaps pages and flushes
    // the TLB on each CPU the process ran on, which under a router's flood of replies kept
    // the UI thread busy for 100 ms at a time. Freed memory is now kept for reuse up to a
    // bound, and blocks up to 4 MiB come from the heap instead of mappings of their own, which
    // would be unmapped the same way. Fixed thresholds also stop the allocator from raising
    // them on its own after a large block.
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
#endif
}

qint64 heapInUse()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    return 0;
#endif
}

} // namespace Platform
