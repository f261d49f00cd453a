// Samples of the running process for a long run: once a minute one line of a CSV file with the
// process's memory, the size of every list and map that the engine, the parking and the livery
// tables keep, the records older than their rules allow, the learned half-hours, the log's size
// and the loop's lateness. scripts/soak reads it.
#pragma once

#include <string>

namespace qmt {

// From now on gf_writeSoakSample appends to PATH (its header first when it is new).
void gf_startSoakSampling(const std::string& PATH);
// One line, when sampling runs (the worker, every minute).
void gf_writeSoakSample();

} // namespace qmt
