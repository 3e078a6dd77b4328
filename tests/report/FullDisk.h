#pragma once
// A real file system that fills up: a small tmpfs mounted for the test (root may mount one),
// and a file that takes all of its room until it is removed. Unmounted with the object.
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fm::test {

class FullDisk {
  public:
    explicit FullDisk(const std::string& name, std::size_t bytes = 256 * 1024)
        : root_(std::filesystem::temp_directory_path() /
                ("fm-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root_);
        const std::string size = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", root_.c_str(), "tmpfs", 0, size.c_str()) == 0;
    }
    ~FullDisk() {
        if (mounted_) {
            ::umount2(root_.c_str(), MNT_DETACH);
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    // False when this process may not mount one (not root): the test is skipped, saying so.
    bool mounted() const { return mounted_; }
    const std::filesystem::path& root() const { return root_; }

    // Takes every byte left.
    void fill() {
        std::ofstream filler(root_ / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
               filler.flush()) {
        }
    }
    void makeRoom() { std::filesystem::remove(root_ / "filler"); }

  private:
    std::filesystem::path root_;
    bool mounted_ = false;
};

}  // namespace fm::test
