#pragma once
// A fresh temporary folder per test, removed with everything in it afterwards.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <cstdlib>
#include <unistd.h>

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        FPath = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(FPath + "/" + name, std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(FPath + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string FPath;
};
