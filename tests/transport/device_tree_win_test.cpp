// The Windows device tree against nodes this test registers through SetupAPI itself, and the
// restart of a node against scripted configuration-manager calls.
#include "devices/device_tree_win.h"

#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "devices/device_tree.h"
#include "device_nodes_win.h"
#include "platform/trace.h"

namespace vrn {
namespace {

using fiscal_test::LowerPath;
using fiscal_test::TestNode;
using fiscal_test::kPortsClass;
using fiscal_test::kUsbClass;

TEST(DeviceTreeWindows, LooksUpRegisteredNodesByTheIdsOfTheirInterfacePaths) {
  std::vector<std::unique_ptr<TestNode>> nodes;
  for (auto [id, cls, port] : {std::tuple{R"(USB\VID_0483&PID_5740\TREETEST)", kPortsClass, "com5"},
                               std::tuple{R"(USB\VID_1A86&PID_7523\TREETEST)", kPortsClass, "Modem line"},
                               std::tuple{R"(USB\VID_1A86&PID_7524\TREETEST)", kUsbClass, "com9"},
                               std::tuple{R"(USB\VID_1A86&XID_7525\TREETEST)", kPortsClass, "com3"},
                               std::tuple{R"(USB\VID_1A86&PID_7527\TREETEST)", kPortsClass, static_cast<const char *>(nullptr)}}) {
    nodes.push_back(std::make_unique<TestNode>(id, cls, port));
    if (nodes.back()->Error() == ERROR_ACCESS_DENIED) GTEST_SKIP() << "registering device nodes needs an administrator";
    ASSERT_EQ(nodes.back()->Error(), static_cast<DWORD>(ERROR_SUCCESS)) << id;
  }
  // Registered, never started: the lookups take present devices only.
  DeviceInfo info;
  EXPECT_FALSE(FindDevice(InterfaceClass::ComPort, 0x0483, 0x5740, info));
  EXPECT_STREQ(info.devicePath, "");
  for (const auto &node : nodes) ASSERT_EQ(node->MarkPresent(), static_cast<DWORD>(ERROR_SUCCESS));

  const std::string com = "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
  const std::string usb = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  struct Case {
    InterfaceClass cls;
    int32_t vid, pid;
    bool serial;
    const char *port;
    std::string path;
    bool noKey;
  };
  const Case cases[] = {
      {InterfaceClass::ComPort, 0x0483, 0x5740, true, "COM5", R"(\\?\usb#vid_0483&pid_5740#treetest)" + com, false},
      {InterfaceClass::UsbDevice, 0x0483, 0x5740, true, "COM5", R"(\\?\usb#vid_0483&pid_5740#treetest)" + usb, false},
      {InterfaceClass::ComPort, 0x1A86, 0x7523, false, "MODEM LINE", R"(\\?\usb#vid_1a86&pid_7523#treetest)" + com, false},
      // A COM port, but the node is not of the ports class.
      {InterfaceClass::ComPort, 0x1A86, 0x7524, false, "COM9", R"(\\?\usb#vid_1a86&pid_7524#treetest)" + com, false},
      // Without "pid_" the path names no device.
      {InterfaceClass::ComPort, 0x1A86, 0x7525, false, "", "", false},
      {InterfaceClass::ComPort, 0x1A86, 0x7527, false, "", R"(\\?\usb#vid_1a86&pid_7527#treetest)" + com,
       true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path.empty() ? std::to_string(c.pid) : c.path);
    platform::TraceCapture traces;
    DeviceInfo found;
    std::strcpy(found.portName, "stale");
    EXPECT_EQ(FindDevice(c.cls, c.vid, c.pid, found), c.serial);
    EXPECT_EQ(found.serial, c.serial ? 1 : 0);
    EXPECT_STREQ(found.portName, c.port);
    EXPECT_EQ(LowerPath(found.devicePath), c.path);
    EXPECT_EQ(found.vendorId, c.path.empty() ? -1 : c.vid);
    EXPECT_EQ(found.productId, c.path.empty() ? -1 : c.pid);
    EXPECT_EQ(found.deviceInstance != 0, !c.path.empty());
    EXPECT_EQ(traces.Count("SetupDiOpenDevRegKey failed ("), c.noKey ? 1u : 0u);
  }

  // The list takes the value as it is, the flag from the class alone, and leaves out the node
  // without "pid_".
  std::vector<std::string> listed;
  for (const DeviceInfo &d : ListUsbDevices()) {
    const std::string path = LowerPath(d.devicePath);
    if (path.find("#treetest#") == std::string::npos) continue;
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04X:%04X ", static_cast<unsigned>(d.vendorId), static_cast<unsigned>(d.productId));
    listed.push_back(ids + std::string(d.portName) + (d.serial != 0 ? " serial " : " ") + path);
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{
                        R"(0483:5740 com5 serial \\?\usb#vid_0483&pid_5740#treetest)" + usb,
                        R"(1A86:7523 Modem line serial \\?\usb#vid_1a86&pid_7523#treetest)" + usb,
                        R"(1A86:7524 com9 \\?\usb#vid_1a86&pid_7524#treetest)" + usb,
                        R"(1A86:7527  \\?\usb#vid_1a86&pid_7527#treetest)" + usb,
                    }));
}

// The configuration manager as a script: each call is recorded and answers the next result
// (success when the script has no more).
struct CmScript {
  std::vector<CONFIGRET> results;
  size_t next = 0;
  std::vector<std::string> calls;
  CONFIGRET Record(const char *format, ...) PLATFORM_PRINTF(2, 3) {
    char text[400];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    calls.push_back(text);
    return next < results.size() ? results[next++] : CR_SUCCESS;
  }
};
CmScript *g_script = nullptr;

CONFIGRET WINAPI ScriptedRemove(DEVINST node, PPNP_VETO_TYPE type, LPSTR veto, ULONG length, ULONG flags) {
  return g_script->Record("remove %lu flags %lu veto %s \"%s\"/%lu", node, flags, type != nullptr ? "typed" : "untyped",
                          veto != nullptr ? veto : "(null)", length);
}
CONFIGRET WINAPI ScriptedSetup(DEVINST node, ULONG flags) { return g_script->Record("setup %lu flags %lu", node, flags); }
CONFIGRET WINAPI ScriptedReenumerate(DEVINST node, ULONG flags) {
  return g_script->Record("reenumerate %lu flags %lu", node, flags);
}
CONFIGRET WINAPI ScriptedParent(PDEVINST parent, DEVINST node, ULONG) {
  *parent = 7;
  return g_script->Record("parent of %lu", node);
}
CONFIGRET WINAPI ScriptedEject(DEVINST node, PPNP_VETO_TYPE type, LPSTR veto, ULONG length, ULONG flags) {
  return g_script->Record("eject %lu flags %lu veto %s %s/%lu", node, flags, type != nullptr ? "typed" : "untyped",
                          veto != nullptr ? "buffer" : "(null)", length);
}

TEST(DeviceTreeWindows, RestartRemovesTheSubtreeOrFallsBackToEjectingTheParent) {
  const device_tree_win::ConfigManagerCalls scripted = {ScriptedRemove, ScriptedSetup, ScriptedReenumerate,
                                                        ScriptedParent, ScriptedEject};
  device_tree_win::SetConfigManager(&scripted);
  const std::string remove = R"(remove 42 flags 2 veto typed "\\?\usb#vid_0483&pid_5740#1#{x}"/260)";
  const std::string eject = "eject 7 flags 0 veto typed buffer/260";
  struct Case {
    const char *name;
    std::vector<CONFIGRET> results;
    bool restarted;
    std::vector<std::string> calls;
    std::vector<std::string> traces;
  };
  const std::vector<Case> cases = {
      {"removed and set up again", {}, true, {remove, "setup 42 flags 4", "reenumerate 42 flags 0"}, {}},
      {"removal vetoed", {CR_REMOVE_VETOED}, true,
       {remove, "parent of 42", eject, "setup 42 flags 0", "reenumerate 42 flags 0"},
       {" CM_Query_And_Remove_SubTree fail 0x17"}},
      {"set-up refused after the removal", {CR_SUCCESS, CR_FAILURE}, true,
       {remove, "setup 42 flags 4", "parent of 42", eject, "setup 42 flags 0", "reenumerate 42 flags 0"},
       {" CM_Setup_DevNode fail 0x13"}},
      {"re-enumeration refused after the removal", {CR_SUCCESS, CR_SUCCESS, CR_NO_SUCH_DEVNODE}, true,
       {remove, "setup 42 flags 4", "reenumerate 42 flags 0", "parent of 42", eject, "setup 42 flags 0",
        "reenumerate 42 flags 0"},
       {" CM_Setup_DevNode fail 0xD"}},
      {"vetoed without a parent", {CR_REMOVE_VETOED, CR_NO_SUCH_DEVNODE}, false, {remove, "parent of 42"},
       {" CM_Query_And_Remove_SubTree fail 0x17"}},
      {"the parent's ejection vetoed", {CR_REMOVE_VETOED, CR_SUCCESS, CR_REMOVE_VETOED}, false,
       {remove, "parent of 42", eject},
       {" CM_Query_And_Remove_SubTree fail 0x17", " CM_Request_Device_Eject fail 0x17"}},
      {"set-up refused after the ejection", {CR_REMOVE_VETOED, CR_SUCCESS, CR_SUCCESS, CR_FAILURE}, false,
       {remove, "parent of 42", eject, "setup 42 flags 0"},
       {" CM_Query_And_Remove_SubTree fail 0x17", " CM_Setup_DevNode fail 0x13"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CmScript script;
    script.results = c.results;
    g_script = &script;
    platform::TraceCapture traces;
    EXPECT_EQ(RestartDeviceNode(42, R"(\\?\usb#vid_0483&pid_5740#1#{x})"), c.restarted);
    EXPECT_EQ(script.calls, c.calls);
    EXPECT_EQ(traces.Lines(), c.traces);
  }
  // Without a path the veto buffer starts empty.
  CmScript script;
  g_script = &script;
  EXPECT_TRUE(RestartDeviceNode(42, nullptr));
  EXPECT_EQ(script.calls.front(), "remove 42 flags 2 veto typed \"\"/260");
  g_script = nullptr;
  device_tree_win::SetConfigManager(nullptr);
}

}  // namespace
}  // namespace vrn
