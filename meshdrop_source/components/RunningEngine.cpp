#include "RunningEngine.h"

#include <win32_ext.h>

#include "ServiceLog.h"
#include "nw/nwCDNLocalWire.h"

void AskRunningEngineToLeave()
{
    DWORD owner = 0;
    DWORD pid = 0;
    if (!W32GetTcpListenerOwner(nwCDNEnginePort(), &owner, &pid) || owner != W32GetCurrentOwner() || pid == 0)
        return;
    WriteServiceLogFormat("[MeshdropLib] Engine Leave (pid %u)", static_cast<unsigned>(pid));
    if (!W32AskProcessToLeave(pid, kLeaveTimeoutMs))
        WriteServiceLogFormat("[MeshdropLib] Engine Leave Fail (pid %u:%u)", static_cast<unsigned>(pid),
                              static_cast<unsigned>(GetLastError()));
}

bool EngineListensForThisUser()
{
    const unsigned port = nwCDNEnginePort();
    DWORD owner = 0;
    if (!W32GetTcpListenerOwner(static_cast<unsigned short>(port), &owner, nullptr)) {
        WriteServiceLogFormat("[MeshdropLib] Engine Not Ready (nothing listens on port %u)", port);
        return false;
    }
    if (owner != W32GetCurrentOwner()) {
        WriteServiceLogFormat("[MeshdropLib] Engine Not Ready (port %u belongs to uid %u)", port,
                              static_cast<unsigned>(owner));
        return false;
    }
    return true;
}
