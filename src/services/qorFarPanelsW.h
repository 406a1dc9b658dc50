// Panel and window services: AdvControl and PanelControl for a host that has neither FAR's console
// nor its panels. Informational requests get the answers FAR gives for one panels window and no
// panel; requests that would change a panel, a window or the command line show the warning box.
#pragma once

#include <cstdint>

#include "api/qorFarPluginW.h"

namespace qor {

// Where the plugins' progress values go. The services only hear them; the host that knows the
// file manager's callbacks implements the receiver and registers it at start-up.
class IqorProgressReceiver {
 public:
  // ACTL_SETPROGRESSVALUE's Completed/Total, on the thread of the plugin call that reports it.
  virtual void ProgressValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept = 0;
  // True while the file manager's cancel of the call on this thread is on its way to the plugin.
  virtual bool Cancelling() const noexcept = 0;

 protected:
  ~IqorProgressReceiver() = default;
};

// Registers the receiver (nullptr: none); values reported without one are dropped.
void SetProgressReceiver(IqorProgressReceiver* AReceiver) noexcept;
// The receiver's Cancelling(); false without one.
bool HostCancelling() noexcept;

// Host entry for PluginStartupInfo.AdvControl.
intptr_t WINAPI FarApiAdvControl(const GUID* APluginId, int ACommand, intptr_t AParam1, void* AParam2);

// Host entry for PluginStartupInfo.PanelControl.
intptr_t WINAPI FarApiPanelControl(HANDLE hPanel, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
