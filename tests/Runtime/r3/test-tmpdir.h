// Test helper: a directory of its own under the system temporary directory for each
// test, removed again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class TmpDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("olma-") + info->name() + "-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_dir, ec);
    }

    static std::filesystem::path fromUtf8(const std::string &s) {
        return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t *>(s.c_str()), s.size()));
    }
    static std::string toUtf8(const std::filesystem::path &p) {
        std::u8string s = p.u8string();
        return std::string(reinterpret_cast<const char *>(s.c_str()), s.size());
    }
    /** A path in the test directory, as UTF-8 text for the runtime. */
    std::string path(const std::string &name) const { return toUtf8(m_dir / fromUtf8(name)); }
    /** A path whose last part is taken byte for byte, for names that are not valid UTF-8. */
    std::string rawPath(const std::string &bytes) const { return toUtf8(m_dir) + "/" + bytes; }
    std::filesystem::path fsPath(const std::string &name) const { return m_dir / fromUtf8(name); }

    void writeFile(const std::string &name, const std::string &content) const {
        std::ofstream out(fsPath(name), std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::string readFile(const std::string &name) const {
        std::ifstream in(fsPath(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool exists(const std::string &name) const {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(fsPath(name), ec));
    }
    size_t entryCount() const {
        size_t c = 0;
        for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator(m_dir))
            c++;
        return c;
    }

    std::filesystem::path m_dir;
};
