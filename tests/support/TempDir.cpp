#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace sonrigo::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sonrigo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
{
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
    return file.string();
}

std::filesystem::path CorpusDir()
{
    const std::filesystem::path dir = SONRIGO_CORPUS_DIR;
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

}  // namespace sonrigo::test
