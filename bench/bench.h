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
    // When set, the figure reported for a run is this value (ms) measured by
    // the run itself (e.g. the first screen of an open), not its wall time.
    std::function<double()> measured = {};
};

// Each area's phases, with their (untimed) set-up already done.
std::vector<Phase> rtfPhases();
std::vector<Phase> editorPhases();
std::vector<Phase> hostilePhases();
std::vector<Phase> richPhases();

} // namespace Inkwell::Bench
