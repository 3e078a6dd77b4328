#pragma once
// A real file system that fills up: a small tmpfs mounted for the test (root may mount one),
// filled by a file until it is removed. Unmounted with the object.
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fm::test {

struct FullDisk {
    explicit FullDisk(const std::string& name, std::size_t bytes)
        : root(std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root);
        mounted = ::mount("tmpfs", root.c_str(), "tmpfs", 0,
                          ("size=" + std::to_string(bytes)).c_str()) == 0;
    }
    ~FullDisk() {
        ::umount2(root.c_str(), MNT_DETACH);
        std::filesystem::remove_all(root);
    }
    void fill() {
        std::ofstream filler(root / "filler", std::ios::binary);
        for (const std::string block(4096, 'x'); filler.write(block.data(), 4096).flush();) {
        }
    }
    std::filesystem::path root;
    bool mounted = false;  // false when this process may not mount one (not root)
};

}  // namespace fm::test
