#pragma once
// One request's response buffer, byte count, OVERLAPPED and event in one heap block, so that a
// request its driver never completes can be left the whole block to complete into. Blocks are
// kept for later requests with their events, which each request's start resets.
#include <windows.h>

#include "../common/guards.h"
#include "driver_packet.h"

struct RequestBlock {
    SLIST_ENTRY link;  // first, at the heap's alignment, as the block lists need it
    OVERLAPPED overlapped;
    DriverResponsePacket response;
    DWORD reportedCount;
};

// A kept block or a new one, zeroed but for its manual-reset event; null with the error when
// none can be made.
RequestBlock *TakeRequestBlock();
// Keeps a block whose request is not in flight for a later request.
BOOL ReturnRequestBlock(RequestBlock *block);
// Leaves a block to its pending request, and frees those left earlier whose requests have completed.
void AbandonRequestBlock(RequestBlock *block);
// At unload: frees the kept blocks and the abandoned ones whose requests have completed.
void FreeRequestBlocks();

struct RequestBlockTraits {
    using Type = RequestBlock *;
    static RequestBlock *Empty() { return nullptr; }
    static BOOL Close(RequestBlock *block) { return ReturnRequestBlock(block); }
};

using UniqueRequestBlock = UniqueResource<RequestBlockTraits>;
