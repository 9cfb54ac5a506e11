#include <dlfcn.h>

#include <stdexcept>

#include "v8host/uV8Library.h"

namespace fr::host {

TV8Library::TV8Library(const std::string& APath) : FHandle(dlopen(APath.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!FHandle) throw std::runtime_error(std::string("cannot load component: ") + dlerror());
}

TV8Library::~TV8Library() {
    dlclose(FHandle);
}

void* TV8Library::Symbol(const char* AName) const {
    return dlsym(FHandle, AName);
}

}  // namespace fr::host
