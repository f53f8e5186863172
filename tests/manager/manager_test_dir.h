// A scratch directory for the manager support tests: made fresh under the
// test temporary directory, removed with everything in it at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class ManagerTestDir {
public:
    ManagerTestDir() {
        std::string pattern = ::testing::TempDir() + "qel-manager-test-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        }
        m_path = pattern;
    }
    ~ManagerTestDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ManagerTestDir(const ManagerTestDir&) = delete;
    ManagerTestDir& operator=(const ManagerTestDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

    // Writes `content` to `name` (parents created) and returns the full path.
    std::string write(const std::string& name, const std::string& content) const {
        std::filesystem::path full = file(name);
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full.string();
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_path;
};
