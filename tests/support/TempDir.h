#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonrigo::test {

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "sonrigo-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary directory");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file of that name inside the directory; returns its path.
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
        return file.string();
    }

private:
    std::filesystem::path path_;
};

// Where the shared MIDI corpus lives; empty when it is not there.
inline std::filesystem::path CorpusDir()
{
    const std::filesystem::path dir = SONRIGO_CORPUS_DIR;
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

// Calls visit with the path and the tab-separated fields of each file the
// corpus manifest lists (the path is fields[0]); returns how many it listed.
inline int ForEachCorpusFile(
    const std::function<void(const std::filesystem::path&, const std::vector<std::string>&)>& visit)
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
