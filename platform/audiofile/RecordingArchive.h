#pragma once
// Keeps the last recording before "output2.caf" is made anew. A file there that holds at least
// one frame (or that cannot be read as a recording at all, but is not empty) is moved into the
// documents folder's "recordings" folder, named by the date and time it was recorded, for
// example "recordings/2026-12-07 22-15-03.caf"; the "rawAccel.out" written at its end goes with
// it as "recordings/2026-12-07 22-15-03 motion.wav", and its summary "output2.txt" as
// "recordings/2026-12-07 22-15-03.txt". Nothing there is ever replaced: a name
// already taken gets " (2)", " (3)", ... added.
#include <ctime>
#include <string>

namespace fm::platform {

// The text stored in a new recording as the date it was recorded: "2026-12-07 22:15:03",
// local time.
std::string recordedDateText(std::time_t when);

// Moves the recording in `folder`/output2.caf, if there is one, into `folder`/recordings.
// Returns true when nothing needed keeping or it was kept (*keptAs then names the new file);
// false with the reason in *error when a recording is there but could not be moved: the caller
// must not replace it.
bool keepLastRecording(const std::string& folder, std::string* keptAs, std::string* error);

}  // namespace fm::platform
