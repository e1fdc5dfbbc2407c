#pragma once

#include <string>

namespace sonrigo {

// One shared library loaded with dlopen (symbols bound at once, kept out of
// the global namespace so that two plug-ins never resolve each other's
// symbols). Closed exactly once: by close() or by the destructor. Not shared
// between threads while it is opened or closed.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    struct OpenResult {
        bool ok = false;
        std::string error;  // when !ok: "PATH: why", said so that a user can act on it
    };

    // Loads the library at path, closing any library this object held first.
    // A bare file name means a file in the current folder, never a search of
    // the library path. Only a regular file (links followed) built for this
    // machine is handed to the loader: anything else is refused with its
    // reason, and a FIFO never makes the loader wait.
    OpenResult open(const std::string& path);
    // The address of an exported symbol, or null (also when nothing is open).
    void* symbol(const char* name) const;
    void close();
    bool isOpen() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

}  // namespace sonrigo
