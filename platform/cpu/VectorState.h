#pragma once
// Threads start with the vector registers' state of the thread that made them. Qt Core's string
// hashing (VAES on newer Xeons) returns with the upper halves of the AVX registers still in use,
// and while they are, every SSE instruction of the thread waits on them: plain scalar and SSE
// arithmetic (the demo signal, the JSON, libm) was found to run up to twice as slow. A thread
// that runs steadily calls this when it starts, and the main thread before its own work. Qt-free.
namespace fm::platform {

// Marks the upper halves of the vector registers unused (VZEROUPPER) where the processor has AVX;
// does nothing elsewhere. Safe at any call: no caller keeps values in them across a call.
void clearUpperVectorState() noexcept;

// Whether the calling thread's upper vector halves are in use (XGETBV with ECX = 1), or nothing
// where the processor cannot tell. For tests.
int upperVectorStateInUse() noexcept;  // 1, 0, or -1 when unknown

}  // namespace fm::platform
