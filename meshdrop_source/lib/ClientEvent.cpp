#include "ClientEvent.h"

void RaiseClientEvent(const ClientEventTarget& target, UINT code, LPARAM param)
{
    if (target.window != nullptr)
        PostMessageA(target.window, MESHDROPLIB_WM_EVENT, static_cast<WPARAM>(code), param);
    if (target.callback != nullptr)
        target.callback(code, param, target.userValue);
}
