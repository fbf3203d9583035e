// Reference counting shared by every object the service hands out. Release on the last reference
// destroys the object; a process-wide count of live objects backs the leak checks in the tests.
#pragma once

#include <cstddef>

#include "ImageService/Direct3D/Types.h"

namespace ImageService {

class IUnknown {
public:
    ULONG AddRef() { return ++references; }
    ULONG Release();
    // For the service's own bookkeeping: whether anyone but the asker holds the object.
    ULONG referenceCount() const { return references; }

    static std::size_t liveCount();

protected:
    IUnknown();
    virtual ~IUnknown();
    IUnknown(const IUnknown&) = delete;
    IUnknown& operator=(const IUnknown&) = delete;

private:
    ULONG references = 1;
};

}  // namespace ImageService
