#include "report/LevelLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace fm::report {

namespace {

// Fixed-point text that does not depend on the locale (a decimal comma would break the CSV).
void appendFixed(std::string* out, double value, int decimals) {
    if (!std::isfinite(value)) {
        value = measure::kLevelFloorDb;  // never expected; keeps the column numeric
    }
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out->append(text, result.ptr);
}

std::string systemError(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace

std::string levelLogHeader() {
    return "time_utc,LAeq_1s_dB,LAFmax_1s_dB,LCpeak_1s_dB,LZeq_1s_dB,raw_level,yaw_deg,"
           "calibrated,frames_dropped\n";
}

std::string utcTimeWithMilliseconds(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {  // before 1970: the division rounded towards zero
        millis += 1000;
        seconds -= 1;
    }
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string out(text, n);
    char frac[8];
    const int m = std::snprintf(frac, sizeof frac, ".%03ldZ", millis);
    out.append(frac, static_cast<std::size_t>(m));
    return out;
}

std::string levelLogRow(std::chrono::system_clock::time_point time,
                        const measure::SoundLevelSnapshot& levels, const LevelLogExtras& extras) {
    std::string row = utcTimeWithMilliseconds(time);
    for (double level : {levels.LAeq1s, levels.LAFmax1s, levels.LCpeak1s, levels.LZeq1s}) {
        row += ',';
        appendFixed(&row, level, 2);
    }
    row += ',';
    appendFixed(&row, extras.rawLevel, 2);
    row += ',';
    appendFixed(&row, extras.yawDegrees, 1);
    row += levels.calibrated ? ",1," : ",0,";
    row += std::to_string(extras.framesDropped);
    row += '\n';
    return row;
}

std::unique_ptr<LevelLogFile> LevelLogFile::open(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError(path, errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = systemError(path, errno);
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<LevelLogFile> log(new LevelLogFile(path, fd));
    if (info.st_size == 0) {
        if (!log->append(levelLogHeader(), error)) {
            return nullptr;
        }
        return log;
    }
    // A power cut can leave the last row without its end; the next row starts on a line of its
    // own rather than being glued to it.
    char last = '\n';
    if (const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); reader >= 0) {
        if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    if (last != '\n' && !log->append("\n", error)) {
        return nullptr;
    }
    return log;
}

LevelLogFile::LevelLogFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {
    syncer_ = std::thread([this] { syncLoop(); });
}

LevelLogFile::~LevelLogFile() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    syncer_.join();
    ::fdatasync(fd_);
    ::close(fd_);
}

void LevelLogFile::syncLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kSyncInterval, [this] { return stopping_; })) {
        lock.unlock();
        ::fdatasync(fd_);
        lock.lock();
    }
}

bool LevelLogFile::append(const std::string& row, std::string* error) {
    ssize_t written;
    do {
        written = ::write(fd_, row.data(), row.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(row.size())) {
        return true;
    }
    if (written < 0) {
        *error = systemError(path_, errno);
        return false;
    }
    // The disk took only part of the row (full, or over a size limit): cut that part off again,
    // so that the file still ends with a whole row.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end >= written) {
        [[maybe_unused]] const int cut = ::ftruncate(fd_, end - written);
    }
    *error = path_ + ": the disk took only " + std::to_string(written) + " of " +
             std::to_string(row.size()) + " bytes of a row (full?)";
    return false;
}

}  // namespace fm::report
