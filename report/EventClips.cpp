#include "report/EventClips.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace fm::report {

namespace {

constexpr std::size_t kChunkFrames = 8192;
// Begins and ends waiting for the writer: far more than any run of events in seconds.
constexpr std::size_t kMarkers = 64;
// What a WAV header of this writer takes at most, before any sample.
constexpr std::uint64_t kHeaderBytes = 4096;

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

std::string clipBaseName(std::int64_t ns) {
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm local{};
    char text[32] = {};
    if (::localtime_r(&seconds, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H-%M-%S", &local) == 0) {
        return "event";
    }
    return text;
}

EventClips::EventClips(Options options)
    : options_(std::move(options)),
      samples_(std::max<std::size_t>(options_.queueFrames, 1)),
      markers_(kMarkers),
      chunk_(kChunkFrames) {
    thread_ = std::thread([this] { run(); });
    ::pthread_setname_np(thread_.native_handle(), "fm-event-clips");
}

void EventClips::stop() {
    if (thread_.joinable()) {
        closing_.store(true);
        wake();
        thread_.join();
    }
}

void EventClips::wake() {
    wakeCount_.fetch_add(1, std::memory_order_release);
    wakeCount_.notify_one();
}

bool EventClips::begin(std::int64_t startNs, std::uint64_t leastFrames) {
    // Room for its end as well, so that a clip begun is always ended.
    if (markers_.write_available() < 2) {
        return false;
    }
    Marker m;
    m.begin = true;
    m.at = handedOver_;
    m.startNs = startNs;
    m.leastFrames = leastFrames;
    markers_.push(m);
    wake();
    return true;
}

std::size_t EventClips::write(const float* samples, std::size_t frames) {
    const std::size_t n = samples_.push(samples, frames);
    handedOver_ += n;
    if (n > 0) {
        wake();
    }
    return n;
}

bool EventClips::end(const EventRecord& event) {
    Marker m;
    m.at = handedOver_;
    m.event = event;
    if (!markers_.push(m)) {
        return false;
    }
    wake();
    return true;
}

bool EventClips::takeFinished(Finished* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_.empty()) {
        return false;
    }
    *out = std::move(finished_.front());
    finished_.pop_front();
    return true;
}

void EventClips::run() {
    for (;;) {
        // Read before the work: a wake-up that comes during it ends the next wait at once.
        const std::uint32_t seen = wakeCount_.load(std::memory_order_acquire);
        const bool closing = closing_.load();
        work();
        if (closing) {
            return;
        }
        wakeCount_.wait(seen, std::memory_order_acquire);
    }
}

void EventClips::work() {
    for (;;) {
        // Samples counted here were pushed after every marker that precedes them: those
        // markers are seen below.
        const std::size_t available = samples_.read_available();
        const Marker* next = markers_.read_available() > 0 ? &markers_.front() : nullptr;
        std::uint64_t due = available;
        if (next != nullptr) {
            due = std::min<std::uint64_t>(due, next->at - taken_);
        }
        if (due > 0) {
            const std::size_t n =
                samples_.pop(chunk_.data(),
                             static_cast<std::size_t>(std::min<std::uint64_t>(due, chunk_.size())));
            taken_ += n;
            append(chunk_.data(), n);
            continue;
        }
        if (next == nullptr) {
            return;
        }
        const Marker marker = *next;
        markers_.pop();
        if (marker.begin) {
            open(marker);
        } else {
            close(marker.event);
        }
    }
}

std::uint64_t EventClips::bytesOfClips() const {
    std::uint64_t total = 0;
    DIR* dir = ::opendir(options_.folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0 &&
            ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            total += static_cast<std::uint64_t>(info.st_size);
        }
    }
    ::closedir(dir);
    return total;
}

void EventClips::refuse(const std::string& why) {
    refusal_ = why;
    if (clip_) {
        writtenFrames_ = clip_->frames();
        clip_->remove();
        clip_.reset();
    }
}

void EventClips::open(const Marker& marker) {
    clip_.reset();
    refusal_.clear();
    writtenFrames_ = 0;
    // The folder removed while the program runs is made again.
    ::mkdir(options_.folder.c_str(), 0755);
    // The clips there now: those from before this run, this run's, and any the user removed.
    othersBytes_ = bytesOfClips();
    const std::uint64_t least = kHeaderBytes + marker.leastFrames * sizeof(float);
    if (othersBytes_ + least > options_.budgetBytes) {
        refuse("the clips in " + options_.folder + " (" + megabytes(othersBytes_) +
               ") would pass their budget of " + megabytes(options_.budgetBytes));
        return;
    }
    std::string error;
    clip_ = fm::platform::FloatWavFile::create(options_.folder, clipBaseName(marker.startNs),
                                               options_.sampleRate, &error);
    if (!clip_) {
        refusal_ = "cannot write " + error;
    }
}

void EventClips::append(const float* samples, std::size_t frames) {
    if (!clip_) {
        return;  // not kept: its samples go nowhere
    }
    if (othersBytes_ + clip_->bytes() + frames * sizeof(float) > options_.budgetBytes) {
        refuse("the clips in " + options_.folder + " would pass their budget of " +
               megabytes(options_.budgetBytes) + " with this one");
        return;
    }
    std::string error;
    if (!clip_->append(samples, frames, &error)) {
        refuse("cannot write " + error);
    }
}

void EventClips::close(const EventRecord& event) {
    Finished done;
    done.event = event;
    if (clip_ && event.missingFrames > 0) {
        refuse(std::to_string(event.missingFrames) +
               " frames of it are missing: the disk was too slow to take them");
    }
    if (!event.clipBegun) {
        done.refusal = "the clip writer was too far behind to take it";
    } else if (clip_) {
        done.clip = clip_->fileName();
        done.writtenFrames = clip_->frames();
        clip_.reset();
    } else {
        done.refusal = refusal_;
        done.writtenFrames = writtenFrames_;
    }
    refusal_.clear();
    writtenFrames_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back(std::move(done));
}

}  // namespace fm::report
