#pragma once
// Drills through the running service. "zynwatch -drill" writes its request into the service's
// volatile subkey "Drill", which only administrators may write, and sends a user-defined control;
// the control handler only signals, and the service thread takes the request, runs the drill in
// place of its heartbeats and publishes the report there as it goes. A control without a fresh
// request in the key does nothing.
#include <windows.h>

#include "watchdog/watchdog_keeper.h"

// The user-defined controls: run the requested drill; end the drill under way.
const DWORD kDrillControl = 128;
const DWORD kDrillCancelControl = 129;

// Creates the controls' events; once a process, before the dispatcher runs.
void InitializeDrillControls();

bool IsDrillControl(DWORD control);

// The control handler's part: signals the service thread, nothing more.
void SignalDrillControl(DWORD control);

// Signalled when a drill is requested; the heartbeat loop waits on it with its pause.
HANDLE DrillRequestEvent();

// A fresh "Drill" key while the service keeps the watchdog, removed when it stops.
void OpenDrillPublication();
void CloseDrillPublication();

// Takes the request and runs the drill, or publishes why not. The heartbeats pause meanwhile, and
// the watchdog is armed again as the keeper keeps it at the drill's end, whatever ended it. A stop,
// a cancel or a power change ends the drill at once; the power change stays signalled for the loop.
void RunRequestedDrill(WatchdogKeeper *keeper, HANDLE stop, HANDLE power, bool heartbeatsWithheld);
