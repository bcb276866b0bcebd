#pragma once
// Names and configuration layout of the auto server restart service, shared by the service
// program and the installer.

const char kServiceName[] = "ZynAsrService";
const char kServiceDisplayName[] = "DuraRavuviZerovod Service";
const char kServiceKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService";

// Shown for the service; four lines joined by line feeds, none after the last.
const char kServiceDescription[] =
    "This ASR Service is a OS monitored service. it updates BMC Watchdog Timer periodiclly like hearbeats. "
    "The ASR will reboot the OS if system hung. You may press 'Start'or 'Stop' to enable and or disable it, "
    "also may changethe option for action while OS be hung occured.\n"
    "Useage: \n"
    " -timeout [none|hardreset|poweroff|powercycle] \n"
    " -pretimeout [none|smi|nmi|msgint] ";
static_assert(sizeof(kServiceDescription) == 361, "the description is 360 characters");

// Configuration values of the service key and the values written at install.
const char kTimeoutActionValue[] = "TimeoutAction";
const char kPreTimeoutActionValue[] = "PreTimeoutAction";
const char kTimeoutValueValue[] = "TimeoutValue";
const char kPreTimeoutIntervalValue[] = "PreTimeoutInterval";
const char kHeartbeatIntervalValue[] = "HeartbeatInterval";
const char kDescriptionValue[] = "Description";

const unsigned kInstallTimeoutAction = 3;       // power cycle
const unsigned kInstallPreTimeoutAction = 0;    // no pre-timeout interrupt
const unsigned kInstallTimeoutValue = 300;      // seconds
const unsigned kInstallPreTimeoutInterval = 0;  // seconds
const unsigned kInstallHeartbeatInterval = 45;  // seconds
