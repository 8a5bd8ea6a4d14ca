// The classes of the network library that CreateInstance can make. A class
// adds its line here when it is written; identifiers without a class create
// nothing.

#include "ov/ovClassFactory.h"
#include "ov/ovClassIds.h"

#include <new>

#include "nw/nwCStreamDispatcher.h"

namespace {

template <class T>
ovIUnknown* CreateObject()
{
    return new (std::nothrow) T();
}

constexpr ovClassEntry kLibraryClasses[] = {
    {OVCLS_STREAM_DISPATCHER, &CreateObject<nwCStreamDispatcher>},
};

} // namespace

std::span<const ovClassEntry> ovLibraryClasses()
{
    return kLibraryClasses;
}
