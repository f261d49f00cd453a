#pragma once

// Intake of live traffic batches and the merge of each record into its live aircraft.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "records/TrafficRecords.h"

namespace qmt {

// ---- batches waiting for the worker ----
//
// The Traffic Reader's thread puts them here through gf_intakeTrafficBatch; the worker takes them
// in its tick. Lock order: g_batchMutex is taken alone.

// Guards g_bufferedTraffic and g_historyBatches.
extern std::mutex g_batchMutex;
// The live batch handed over; the tick takes two records a tick from its back. A live batch
// that comes while the last one is not yet taken is dropped whole.
extern std::vector<LiveTrafficRecord> g_bufferedTraffic;
// The five history batches at start, merged whole by the worker in the order they came.
extern std::vector<std::vector<LiveTrafficRecord>> g_historyBatches;
// Whether a live batch may be handed over: while the session's main loop runs.
extern std::atomic<bool> g_acceptBatches;

// Stamps every record of BATCH with its play tick (around the batch's median report time, DELAY
// seconds from now) and keeps the batch for the worker: delay 30 is a live batch, 0 to 24 a
// history batch at start. Called by the traffic reader; BATCH is empty afterwards.
// Records with a non-finite time, position or speed, or a hex id of 10000 or less, are dropped.
void gf_intakeTrafficBatch(std::vector<LiveTrafficRecord>& BATCH, int32_t DELAY);
// Registers gf_intakeTrafficBatch as the place where the traffic reader hands its batches.
void gf_attachIntake();
// Worker: live batches are taken from the session's start (ACCEPT) until its closing down.
void gf_acceptLiveBatches(bool ACCEPT);
// Worker, after a session: drops the batches still waiting, so that none is merged into the next.
void gf_dropWaitingBatches();

// Worker: merges the history batches handed over by the reader, in the order they came.
// The tick calls it first, so the reader never touches the live aircraft list. While the reader
// hands a batch over, they wait for the next tick.
void gf_mergeHistoryBatches();
// Worker, once per tick: moves up to RECORDS.size() records from the back of g_bufferedTraffic
// into RECORDS and answers how many; none while the reader hands a batch over.
std::size_t gf_takeLiveRecords(std::span<LiveTrafficRecord> RECORDS);

// Merges one record into the live aircraft it belongs to, or makes a new one.
void lf_mergeLiveRecord(LiveTrafficRecord& RECORD);
void lf_addNewLiveAc(LiveTrafficRecord& RECORD);
void lf_newLiveAc(LiveTrafficRecord& RECORD);

// Empties the waiting batches, refuses live batches and attaches the intake to the reader, as
// the start-up does.
void gf_resetIntakeForTests();

} // namespace qmt
