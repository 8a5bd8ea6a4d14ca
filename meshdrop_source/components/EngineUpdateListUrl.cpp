#include "EngineUpdateListUrl.h"

#include <cstdlib>

std::string EngineUpdateListUrl()
{
    const char* configured = std::getenv("MESHDROP_UPDATE_LIST_URL");
    if (configured != nullptr && configured[0] != '\0')
        return configured;
    return QLS_UPDATE_LIST_URL;
}
