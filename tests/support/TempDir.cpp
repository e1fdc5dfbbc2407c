#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
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

int ForEachCorpusFile(const std::function<void(const std::filesystem::path&, const std::vector<std::string>&)>& visit)
{
    std::ifstream manifest(CorpusDir() / "MANIFEST.tsv");
    int files = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, '\t');)
            fields.push_back(field);
        visit(CorpusDir() / fields[0], fields);
        ++files;
    }
    return files;
}

}  // namespace sonrigo::test
