// The benchmark runner's view of a phase: something timed over a known
// number of bytes.
#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace Inkwell::Bench {

struct Phase {
    QString name;
    qint64 bytes = 0;          // the size the MB/s figure is computed from
    std::function<bool()> run; // one timed run; false when the result is wrong
};

// Each area's phases, with their (untimed) set-up already done.
std::vector<Phase> rtfPhases();

} // namespace Inkwell::Bench
