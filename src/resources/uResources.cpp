#include "resources/uResources.h"

#include "base/uStrings.h"

namespace fr {

const std::string_view* FindResource(std::string_view AName) {
    for (const TEmbeddedResource* R = kEmbeddedResources; R->Name; ++R)
        if (SameTextAscii(R->Name, AName)) return &R->Data;
    return nullptr;
}

}  // namespace fr
