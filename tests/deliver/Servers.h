#pragma once
// Real servers for the delivery tests, started by the project's own scripts, and waiting for
// events with a generous limit.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>
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

// Answers 200, or 400 to a body holding "bad", or never (hang).
struct Receiver {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    bool hang = false;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::string> requests;
    std::vector<int> held;
    std::thread thread;

    explicit Receiver(int wanted, bool hangs = false) : hang(hangs) {
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(wanted));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), size), 0);
        ::listen(fd, 16);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
        thread = std::thread([this] { serve(); });
    }
    ~Receiver() {
        stop = true;
        thread.join();
        for (int c : held) ::close(c);
        ::close(fd);
    }
    void serve() {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            std::string request;
            char buffer[4096];
            for (ssize_t n; (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;) {
                request.append(buffer, static_cast<std::size_t>(n));
                const auto head = request.find("\r\n\r\n");
                const auto length = request.find("Content-Length: ");
                if (head != std::string::npos && length != std::string::npos &&
                    request.size() >= head + 4 + std::stoul(request.substr(length + 16))) {
                    break;
                }
            }
            std::lock_guard lock(mutex);
            requests.push_back(request);
            if (hang) {
                held.push_back(c);
                continue;
            }
            const std::string answer = request.find("bad") != std::string::npos
                                           ? "HTTP/1.1 400 Bad Request\r\n"
                                           : "HTTP/1.1 200 OK\r\n";
            const std::string all = answer + "Content-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(c, all.data(), all.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }
    std::vector<std::string> bodies() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& r : requests) out.push_back(r.substr(r.find("\r\n\r\n") + 4));
        return out;
    }
};

}  // namespace fm::deliver::test
