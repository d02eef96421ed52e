#pragma once
// A temporary folder per test, removed with everything in it when the test ends.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

class TTestSandbox {
public:
    TTestSandbox() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qm-detection-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        FRoot = tmpl;
    }
    ~TTestSandbox() {
        std::error_code ec;
        std::filesystem::remove_all(FRoot, ec);
    }
    TTestSandbox(const TTestSandbox&) = delete;
    TTestSandbox& operator=(const TTestSandbox&) = delete;

    std::string Path(const std::string& name) const { return (FRoot / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        const std::filesystem::path p = FRoot / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

private:
    std::filesystem::path FRoot;
};
