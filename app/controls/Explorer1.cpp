#include "Explorer1.h"

void CExplorer1::Navigate(LPCWSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
{
    AfxBrowserNavigate(this, url);
}
