// fieldmeter-floor: the least a program doing fieldmeter's job must spend, run beside it by the
// benchmarks so that its CPU time is read against a floor measured in the same run on the same
// machine. It opens the same input through the same back end and takes the level of each
// block; with a window it also puts one fixed picture of the screen's size (320 x 480 points at
// the scale) on the screen ten times a second. Headless it does nothing more than the input and
// the level, and never starts Qt.
#include <signal.h>

#include <dlfcn.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/floor/FloorInput.h"
#include "bench/floor/FloorOptions.h"
#include "bench/floor/FloorWindow.h"

namespace {

using fm::bench::FloorInput;
using fm::bench::FloorOptions;

void say(const std::string& line) {
    std::fprintf(stderr, "fieldmeter-floor: %s\n", line.c_str());
}

// Headless: wait for the duration (or for ever) unless a signal ends the run first. The signals
// are blocked before the input's threads start, so that only this wait takes them.
void waitHeadless(const FloorOptions& options, const sigset_t& ending) {
    if (!options.durationSeconds) {
        int signal = 0;
        sigwait(&ending, &signal);
        return;
    }
    const auto seconds = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    const double end = seconds() + *options.durationSeconds;
    for (;;) {
        const double left = end - seconds();
        if (left <= 0.0) {
            return;
        }
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(left);
        wait.tv_nsec = static_cast<long>((left - static_cast<double>(wait.tv_sec)) * 1e9);
        if (sigtimedwait(&ending, nullptr, &wait) >= 0 || errno != EINTR) {
            return;  // a signal ended the run, or the time is up (EAGAIN)
        }
    }
}

// The window's module, beside this program.
FloorWindowFunction loadWindow(std::string* error) {
    std::error_code ec;
    const auto here = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    const std::string path = (here / kFloorWindowModule).string();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    auto* function = reinterpret_cast<FloorWindowFunction>(dlsym(module, kFloorWindowFunction));
    if (function == nullptr) {
        *error = path + " has no " + kFloorWindowFunction;
    }
    return function;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = fm::bench::parseFloorOptions(args);
    if (!parsed.options) {
        say(parsed.error + " (see --help)");
        return 2;
    }
    const FloorOptions options = *parsed.options;
    if (options.help) {
        std::fputs(fm::bench::floorUsage().c_str(), stdout);
        return 0;
    }

    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    if (options.headless) {
        pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    }

    std::string error;
    FloorWindowFunction showWindow = nullptr;
    if (!options.headless && (showWindow = loadWindow(&error)) == nullptr) {
        say("cannot show a window: " + error);
        return 1;
    }

    std::string note;
    const auto source = fm::bench::chooseFloorInput(options.input, &note);
    if (!note.empty()) {
        say(note);
    }
    FloorInput input;
    if (!input.start(source, &error)) {
        say("cannot start the input: " + error);
        return 1;
    }

    int status = 0;
    if (options.headless) {
        waitHeadless(options, ending);
    } else {
        status =
            showWindow(options.scale.value_or(2.0), options.durationSeconds.value_or(0.0), argv[0]);
    }
    input.stop();
    std::fprintf(stderr, "fieldmeter-floor: %llu blocks, last level %.2f\n",
                 static_cast<unsigned long long>(input.blocks()), input.level());
    return status;
}
