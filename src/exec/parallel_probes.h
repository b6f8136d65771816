// Probing many hosts at once: a numbered series of jobs (one host each) with up
// to Probes of them in flight. Each job runs its command lines one after
// another, each writing its report into work files of the job's slot; once a
// job and every job before it have ended, the stage collects it, so whatever a
// stage does with the reports happens in job order, as in a one-by-one run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exec/command_runner.h"
#include "state/run_state.h"

constexpr size_t SLOT_PATH_SIZE = WORK_PATH_SIZE + 4;  // room for "_SSS"

// What a stage tells the runner about its jobs.
struct ProbeJobs {
    // Builds the command line of step `step` (from 0) of job `job` in slot
    // `slot`; false when the job has no further step.
    bool (*BuildStep)(uint32_t job, int step, int slot, CommandLine* command);
    // Called once per job, in job order, after its last step has ended; false
    // ends the series (the jobs still running are waited for).
    bool (*Collect)(uint32_t job, int slot);
    // Work files of the stage that each slot has a copy of ("tmp03.txt" gives
    // "tmp03_SS.txt"), step k writing the copy of the k-th; removed before the
    // series, when a step's command cannot be started, and after the series,
    // and emptied before each of the slot's later jobs.
    const int* SlotWorkFiles;
    int SlotWorkFileCount;
};

// Runs jobs first to end - 1 with up to State.Settings.Probes in flight.
// False when Collect ended the series early.
bool RunProbeJobs(uint32_t first, uint32_t end, const ProbeJobs& jobs);

// The slot's copy of a work file: the work file's path with "_SS" (the slot as
// two digits, three from slot 100 on) before its extension.
void SlotFilePath(int work_file, int slot, char* path, size_t size);

// Adds the report in slot_path to the end of target_path (after emptying it
// when replace is set), byte for byte; slot_path stays, to be emptied for the
// slot's next job. A missing slot file (its command could not be started) leaves the
// target untouched, as a redirection that never ran would. A target that
// cannot be written whole is noted as a lost work file.
void CollectSlotFile(const char* slot_path, const char* target_path, bool replace);
