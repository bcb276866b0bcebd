/*
 * Simulated IMB driver: creates "\\.\imb", answers the send-message request from the
 * simulated BMC, and offers private control requests to the tests. Runs as a plain kernel
 * service (value PlainDevice=1 under its service key) or as the PnP driver of a device node.
 */
#include <ntddk.h>

#include "bmc_model.h"
#include "imb_contract.h"

#define LOG_CAPACITY 4096

typedef struct DeviceExtension {
    DEVICE_OBJECT *lowerDevice; /* null for the plain device */
    BOOLEAN ownsLink;
} DeviceExtension;

static KSPIN_LOCK g_lock;
static BmcModel g_bmc;
static ImbSimBmcConfig g_defaultBmc;
static ImbSimBehaviour g_defaultBehaviour;
static ImbSimBehaviour g_behaviour;
static ImbSimCounters g_counters;
static ImbSimLogEntry g_log[LOG_CAPACITY];
static uint32_t g_logged;
static uint32_t g_random;
static LONG g_deviceNumber;
static DEVICE_OBJECT *g_plainDevice;
static LARGE_INTEGER g_frequency;
/* Held send-message requests, oldest first, linked through Tail.Overlay.ListEntry; under g_lock. */
static LIST_ENTRY g_held;

static int64_t Now(void)
{
    return KeQueryPerformanceCounter(NULL).QuadPart;
}

static int64_t SystemTimeNow(void)
{
    LARGE_INTEGER time;
    KeQuerySystemTime(&time);
    return time.QuadPart;
}

static void SleepMs(uint32_t ms)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -(LONGLONG)ms * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

static void ResetSimulation(void)
{
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    BmcReset(&g_bmc, &g_defaultBmc, g_frequency.QuadPart);
    g_behaviour = g_defaultBehaviour;
    g_logged = 0;
    g_counters.opens = 0;
    g_counters.closes = 0;
    g_counters.sendRequests = 0;
    g_counters.cancelledRequests = 0;
    KeReleaseSpinLock(&g_lock, irql);
}

/* The behaviour for one request, counting it off the active setting. */
static ImbSimBehaviour TakeBehaviour(uint8_t command)
{
    ImbSimBehaviour taken;
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_behaviour.requestCount == 0) g_behaviour = g_defaultBehaviour;
    if ((g_behaviour.fields & IMBSIM_ONLY_COMMAND) && g_behaviour.command != command) {
        taken = g_defaultBehaviour;
    } else if (g_behaviour.skipCount != 0) {
        g_behaviour.skipCount--;
        taken = g_defaultBehaviour;
    } else {
        taken = g_behaviour;
        if (g_behaviour.requestCount != 0 && g_behaviour.requestCount != IMBSIM_EVERY_REQUEST) {
            g_behaviour.requestCount--;
        }
    }
    if (taken.requestCount == 0) taken.fields = 0;
    if (taken.fields & IMBSIM_RANDOM) {
        static const uint8_t codes[] = {0xC0, 0xC1, 0xC3, 0xCC, 0xFF};
        static const uint32_t statuses[] = {IMB_STATUS_BUFFER_TOO_SMALL, IMB_STATUS_BUFFER_TOO_SMALL2,
                                            IMB_STATUS_OVERFLOW, IMB_STATUS_TIMEOUT, 0xC0000001u};
        g_random = g_random * 1103515245u + 12345u;
        uint32_t pick = (g_random >> 16) % 3;
        uint32_t which = (g_random >> 8) % 5;
        taken.fields = 0;
        if (pick == 1) {
            taken.fields = IMBSIM_SET_COMPLETION_CODE;
            taken.completionCode = codes[which];
        } else if (pick == 2) {
            taken.fields = IMBSIM_SET_STATUS;
            taken.status = statuses[which];
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    return taken;
}

static void LogRequest(const uint8_t *input, ULONG inputLength, ULONG outputLength, NTSTATUS status,
                       ULONG_PTR reported, const ImbResponsePacket *response, int64_t arrival,
                       int64_t arrivalSystem)
{
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ImbSimLogEntry *entry = &g_log[g_logged % LOG_CAPACITY];
    RtlZeroMemory(entry, sizeof(*entry));
    entry->sequence = g_logged++;
    entry->inputLength = inputLength;
    entry->outputLength = outputLength;
    entry->status = (uint32_t)status;
    entry->reportedBytes = (uint32_t)reported;
    entry->counter = arrival;
    entry->completedCounter = Now();
    entry->systemTime = arrivalSystem;
    RtlCopyMemory(entry->packet, input, inputLength < sizeof(entry->packet) ? inputLength : sizeof(entry->packet));
    RtlCopyMemory(entry->response, response, sizeof(entry->response));
    g_counters.sendRequests++;
    KeReleaseSpinLock(&g_lock, irql);
}

/* Answers after the behaviour's delay; a delay beyond the packet's timeout times out instead. */
static NTSTATUS Delay(const ImbSimBehaviour *behaviour, const ImbRequestPacket *packet)
{
    if (!(behaviour->fields & IMBSIM_SET_DELAY)) return STATUS_SUCCESS;
    uint32_t timeoutMs = packet->timeoutMicroseconds / 1000;
    if (behaviour->delayMs > timeoutMs) {
        SleepMs(timeoutMs);
        return (NTSTATUS)IMB_STATUS_TIMEOUT;
    }
    SleepMs(behaviour->delayMs);
    return STATUS_SUCCESS;
}

static NTSTATUS Complete(IRP *irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Copies the request packet out of the buffer; false when its lengths do not fit the packet. */
static BOOLEAN ReadPacket(IRP *irp, IO_STACK_LOCATION *stack, ImbRequestPacket *packet)
{
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    RtlZeroMemory(packet, sizeof(*packet));
    RtlCopyMemory(packet, irp->AssociatedIrp.SystemBuffer, inputLength < sizeof(*packet) ? inputLength : sizeof(*packet));
    return inputLength >= IMB_REQUEST_HEADER_SIZE && inputLength <= sizeof(*packet) &&
           inputLength >= IMB_REQUEST_HEADER_SIZE + (ULONG)packet->dataLength;
}

/* Answers a valid request by the behaviour, logs it and gives its completion status. */
static NTSTATUS AnswerRequest(IRP *irp, IO_STACK_LOCATION *stack, const ImbRequestPacket *packet,
                              const ImbSimBehaviour *behaviour, int64_t arrival, int64_t arrivalSystem)
{
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ImbResponsePacket response;
    ULONG_PTR reported = 0;
    RtlZeroMemory(&response, sizeof(response));
    NTSTATUS status = Delay(behaviour, packet);
    if (NT_SUCCESS(status) && (behaviour->fields & IMBSIM_SET_STATUS)) status = (NTSTATUS)behaviour->status;
    if (NT_SUCCESS(status)) {
        if (behaviour->fields & IMBSIM_SET_COMPLETION_CODE) {
            /* A BMC that answers with an error (busy, invalid command) has not carried the command out. */
            response.completionCode = (uint8_t)behaviour->completionCode;
            reported = 1;
        } else {
            KIRQL irql;
            KeAcquireSpinLock(&g_lock, &irql);
            reported = BmcHandleRequest(&g_bmc, packet, &response, Now(), SystemTimeNow());
            KeReleaseSpinLock(&g_lock, irql);
        }
        if (reported > outputLength) {
            status = (NTSTATUS)IMB_STATUS_BUFFER_TOO_SMALL;
            reported = 0;
        } else {
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &response, reported);
        }
        if (behaviour->fields & IMBSIM_SET_BYTE_COUNT) reported = behaviour->byteCount;
    }
    LogRequest((const uint8_t *)packet, inputLength, outputLength, status, reported, &response, arrival,
               arrivalSystem);
    irp->IoStatus.Information = NT_SUCCESS(status) ? reported : 0;
    return status;
}

/* A held request keeps in its driver context whether it honours cancellation and when it arrived. */
_Static_assert(sizeof(void *) == sizeof(int64_t), "the arrival times fit the driver context");
#define HELD_HONOURS_CANCEL(irp) ((irp)->Tail.Overlay.DriverContext[0])
#define HELD_ARRIVAL(irp) ((irp)->Tail.Overlay.DriverContext[1])
#define HELD_ARRIVAL_SYSTEM(irp) ((irp)->Tail.Overlay.DriverContext[2])

/* Completes a held request that has left the list: answered from the BMC, or cancelled. */
static void FinishHeld(IRP *irp, BOOLEAN cancelled)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    int64_t arrival = (int64_t)(LONG_PTR)HELD_ARRIVAL(irp);
    int64_t arrivalSystem = (int64_t)(LONG_PTR)HELD_ARRIVAL_SYSTEM(irp);
    ImbRequestPacket packet;
    ReadPacket(irp, stack, &packet);
    NTSTATUS status = STATUS_CANCELLED;
    if (cancelled) {
        ImbResponsePacket none;
        RtlZeroMemory(&none, sizeof(none));
        LogRequest((const uint8_t *)&packet, stack->Parameters.DeviceIoControl.InputBufferLength,
                   stack->Parameters.DeviceIoControl.OutputBufferLength, status, 0, &none, arrival, arrivalSystem);
        irp->IoStatus.Information = 0;
    } else {
        ImbSimBehaviour byDefault;
        RtlZeroMemory(&byDefault, sizeof(byDefault));
        status = AnswerRequest(irp, stack, &packet, &byDefault, arrival, arrivalSystem);
    }
    Complete(irp, status);
}

/* Runs with the cancel spin lock held, which it releases first. */
static void CancelHeld(DEVICE_OBJECT *device, IRP *irp)
{
    KIRQL irql;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    g_counters.heldRequests--;
    g_counters.cancelledRequests++;
    KeReleaseSpinLock(&g_lock, irql);
    FinishHeld(irp, TRUE);
}

/* Pends the request in the held list; one that honours cancellation gets a cancel routine. */
static NTSTATUS HoldRequest(IRP *irp, BOOLEAN honourCancel, int64_t arrival, int64_t arrivalSystem)
{
    KIRQL irql;
    HELD_HONOURS_CANCEL(irp) = (PVOID)(ULONG_PTR)honourCancel;
    HELD_ARRIVAL(irp) = (PVOID)(LONG_PTR)arrival;
    HELD_ARRIVAL_SYSTEM(irp) = (PVOID)(LONG_PTR)arrivalSystem;
    IoMarkIrpPending(irp);
    KeAcquireSpinLock(&g_lock, &irql);
    InsertTailList(&g_held, &irp->Tail.Overlay.ListEntry);
    g_counters.heldRequests++;
    if (honourCancel) {
        IoSetCancelRoutine(irp, CancelHeld);
        /* Cancelled before the routine was set: the cancellation found nothing to call. */
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
            RemoveEntryList(&irp->Tail.Overlay.ListEntry);
            g_counters.heldRequests--;
            g_counters.cancelledRequests++;
            KeReleaseSpinLock(&g_lock, irql);
            FinishHeld(irp, TRUE);
            return STATUS_PENDING;
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_PENDING;
}

/* Answers every held request from the BMC, oldest first; gives their number. */
static uint32_t ReleaseHeld(void)
{
    LIST_ENTRY released;
    KIRQL irql;
    uint32_t count = 0;
    InitializeListHead(&released);
    KeAcquireSpinLock(&g_lock, &irql);
    while (!IsListEmpty(&g_held)) {
        LIST_ENTRY *entry = RemoveHeadList(&g_held);
        IRP *irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (HELD_HONOURS_CANCEL(irp) && IoSetCancelRoutine(irp, NULL) == NULL) {
            /* Its cancel routine is under way and completes it. */
            InitializeListHead(entry);
            continue;
        }
        g_counters.heldRequests--;
        InsertTailList(&released, entry);
    }
    KeReleaseSpinLock(&g_lock, irql);
    while (!IsListEmpty(&released)) {
        FinishHeld(CONTAINING_RECORD(RemoveHeadList(&released), IRP, Tail.Overlay.ListEntry), FALSE);
        ++count;
    }
    return count;
}

static NTSTATUS SendMessage(IRP *irp, IO_STACK_LOCATION *stack)
{
    int64_t arrival = Now();
    int64_t arrivalSystem = SystemTimeNow();
    ImbRequestPacket packet;
    if (!ReadPacket(irp, stack, &packet)) {
        ImbResponsePacket none;
        RtlZeroMemory(&none, sizeof(none));
        LogRequest((const uint8_t *)&packet, stack->Parameters.DeviceIoControl.InputBufferLength,
                   stack->Parameters.DeviceIoControl.OutputBufferLength, STATUS_INVALID_PARAMETER, 0, &none,
                   arrival, arrivalSystem);
        return STATUS_INVALID_PARAMETER;
    }
    ImbSimBehaviour behaviour = TakeBehaviour(packet.command);
    if (behaviour.fields & IMBSIM_HOLD) {
        return HoldRequest(irp, (behaviour.fields & IMBSIM_HONOUR_CANCEL) != 0, arrival, arrivalSystem);
    }
    return AnswerRequest(irp, stack, &packet, &behaviour, arrival, arrivalSystem);
}

static NTSTATUS ReadLog(IRP *irp, IO_STACK_LOCATION *stack)
{
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = irp->AssociatedIrp.SystemBuffer;
    if (outputLength < sizeof(ImbSimLogHeader)) return STATUS_BUFFER_TOO_SMALL;
    uint32_t first = 0;
    if (inputLength >= sizeof(uint32_t)) RtlCopyMemory(&first, buffer, sizeof(first));
    ImbSimLogHeader header;
    ImbSimLogEntry *entries = (ImbSimLogEntry *)(buffer + sizeof(header));
    uint32_t room = (outputLength - sizeof(header)) / sizeof(ImbSimLogEntry);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    uint32_t oldest = g_logged > LOG_CAPACITY ? g_logged - LOG_CAPACITY : 0;
    if (first < oldest) first = oldest;
    header.totalLogged = g_logged;
    header.entryCount = 0;
    header.counterFrequency = g_frequency.QuadPart;
    for (uint32_t sequence = first; sequence < g_logged && header.entryCount < room; ++sequence) {
        entries[header.entryCount++] = g_log[sequence % LOG_CAPACITY];
    }
    KeReleaseSpinLock(&g_lock, irql);
    RtlCopyMemory(buffer, &header, sizeof(header));
    irp->IoStatus.Information = sizeof(header) + header.entryCount * sizeof(ImbSimLogEntry);
    return STATUS_SUCCESS;
}

/* The SEL's records from the first index asked for, as many as fit after the header. */
static NTSTATUS ReadSel(IRP *irp, IO_STACK_LOCATION *stack)
{
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = irp->AssociatedIrp.SystemBuffer;
    if (outputLength < sizeof(ImbSimSelHeader)) return STATUS_BUFFER_TOO_SMALL;
    uint32_t first = 0;
    if (inputLength >= sizeof(uint32_t)) RtlCopyMemory(&first, buffer, sizeof(first));
    uint32_t room = (outputLength - sizeof(ImbSimSelHeader)) / IMBSIM_SEL_RECORD_SIZE;
    ImbSimSelHeader header;
    RtlZeroMemory(&header, sizeof(header));
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    header.count = g_bmc.sel.count;
    header.capacity = g_bmc.sel.capacity;
    header.reservation = g_bmc.sel.reservation;
    header.overflow = g_bmc.sel.overflow;
    for (uint32_t index = first; index < g_bmc.sel.count && header.recordCount < room; ++index) {
        RtlCopyMemory(buffer + sizeof(header) + header.recordCount++ * IMBSIM_SEL_RECORD_SIZE, g_bmc.sel.records[index],
                      IMBSIM_SEL_RECORD_SIZE);
    }
    KeReleaseSpinLock(&g_lock, irql);
    RtlCopyMemory(buffer, &header, sizeof(header));
    irp->IoStatus.Information = sizeof(header) + header.recordCount * IMBSIM_SEL_RECORD_SIZE;
    return STATUS_SUCCESS;
}

static NTSTATUS CopyOut(IRP *irp, IO_STACK_LOCATION *stack, const void *data, ULONG size)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < size) return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, data, size);
    irp->IoStatus.Information = size;
    return STATUS_SUCCESS;
}

static NTSTATUS Control(IRP *irp, IO_STACK_LOCATION *stack)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;
    irp->IoStatus.Information = 0;
    switch (code) {
    case IMB_IOCTL_SEND_MESSAGE:
        return SendMessage(irp, stack);
    case IMBSIM_IOCTL_RESET:
        /* Held requests are answered before the reset, so none outlives a test. */
        ReleaseHeld();
        ResetSimulation();
        return STATUS_SUCCESS;
    case IMBSIM_IOCTL_RELEASE_HELD: {
        uint32_t released = ReleaseHeld();
        if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(released)) return STATUS_SUCCESS;
        return CopyOut(irp, stack, &released, sizeof(released));
    }
    case IMBSIM_IOCTL_SET_BEHAVIOUR:
        if (inputLength < FIELD_OFFSET(ImbSimBehaviour, skipCount)) return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&g_lock, &irql);
        RtlZeroMemory(&g_behaviour, sizeof(g_behaviour));
        RtlCopyMemory(&g_behaviour, buffer, inputLength < sizeof(g_behaviour) ? inputLength : sizeof(g_behaviour));
        g_random = g_behaviour.randomSeed;
        KeReleaseSpinLock(&g_lock, irql);
        return STATUS_SUCCESS;
    case IMBSIM_IOCTL_SET_BMC:
        if (inputLength < sizeof(ImbSimBmcConfig)) return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&g_lock, &irql);
        RtlCopyMemory(&g_bmc.config, buffer, sizeof(g_bmc.config));
        KeReleaseSpinLock(&g_lock, irql);
        return STATUS_SUCCESS;
    case IMBSIM_IOCTL_READ_LOG:
        return ReadLog(irp, stack);
    case IMBSIM_IOCTL_SET_SEL:
        if (inputLength < sizeof(ImbSimSelConfig)) return STATUS_INVALID_PARAMETER;
        KeAcquireSpinLock(&g_lock, &irql);
        SelReset(&g_bmc.sel, (const ImbSimSelConfig *)buffer, SystemTimeNow());
        KeReleaseSpinLock(&g_lock, irql);
        return STATUS_SUCCESS;
    case IMBSIM_IOCTL_READ_SEL:
        return ReadSel(irp, stack);
    case IMBSIM_IOCTL_READ_WATCHDOG: {
        ImbSimWatchdogState state;
        KeAcquireSpinLock(&g_lock, &irql);
        BmcAdvance(&g_bmc, Now(), SystemTimeNow());
        state = g_bmc.watchdog;
        KeReleaseSpinLock(&g_lock, irql);
        return CopyOut(irp, stack, &state, sizeof(state));
    }
    case IMBSIM_IOCTL_READ_COUNTERS: {
        ImbSimCounters counters;
        KeAcquireSpinLock(&g_lock, &irql);
        counters = g_counters;
        KeReleaseSpinLock(&g_lock, irql);
        return CopyOut(irp, stack, &counters, sizeof(counters));
    }
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

static NTSTATUS DispatchCreateClose(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    KIRQL irql;
    (void)device;
    KeAcquireSpinLock(&g_lock, &irql);
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        g_counters.opens++;
        g_counters.openHandles++;
    } else if (stack->MajorFunction == IRP_MJ_CLOSE) {
        g_counters.closes++;
        g_counters.openHandles--;
    }
    KeReleaseSpinLock(&g_lock, irql);
    irp->IoStatus.Information = 0;
    return Complete(irp, STATUS_SUCCESS);
}

static NTSTATUS DispatchDeviceControl(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    NTSTATUS status = Control(irp, IoGetCurrentIrpStackLocation(irp));
    if (status == STATUS_PENDING) return status;  /* held: completed by a release or its cancellation */
    return Complete(irp, status);
}

static void DeleteLinkIfOwned(DeviceExtension *extension)
{
    if (!extension->ownsLink) return;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, IMB_DOS_DEVICE_NAME_W);
    IoDeleteSymbolicLink(&link);
    extension->ownsLink = FALSE;
}

static NTSTATUS DispatchPnp(DEVICE_OBJECT *device, IRP *irp)
{
    DeviceExtension *extension = device->DeviceExtension;
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    if (extension->lowerDevice == NULL) return Complete(irp, STATUS_NOT_SUPPORTED);
    DEVICE_OBJECT *lower = extension->lowerDevice;
    switch (stack->MinorFunction) {
    case IRP_MN_SURPRISE_REMOVAL:
        DeleteLinkIfOwned(extension);
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DeleteLinkIfOwned(extension);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    }
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS DispatchPower(DEVICE_OBJECT *device, IRP *irp)
{
    DeviceExtension *extension = device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    if (extension->lowerDevice == NULL) return Complete(irp, STATUS_SUCCESS);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(extension->lowerDevice, irp);
}

/* Creates \Device\ImbSim<n>; the first device of the driver also takes the "\\.\imb" link. */
static NTSTATUS CreateImbDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT **created)
{
    WCHAR nameBuffer[40];
    UNICODE_STRING name, link;
    LONG number = InterlockedIncrement(&g_deviceNumber);
    RtlZeroMemory(nameBuffer, sizeof(nameBuffer));
    static const WCHAR prefix[] = L"\\Device\\ImbSim";
    RtlCopyMemory(nameBuffer, prefix, sizeof(prefix));
    ULONG len = sizeof(prefix) / sizeof(WCHAR) - 1;
    nameBuffer[len++] = (WCHAR)(L'0' + (number / 100) % 10);
    nameBuffer[len++] = (WCHAR)(L'0' + (number / 10) % 10);
    nameBuffer[len++] = (WCHAR)(L'0' + number % 10);
    RtlInitUnicodeString(&name, nameBuffer);
    DEVICE_OBJECT *device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    DeviceExtension *extension = device->DeviceExtension;
    RtlZeroMemory(extension, sizeof(*extension));
    RtlInitUnicodeString(&link, IMB_DOS_DEVICE_NAME_W);
    extension->ownsLink = NT_SUCCESS(IoCreateSymbolicLink(&link, &name));
    device->Flags |= DO_BUFFERED_IO;
    *created = device;
    return STATUS_SUCCESS;
}

static NTSTATUS AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *physicalDevice)
{
    DEVICE_OBJECT *device;
    NTSTATUS status = CreateImbDevice(driver, &device);
    if (!NT_SUCCESS(status)) return status;
    DeviceExtension *extension = device->DeviceExtension;
    extension->lowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (extension->lowerDevice == NULL) {
        DeleteLinkIfOwned(extension);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void Unload(DRIVER_OBJECT *driver)
{
    (void)driver;
    ReleaseHeld();
    if (g_plainDevice == NULL) return;
    DeleteLinkIfOwned(g_plainDevice->DeviceExtension);
    IoDeleteDevice(g_plainDevice);
    g_plainDevice = NULL;
}

/* A DWORD value of the service key, or fallback when it is absent. */
static ULONG ReadDword(HANDLE key, const WCHAR *name, ULONG fallback, BOOLEAN *present)
{
    UNICODE_STRING valueName;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    ULONG length = 0;
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)buffer;
    RtlInitUnicodeString(&valueName, name);
    if (present) *present = FALSE;
    if (key == NULL) return fallback;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof(buffer), &length);
    if (!NT_SUCCESS(status) || info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) return fallback;
    if (present) *present = TRUE;
    return *(ULONG *)info->Data;
}

/* Defaults from the service key, so that a test can make the BMC silent or slow from the start. */
static BOOLEAN ReadDefaults(UNICODE_STRING *registryPath)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key = NULL;
    BOOLEAN present;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) key = NULL;

    BmcDefaultConfig(&g_defaultBmc);
    g_defaultBmc.preTimeoutSupport = (uint8_t)ReadDword(key, L"PreTimeoutSupport", g_defaultBmc.preTimeoutSupport, NULL);
    RtlZeroMemory(&g_defaultBehaviour, sizeof(g_defaultBehaviour));
    g_defaultBehaviour.delayMs = ReadDword(key, L"ResponseDelayMs", 0, &present);
    if (present) g_defaultBehaviour.fields |= IMBSIM_SET_DELAY;
    g_defaultBehaviour.completionCode = ReadDword(key, L"CompletionCode", 0, &present);
    if (present) g_defaultBehaviour.fields |= IMBSIM_SET_COMPLETION_CODE;
    g_defaultBehaviour.status = ReadDword(key, L"DriverStatus", 0, &present);
    if (present) g_defaultBehaviour.fields |= IMBSIM_SET_STATUS;
    if (g_defaultBehaviour.fields != 0) g_defaultBehaviour.requestCount = IMBSIM_EVERY_REQUEST;
    BOOLEAN plain = ReadDword(key, L"PlainDevice", 0, NULL) != 0;
    if (key != NULL) ZwClose(key);
    return plain;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath)
{
    KeInitializeSpinLock(&g_lock);
    KeQueryPerformanceCounter(&g_frequency);
    InitializeListHead(&g_held);
    BOOLEAN plain = ReadDefaults(registryPath);
    ResetSimulation();

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;

    if (!plain) return STATUS_SUCCESS;
    NTSTATUS status = CreateImbDevice(driver, &g_plainDevice);
    if (!NT_SUCCESS(status)) return status;
    if (!((DeviceExtension *)g_plainDevice->DeviceExtension)->ownsLink) {
        /* Another driver already answers "\\.\imb". */
        IoDeleteDevice(g_plainDevice);
        g_plainDevice = NULL;
        return STATUS_OBJECT_NAME_COLLISION;
    }
    g_plainDevice->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
