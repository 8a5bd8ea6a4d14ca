#pragma once
// The library's process-wide state and its lifetime: one CDownloadLibThread
// instance between initialisation and finalisation, the user value slot, the
// running flag of the worker's message loop and the elevation switch.
//
// Initialisation, finalisation and every look-up of the instance run on the
// client's thread.

#include "MeshdropLib.h"

class CDownloadLibThread;
class CJobManager;

// Starts the library: 512, 517 (the worker did not build its job manager in
// time) or 518 (an instance exists already).
int Library_Initialize(HWND clientWindow, MeshdropLibEventCallback callback, void* userValue, int elevation);

// Stops and destroys the instance when there is one; always 512.
int Library_Finalize();

// The instance, or null before initialisation and after finalisation.
CDownloadLibThread* Library_GetInstance();

// The instance's job manager, or null when there is no instance or the worker
// has not built its manager.
CJobManager* Library_GetJobManager();

void* Library_GetUserValue();

// The worker's message loop runs while this is nonzero.
bool Library_IsRunning();
void Library_SetRunning(bool running);

// 1 when programs are to be started with elevation where the system offers it.
int Library_GetElevationSwitch();
void Library_SetElevationSwitch(int elevation);
