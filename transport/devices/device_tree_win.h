// Inside the Windows device tree: what tests replace. Not part of the library's interface.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>

namespace vrn::device_tree_win {

// The configuration-manager calls of a device-node restart.
struct ConfigManagerCalls {
  CONFIGRET(WINAPI *queryAndRemoveSubTree)(DEVINST node, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG vetoNameLength, ULONG flags);
  CONFIGRET(WINAPI *setupDevNode)(DEVINST node, ULONG flags);
  CONFIGRET(WINAPI *reenumerateDevNode)(DEVINST node, ULONG flags);
  CONFIGRET(WINAPI *getParent)(PDEVINST parent, DEVINST node, ULONG flags);
  CONFIGRET(WINAPI *requestDeviceEject)(DEVINST node, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG vetoNameLength, ULONG flags);
};

// The system's calls unless a table is set; null sets the system's again. The table must
// outlive its use.
const ConfigManagerCalls &ConfigManager();
void SetConfigManager(const ConfigManagerCalls *calls);

}  // namespace vrn::device_tree_win
