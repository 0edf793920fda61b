// The handle of the module this code is linked into (the plug-in DLL or a test program).
#pragma once

// Records the module handle; DllMain calls this and does nothing else under the loader lock.
void SetModuleInstance(void* instance);

// The recorded handle, or, when none was recorded, the module that contains this code.
// Null outside Windows.
void* ModuleInstance();

// The process's executable is a console program (its image's subsystem); true outside Windows.
bool IsConsoleProgram();

// The calling thread holds the system's loader lock (the lock's critical section, named in the
// process's environment block, is owned by it): it runs a DLL's entry or a TLS callback, or loads
// or frees a library. False outside Windows.
bool HoldsLoaderLock();
