#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sonrigo::test {

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file of that name inside the directory; returns its path.
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path path_;
};

// Where the shared MIDI corpus lives; empty when it is not there.
std::filesystem::path CorpusDir();
// Calls visit with the path and the tab-separated fields of each file the
// corpus manifest lists (the path is fields[0]); returns how many it listed.
int ForEachCorpusFile(const std::function<void(const std::filesystem::path&, const std::vector<std::string>&)>& visit);

}  // namespace sonrigo::test
