#include "platform/transports/TransportsModule.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace fm::platform {
namespace {

namespace fs = std::filesystem;

struct Loaded {
    void* handle = nullptr;
    std::string path;
    std::string error;
};

// Installed: beside the program's own prefix. A program that runs from the build tree (tests,
// benches, the programs before `cmake --install`) takes the tree's module; an installed one never
// falls back to a build folder. Empty, with why, when the program cannot find itself.
fs::path modulePath(std::string* why) {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        *why = "cannot tell where the program is (/proc/self/exe: " + ec.message() + ")";
        return {};
    }
    const fs::path installed = (exe.parent_path() / FM_TRANSPORTS_INSTALLED).lexically_normal();
    if (fs::exists(installed, ec)) return installed;
    const fs::path tree = fs::weakly_canonical(FM_BUILD_TREE, ec);
    const auto [end, unused] = std::mismatch(tree.begin(), tree.end(), exe.begin(), exe.end());
    if (!ec && !tree.empty() && end == tree.end()) return fs::path(FM_TRANSPORTS_BUILD_PATH);
    return installed;
}

const Loaded& loaded() {
    static Loaded module;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string why;
        module.path = modulePath(&why).string();
        if (module.path.empty()) {
            module.error = "cannot load the transports module: " + why;
            return;
        }
        module.handle = ::dlopen(module.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module.handle == nullptr) {
            // dlerror's text mostly starts with the path already.
            const char* text = ::dlerror();
            why = text != nullptr ? text : "unknown error";
            if (why.starts_with(module.path + ": ")) why.erase(0, module.path.size() + 2);
            module.error = "cannot load " + module.path + ": " + why;
        }
    });
    return module;
}

}  // namespace

void* transportsFunction(const char* name, std::string* error) {
    const Loaded& module = loaded();
    if (module.handle == nullptr) {
        if (error) *error = module.error;
        return nullptr;
    }
    void* function = ::dlsym(module.handle, name);
    if (function == nullptr && error) *error = module.path + " has no " + name;
    return function;
}

}  // namespace fm::platform
