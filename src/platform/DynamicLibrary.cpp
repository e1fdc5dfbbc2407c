#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace sonrigo {

DynamicLibrary::~DynamicLibrary()
{
    close();
}

DynamicLibrary::OpenResult DynamicLibrary::open(const std::string& path)
{
    close();
    // A path without a slash would make dlopen search the library path
    // instead of opening the file the user chose.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr)
        return {true, {}};
    const char* reason = dlerror();
    return {false, reason != nullptr ? reason : "unknown error"};
}

void* DynamicLibrary::symbol(const char* name) const
{
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    return ::dlsym(handle_, name);
}

void DynamicLibrary::close()
{
    if (handle_ == nullptr)
        return;
    ::dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace sonrigo
