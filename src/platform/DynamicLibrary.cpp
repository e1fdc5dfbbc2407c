#include "platform/DynamicLibrary.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sonrigo {
namespace {

// The processor this program runs on, as an ELF header names it; 0 where
// this list does not know it, which leaves that check to the loader.
constexpr unsigned kOwnMachine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__i386__)
    EM_386;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__riscv)
    EM_RISCV;
#else
    0;
#endif
constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kOwnByteOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
// The identification bytes, the file type and the machine.
constexpr std::size_t kHeaderBytes = EI_NIDENT + 4;

std::string MachineName(unsigned machine)
{
    switch (machine) {
    case EM_386:
        return "32-bit x86";
    case EM_X86_64:
        return "x86-64";
    case EM_ARM:
        return "32-bit ARM";
    case EM_AARCH64:
        return "64-bit ARM";
    case EM_RISCV:
        return "RISC-V";
    case EM_PPC64:
        return "64-bit PowerPC";
    default:
        return "processor " + std::to_string(machine);
    }
}

// Why the file at `name` cannot be a library of this program, told from
// what it is and its first bytes; empty when the loader may try it. The
// loader's own words for these cases mislead: a library for another
// processor is "No such file or directory", a short text file "file too
// short", and a FIFO keeps it waiting for a writer forever.
std::string Refusal(const std::string& name)
{
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return "a folder, not a library";
    if (!S_ISREG(info.st_mode))
        return S_ISFIFO(info.st_mode) ? "not a regular file (a FIFO)" : "not a regular file";
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    std::array<unsigned char, kHeaderBytes> header{};
    const ssize_t got = ::read(fd, header.data(), header.size());
    ::close(fd);
    if (got >= 2 && header[0] == 'M' && header[1] == 'Z')
        return "a Windows library: only Linux plug-ins (.so) load";
    if (got < static_cast<ssize_t>(header.size()) || std::memcmp(header.data(), ELFMAG, SELFMAG) != 0)
        return "not a shared library (no ELF header)";
    if (header[EI_CLASS] != kOwnClass)
        return std::string("built for ") + (header[EI_CLASS] == ELFCLASS32 ? "32" : "64") + "-bit processors, not for this " +
               (kOwnClass == ELFCLASS32 ? "32" : "64") + "-bit program";
    if (header[EI_DATA] != kOwnByteOrder)
        return "built for a processor of the other byte order";
    const unsigned machine = kOwnByteOrder == ELFDATA2LSB ? header[EI_NIDENT + 2] | header[EI_NIDENT + 3] << 8
                                                          : header[EI_NIDENT + 2] << 8 | header[EI_NIDENT + 3];
    if (kOwnMachine != 0 && machine != kOwnMachine)
        return "built for " + MachineName(machine) + ", not for this machine's " + MachineName(kOwnMachine);
    return {};
}

// The loader's reason, with a missing symbol said in words (and a C++ name
// shown as the plug-in's source spells it).
std::string LoaderReason(const std::string& path, const char* error)
{
    if (error == nullptr)
        return path + ": unknown error";
    const std::string text = error;
    constexpr std::string_view kUndefined = "undefined symbol: ";
    const std::size_t at = text.find(kUndefined);
    if (at == std::string::npos)
        return text;
    std::string symbol = text.substr(at + kUndefined.size());
    int status = -1;
    if (char* readable = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status); readable != nullptr) {
        symbol = readable;
        std::free(readable);
    }
    return path + ": needs " + symbol + ", which no library defines (undefined symbol)";
}

}  // namespace

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
    if (std::string refusal = Refusal(name); !refusal.empty())
        return {false, path + ": " + refusal};
    dlerror();
    handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr)
        return {true, {}};
    return {false, LoaderReason(path, dlerror())};
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
