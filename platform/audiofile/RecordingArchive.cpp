#include "platform/audiofile/RecordingArchive.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console/Console.h"

namespace fm::platform {
namespace {

bool regularFile(const std::string& path, struct stat* st) {
    return ::lstat(path.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// Frames libsndfile can read from the file, or -1 when it cannot read it as audio; *date is the
// recorded date stored in it, if any.
sf_count_t readableFrames(const std::string& path, std::string* date) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        ::close(fd);
        return -1;
    }
    if (const char* text = sf_get_string(file, SF_STR_DATE); text != nullptr) {
        *date = text;
    }
    sf_close(file);
    return info.frames;
}

// Moves `from` to `to` unless `to` exists; errno EEXIST when it does.
bool moveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the no-replace rename: check first (only this program, holding
    // the folder's lock, makes names here).
    if (exists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string recordedDateText(std::time_t when) {
    std::tm local{};
    char text[32] = {};
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return {};
    }
    return text;
}

bool keepLastRecording(const std::string& folder, std::string* keptAs, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    const std::string caf = folder + "/output2.caf";
    struct stat cafStat {};
    if (!regularFile(caf, &cafStat)) {
        return true;  // nothing there, or not a recording of this program (a link, say)
    }
    std::string dateText;
    const sf_count_t frames = readableFrames(caf, &dateText);
    if (frames == 0 || (frames < 0 && cafStat.st_size == 0)) {
        return true;
    }

    // When it was recorded: the date stored in it, else when it was last written.
    std::tm when{};
    const char* end =
        dateText.empty() ? nullptr : ::strptime(dateText.c_str(), "%Y-%m-%d %H:%M:%S", &when);
    if (end == nullptr || *end != '\0') {
        when = std::tm{};
        ::localtime_r(&cafStat.st_mtime, &when);
    }
    when.tm_isdst = -1;
    const std::time_t recordedAt = std::mktime(&when);
    char base[32] = {};
    std::strftime(base, sizeof base, "%Y-%m-%d %H-%M-%S", &when);

    const std::string recordings = folder + "/recordings";
    if (::mkdir(recordings.c_str(), 0755) != 0 && errno != EEXIST) {
        return fail(recordings + ": " + std::strerror(errno));
    }
    struct stat dirStat {};
    if (::lstat(recordings.c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode)) {
        return fail(recordings + ": not a folder (a link or a file is in its place)");
    }

    const std::string raw = folder + "/rawAccel.out";
    struct stat rawStat {};
    const bool motionBelongs = regularFile(raw, &rawStat) && rawStat.st_mtime >= recordedAt;
    // Its summary, written when it stopped, says what its levels were: it goes with it.
    const std::string text = folder + "/output2.txt";
    struct stat textStat {};
    const bool textBelongs = regularFile(text, &textStat) && textStat.st_mtime >= recordedAt;
    for (int n = 1; n < 1000; ++n) {
        const std::string name =
            recordings + "/" + base + (n > 1 ? " (" + std::to_string(n) + ")" : std::string());
        const std::string motion = name + " motion.wav";
        if (exists(motion) || exists(name + ".txt")) {
            continue;
        }
        if (!moveWithoutReplacing(caf, name + ".caf")) {
            if (errno == EEXIST) {
                continue;
            }
            return fail(name + ".caf: " + std::strerror(errno));
        }
        if (keptAs != nullptr) {
            *keptAs = name + ".caf";
        }
        if (motionBelongs && !moveWithoutReplacing(raw, motion)) {
            std::fprintf(stderr, "%s: cannot keep %s as %s: %s\n", fm::platform::programName(),
                         raw.c_str(), motion.c_str(), std::strerror(errno));
        }
        if (textBelongs && !moveWithoutReplacing(text, name + ".txt")) {
            std::fprintf(stderr, "%s: cannot keep %s as %s.txt: %s\n", fm::platform::programName(),
                         text.c_str(), name.c_str(), std::strerror(errno));
        }
        return true;
    }
    return fail(recordings + ": no free name for " + base);
}

}  // namespace fm::platform
