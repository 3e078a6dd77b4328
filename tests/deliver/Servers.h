#pragma once
// Real servers for the delivery tests, started by the project's own scripts, and waiting for
// events with a generous limit.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fm::deliver::test {

template <typename Predicate>
bool waitFor(Predicate done, std::chrono::seconds limit = std::chrono::seconds(90)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One server in its folder; start() again after stop() gives the same port and data.
struct Server {
    std::string script, dir, args;
    pid_t pid = 0;
    int port = 0;
    bool start() {
        const std::string command =
            std::string(FM_SOURCE_DIR) + "/scripts/" + script + " " + dir + " " + args + " 2>&1";
        FILE* p = ::popen(command.c_str(), "r");
        char line[4096] = {0};
        const bool got = p && std::fgets(line, sizeof line, p) != nullptr;
        if (p) ::pclose(p);
        pid = got ? std::atoi(line) : 0;
        port = std::atoi(readText(dir + "/port").c_str());
        return pid > 0 && port > 0;
    }
    // SIGTERM (a broker saves its sessions) and wait until it is gone.
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        waitFor([&] {
            const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
            return stat.empty() || stat.find(") Z") != std::string::npos;
        });
        pid = 0;
    }
    ~Server() { stop(); }
};

inline std::string freshDir(const std::string& name) {
    const std::string dir =
        std::string(FM_BINARY_DIR) + "/test-deliver/" + name + "-" + std::to_string(::getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace fm::deliver::test
