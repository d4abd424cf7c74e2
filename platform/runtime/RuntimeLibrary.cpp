#include "platform/runtime/RuntimeLibrary.h"

#include <dlfcn.h>

namespace qorn::runtime {

void* OpenLibrary(const char* file) {
    return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

void* FindFunction(void* library, const char* name) {
    return dlsym(library, name);
}

} // namespace qorn::runtime
