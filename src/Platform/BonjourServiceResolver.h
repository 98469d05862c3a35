#pragma once

#include "Platform/TcpConnection.h"

// Resolves the service endpoints of TCP connections through the mDNS daemon. The
// resolution runs on the calling thread's event loop (a connection's queue) and gives up
// after `timeoutMs`; the connection then keeps waiting and tries again.
ServiceResolver bonjourServiceResolver(int timeoutMs = 5000);
