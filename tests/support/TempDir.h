#pragma once
// A fresh temporary folder per test, removed with everything in it afterwards (also the folders
// a test made read-only).
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <cstdlib>
#include <unistd.h>

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    ~TTempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(FPath, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code entryEc;
            if (it->is_directory(entryEc) && !it->is_symlink(entryEc))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, entryEc);
        }
        fs::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

    // Writes name (its folders made as needed) and returns its full path.
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string path = *this / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string Read(const std::string& name) const { return ReadWholeFile(*this / name); }

private:
    std::string FPath;
};
