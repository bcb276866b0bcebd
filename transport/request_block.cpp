#include "request_block.h"

#include <string.h>

// Zeroed headers are empty lists. Kept blocks number at most the most requests ever in flight
// at once; abandoned ones stay until their requests complete.
static SLIST_HEADER g_kept;
static SLIST_HEADER g_abandoned;

static RequestBlock *CreateRequestBlock()
{
    void *memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(RequestBlock));
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    RequestBlock *block = static_cast<RequestBlock *>(memory);
    block->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (block->overlapped.hEvent == nullptr) {
        DWORD error = GetLastError();
        HeapFree(GetProcessHeap(), 0, block);
        SetLastError(error);
        return nullptr;
    }
    return block;
}

static void FreeRequestBlock(RequestBlock *block)
{
    CloseHandle(block->overlapped.hEvent);
    HeapFree(GetProcessHeap(), 0, block);
}

RequestBlock *TakeRequestBlock()
{
    SLIST_ENTRY *entry = InterlockedPopEntrySList(&g_kept);
    if (entry == nullptr) return CreateRequestBlock();
    RequestBlock *block = CONTAINING_RECORD(entry, RequestBlock, link);
    HANDLE event = block->overlapped.hEvent;
    memset(block, 0, sizeof(*block));
    block->overlapped.hEvent = event;
    return block;
}

BOOL ReturnRequestBlock(RequestBlock *block)
{
    InterlockedPushEntrySList(&g_kept, &block->link);
    return TRUE;
}

// The system signals the event after its last write into the block.
static bool RequestCompleted(const RequestBlock *block)
{
    return WaitForSingleObject(block->overlapped.hEvent, 0) == WAIT_OBJECT_0;
}

static void FreeCompletedAbandonedBlocks()
{
    SLIST_ENTRY *entry = InterlockedFlushSList(&g_abandoned);
    while (entry != nullptr) {
        RequestBlock *block = CONTAINING_RECORD(entry, RequestBlock, link);
        entry = entry->Next;
        if (RequestCompleted(block)) {
            FreeRequestBlock(block);
        } else {
            InterlockedPushEntrySList(&g_abandoned, &block->link);
        }
    }
}

void AbandonRequestBlock(RequestBlock *block)
{
    FreeCompletedAbandonedBlocks();
    InterlockedPushEntrySList(&g_abandoned, &block->link);
}

void FreeRequestBlocks()
{
    SLIST_ENTRY *entry = InterlockedFlushSList(&g_kept);
    while (entry != nullptr) {
        RequestBlock *block = CONTAINING_RECORD(entry, RequestBlock, link);
        entry = entry->Next;
        FreeRequestBlock(block);
    }
    FreeCompletedAbandonedBlocks();
}
