#pragma once
// How a conversion reports its progress and hears a stop; the window shows it, tests script it.

#include <cstdint>

// A validating pass reads; a pass that writes converts.
enum class WorkStep { Reading, Converting };

// What a work step tells the person while it runs, and how it learns that they want it stopped.
// Called from the thread the work runs on and from the reader and converter threads it starts;
// stopIfCancelled from several at once.
class WorkProgress {
public:
    virtual ~WorkProgress() = default;
    // Each throws cancelledByPerson() once the person asked to stop.
    virtual void begin(WorkStep step) = 0;
    // done of total bytes of the input read, before each read.
    virtual void advance(std::uint64_t done, std::uint64_t total) = 0;
    virtual void stopIfCancelled() = 0;
};
