// The DLL's entry point: nothing of the plug-in runs at load or unload, only
// the C++ runtime's own bookkeeping.
#include <windows.h>

namespace __gnu_cxx {  // NOLINT(bugprone-reserved-identifier): the runtime's own name
// Frees what the C++ runtime keeps for the life of the process; its only
// holding today is the emergency buffer for throwing exceptions when memory
// has run out.
void __freeres() noexcept;  // NOLINT(bugprone-reserved-identifier)
}  // namespace __gnu_cxx

// The runtime is linked into the DLL, so each load makes a new emergency
// buffer, and nothing frees it when FreeLibrary unloads the DLL: a host that
// loads and unloads the plug-in would lose it at every cycle. `reserved` is
// null exactly when the DLL is unloaded by FreeLibrary; at process exit the
// process's memory goes back to the system anyway.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
  return TRUE;
}
