#include "ExtractArchive.h"

#include <memory>

#include "7ZipExtractAction.h"
#include "GZipExtractAction.h"

int ExtractArchive(int type, const unsigned char* bytes, int64_t length, const char* folder)
{
    std::unique_ptr<IExtractAction> action;
    if (type == kArchiveType7z)
        action = std::make_unique<C7ZipExtractAction>();
    else if (type == kArchiveTypeZip)
        action = std::make_unique<CGZipExtractAction>();
    if (!action)
        return kStoreCodeExtractFailed;
    return action->Extract(bytes, length, folder) == IExtractAction::kExtracted ? kStoreCodeStored
                                                                                : kStoreCodeExtractFailed;
}
