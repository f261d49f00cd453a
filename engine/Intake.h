#pragma once

// Intake of live traffic batches and the merge of each record into its live aircraft.

#include <cstdint>
#include <vector>

#include "records/TrafficRecords.h"

namespace qmt {

// Stamps every record of g_trafficRecords with its play tick (around the batch's median
// report time, DELAY seconds from now) and hands the batch to the worker: delay 30 is a
// live batch, 0 to 24 the buffered history batches at start. Called by the traffic reader.
// Records with a non-finite time, position or speed, or a hex id of 10000 or less, are dropped.
void gf_intakeTrafficBatch(int32_t DELAY);
// Registers gf_intakeTrafficBatch as the place where the traffic reader hands its batches.
void gf_attachIntake();

// Worker: merges the history batches handed over by the reader, in the order they came.
// The tick calls it first, so the reader never touches the live aircraft list.
void gf_mergeHistoryBatches();

// Merges one record into the live aircraft it belongs to, or makes a new one.
void lf_mergeLiveRecord(LiveTrafficRecord& RECORD);
void lf_addNewLiveAc(LiveTrafficRecord& RECORD);
void lf_newLiveAc(LiveTrafficRecord& RECORD);

// History batches from the reader waiting for the worker; guarded by g_batchMutex (taken alone).
extern std::vector<std::vector<LiveTrafficRecord>> g_historyBatches;

// Empties the history batches and attaches the intake to the reader, as the start-up does.
void gf_resetIntakeForTests();

} // namespace qmt
