#include "exec/parallel_probes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kNotRunning = -1;
// Each slot runs one command at a time.
static_assert(MAX_PROBES <= MAX_STARTED_COMMANDS, "every slot's command can run at once");

// One slot of the window: the job it holds and where that job stands.
struct Slot {
    uint32_t Job;
    int Step;
    int CommandId;  // the running command, or kNotRunning
    bool Ended;     // the job's last step has ended
};

// The series in progress. Jobs NextCollect to NextStart - 1 are in flight, job
// j in slot (j - First) % Width, so no two of them share a slot.
struct Series {
    const ProbeJobs* Jobs;
    uint32_t First;
    uint32_t End;
    uint32_t NextStart;
    uint32_t NextCollect;
    int Width;
    Slot Slots[MAX_PROBES];
};

int SlotOf(const Series& series, uint32_t job) {
    return static_cast<int>((job - series.First) % static_cast<uint32_t>(series.Width));
}

void RemoveSlotFiles(const ProbeJobs& jobs, int slot) {
    char path[SLOT_PATH_SIZE];
    for (int k = 0; k < jobs.SlotWorkFileCount; ++k) {
        SlotFilePath(jobs.SlotWorkFiles[k], slot, path, sizeof path);
        std::remove(path);
    }
}

// An interrupted run removes the slots' files along with the work files.
void WatchSlotFiles(const ProbeJobs& jobs, int width) {
    char path[SLOT_PATH_SIZE];
    for (int slot = 0; slot < width; ++slot) {
        for (int k = 0; k < jobs.SlotWorkFileCount; ++k) {
            SlotFilePath(jobs.SlotWorkFiles[k], slot, path, sizeof path);
            PlatformWatchWorkFile(path);
        }
    }
}

// The slot's copy of the work file a step writes, when it has one.
void RemoveStepFile(const ProbeJobs& jobs, int slot, int step) {
    if (step >= jobs.SlotWorkFileCount) return;
    char path[SLOT_PATH_SIZE];
    SlotFilePath(jobs.SlotWorkFiles[step], slot, path, sizeof path);
    std::remove(path);
}

// Starts the job's current step, or the first later one that can be started:
// a command that cannot be started counts as ended with no report, so the
// report an earlier job left in its file goes.
void StartStep(Series* series, int slot_index) {
    Slot& slot = series->Slots[slot_index];
    CommandLine command;
    while (series->Jobs->BuildStep(slot.Job, slot.Step, slot_index, &command)) {
        slot.CommandId = PlatformStartCommand(command.Text);
        if (slot.CommandId != kNotRunning) return;
        RemoveStepFile(*series->Jobs, slot_index, slot.Step);
        ++slot.Step;
    }
    slot.CommandId = kNotRunning;
    slot.Ended = true;
}

// Empties the slot's copies of the work files. They stay from job to job,
// which costs the file system much less than making them anew; each step's
// redirection empties its file too, but a command that starts and never
// redirects (an interpreter that runs nothing) would leave the last job's
// report there, to be collected a second time.
void EmptySlotFiles(const ProbeJobs& jobs, int slot) {
    char path[SLOT_PATH_SIZE];
    for (int k = 0; k < jobs.SlotWorkFileCount; ++k) {
        SlotFilePath(jobs.SlotWorkFiles[k], slot, path, sizeof path);
        std::FILE* file = std::fopen(path, "wb");
        if (file == nullptr || std::fclose(file) != 0) NoteLostWorkFile(errno);
    }
}

void StartJob(Series* series, uint32_t job) {
    int slot_index = SlotOf(*series, job);
    // A slot's first job finds no slot files: the series removed them first.
    if (job - series->First >= static_cast<uint32_t>(series->Width)) {
        EmptySlotFiles(*series->Jobs, slot_index);
    }
    series->Slots[slot_index] = Slot{job, 0, kNotRunning, false};
    StartStep(series, slot_index);
}

bool WindowHasRoom(const Series& series) {
    return series.NextStart < series.End &&
           series.NextStart - series.NextCollect < static_cast<uint32_t>(series.Width);
}

// Collects the ended jobs at the head of the window, in order. False when the
// stage ends the series.
bool CollectEndedJobs(Series* series) {
    while (series->NextCollect < series->NextStart) {
        int slot_index = SlotOf(*series, series->NextCollect);
        if (!series->Slots[slot_index].Ended) return true;
        if (!series->Jobs->Collect(series->NextCollect, slot_index)) return false;
        ++series->NextCollect;
    }
    return true;
}

// Waits for one command to end and moves its job on to its next step.
void AwaitOneCommand(Series* series) {
    int ended = PlatformWaitAnyCommand();
    for (int i = 0; i < series->Width; ++i) {
        Slot& slot = series->Slots[i];
        if (slot.CommandId == kNotRunning) continue;
        // With nothing left to wait for, no command of ours is running either.
        if (ended != kNotRunning && slot.CommandId != ended) continue;
        ++slot.Step;
        StartStep(series, i);
        if (ended != kNotRunning) return;
    }
}

bool AnyRunning(const Series& series) {
    for (int i = 0; i < series.Width; ++i) {
        if (series.Slots[i].CommandId != kNotRunning) return true;
    }
    return false;
}

// Lets the commands still running end (when the stage ended the series early)
// and leaves no slot file behind.
void EndSeries(Series* series) {
    while (AnyRunning(*series)) {
        int ended = PlatformWaitAnyCommand();
        for (int i = 0; i < series->Width; ++i) {
            Slot& slot = series->Slots[i];
            if (ended == kNotRunning || slot.CommandId == ended) slot.CommandId = kNotRunning;
        }
    }
    for (int i = 0; i < series->Width; ++i) RemoveSlotFiles(*series->Jobs, i);
}

}  // namespace

bool RunProbeJobs(uint32_t first, uint32_t end, const ProbeJobs& jobs) {
    Series series{};
    series.Jobs = &jobs;
    series.First = first;
    series.End = end;
    series.NextStart = first;
    series.NextCollect = first;
    int width = State.Settings.Probes;
    series.Width = width < 1 ? 1 : (width > MAX_PROBES ? MAX_PROBES : width);
    for (Slot& slot : series.Slots) slot = Slot{0, 0, kNotRunning, true};
    WatchSlotFiles(jobs, series.Width);
    for (int i = 0; i < series.Width; ++i) RemoveSlotFiles(jobs, i);  // an earlier series' reports
    bool collected_all = true;
    while (series.NextCollect < series.End) {
        // A report lost to a full disk ends the run once the commands in
        // flight have ended.
        if (PlatformLostWorkFileReason() != nullptr) break;
        while (WindowHasRoom(series)) StartJob(&series, series.NextStart++);
        collected_all = CollectEndedJobs(&series);
        if (!collected_all) break;
        if (WindowHasRoom(series) || series.NextCollect == series.End) continue;
        AwaitOneCommand(&series);
    }
    EndSeries(&series);
    EndRunIfWorkFileLost();
    return collected_all;
}

void SlotFilePath(int work_file, int slot, char* path, size_t size) {
    const char* work_path = State.Files.Path[work_file];
    size_t length = std::strlen(work_path);
    size_t name_end = length;  // where the extension starts, if the name has one
    for (size_t i = length; i > 0 && work_path[i - 1] != '/' && work_path[i - 1] != '\\'; --i) {
        if (work_path[i - 1] == '.') {
            name_end = i - 1;
            break;
        }
    }
    std::snprintf(path, size, "%.*s_%02d%s", static_cast<int>(name_end), work_path, slot,
                  work_path + name_end);
}

void CollectSlotFile(const char* slot_path, const char* target_path, bool replace) {
    FILE* report = std::fopen(slot_path, "rb");
    if (report == nullptr) return;
    FILE* target = std::fopen(target_path, replace ? "wb" : "ab");
    bool written = target != nullptr;
    if (target != nullptr) {
        char buffer[4096];
        size_t count = 0;
        while (written && (count = std::fread(buffer, 1, sizeof buffer, report)) > 0) {
            written = std::fwrite(buffer, 1, count, target) == count;
        }
        written = std::fclose(target) == 0 && written;
    }
    if (!written) NoteLostWorkFile(errno != 0 ? errno : EIO);
    std::fclose(report);
}
