#include "night/worker_pool.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>


#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/signals.h"
#include "input/input_file.h"
#include "night/night_cleanup.h"

namespace {

using Clock = std::chrono::steady_clock;

// The whole file `name` (empty when it can't be read); memory that runs out throws.
std::string Read_text(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::string text;
    char block[8192];
    while (file.read(block, sizeof block) || file.gcount() > 0) text.append(block, size_t(file.gcount()));
    return text;
}

// The progress line on standard error, when it is a terminal.
class Progress {
public:
    explicit Progress(size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
    void Show(size_t done)
    {
        if (!shown_) return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        std::fprintf(stderr, "\r\033[K%zu of %zu frames done, %.0f s elapsed", done, total_, elapsed);
        if (done > 0 && done < total_) {
            std::fprintf(stderr, ", about %.0f s left", elapsed / double(done) * double(total_ - done));
        }
        std::fflush(stderr);
    }
    void Clear()
    {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }
    void End()
    {
        if (shown_) std::fprintf(stderr, "\n");
    }

private:
    size_t total_;
    bool shown_;
    Clock::time_point start_ = Clock::now();
};

// A name or a reason as the console shows it: control bytes as \xNN, so that each
// frame stays on its line and nothing reaches the terminal raw.
std::string Shown(const std::string& text)
{
    return Shown_token(text, std::string::npos);
}

std::string Frame_line(const FrameRecord& record)
{
    // Memory that runs out throws here as anywhere, instead of cutting the text short.
    std::ostringstream line;
    line.exceptions(std::ios::badbit);
    const std::string name = Shown(record.name);
    if (record.measured) {
        line << name << ": measured, scaling coefficient " << record.coefficient
             << " at row " << record.row90;
        if (record.has_uncertainty && !record.beam_found) {
            line << "\n" << name << ": most rows weak (a faint beam): measured with their errors";
        }
    } else {
        line << name << ": failed (code " << record.code << "): "
             << (record.message.empty() ? "no reason given" : Shown(record.message)) << ", skipped";
    }
    return line.str();
}

// What a worker's exit status says when it left no result: it ran out of memory, it
// could not write its result file (the system's error number added to
// worker_result_not_written; error numbers stay below 128, so the status stays below
// 256), or none of these.
constexpr int worker_gave_no_result = 1;
constexpr int worker_out_of_memory = 3;
constexpr int worker_result_not_written = 64;

// A worker: measures frame `index` and leaves its record in `result`; never returns.
[[noreturn]] void Work(const NightFrame& frame, const std::string& preamble, const std::string& result,
                       pid_t night)
{
    // A night that ends, however it ends, ends its workers too.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != night) _exit(worker_gave_no_result);
    try {
        const FrameRecord record = Measure_night_frame(frame, preamble);
        const Failure failure = Write_product_file(result, Worker_result(record));
        if (!failure) _exit(0);
        _exit(failure.error > 0 && failure.error < 128 ? worker_result_not_written + failure.error
                                                       : worker_gave_no_result);
    } catch (const std::bad_alloc&) {
        Remove_temporary_product();
        _exit(worker_out_of_memory);
    }
}

// The record of a frame whose worker, ended with `status`, left no result.
FrameRecord Without_result(int status)
{
    FrameRecord record;
    record.code = exit_bad_picture;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status)) {
        record.message = "the worker measuring it ended by signal " + std::to_string(WTERMSIG(status));
    } else if (code == worker_out_of_memory) {
        record.message = "not enough memory to measure it";
    } else if (code > worker_result_not_written && code < worker_result_not_written + 128) {
        record.code = exit_product_not_written;
        record.message = std::string("the worker measuring it could not write its result: ") +
                         std::strerror(code - worker_result_not_written);
    } else {
        record.message = "the worker measuring it gave no result";
    }
    return record;
}

}  // namespace

// Measures every frame in up to `jobs` worker processes at a time; the records come
// back in command-line order.
std::vector<FrameRecord> Measure_frames(const std::vector<NightFrame>& frames, unsigned jobs,
                                        const std::string& preamble, const std::string& results,
                                        const std::function<void()>& meanwhile)
{
    std::vector<FrameRecord> records(frames.size());
    std::vector<bool> done(frames.size(), false);
    std::map<pid_t, size_t> running;
    size_t next = 0, finished = 0, printed = 0;
    Progress progress(frames.size());
    progress.Show(0);
    auto result_file = [&](size_t i) { return results + "/" + std::to_string(i) + ".result"; };
    const pid_t night = getpid();
    int tries = 0;   // of starting a worker while none runs
    bool meanwhile_due = static_cast<bool>(meanwhile);
    while (finished < frames.size()) {
        while (running.size() < jobs && next < frames.size()) {
            std::cout.flush();
            std::fflush(nullptr);
            pid_t child;
            {
                EndingSignalsHeld held;
                child = fork();
                if (child > 0) Keep_child(child);
                if (child == 0) Set_ending_cleanup(nullptr);   // the night's, not the worker's
            }
            if (child == 0) Work(frames[next], preamble, result_file(next), night);
            if (child < 0) {
                // The system can't make a process just now (EAGAIN: too many): wait
                // for a running worker to end and try again; with none running, try a
                // few times before the frame is given up.
                if (!running.empty()) break;
                if (++tries <= 20) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                records[next].name = frames[next].name;
                records[next].file = frames[next].file;
                records[next].code = exit_bad_picture;
                records[next].message = std::string("Can't start a worker process: ") + std::strerror(errno);
                done[next] = true;
                ++finished;
            } else {
                running[child] = next;
                tries = 0;
            }
            ++next;
        }
        if (meanwhile_due) {
            meanwhile_due = false;
            meanwhile();
        }
        if (running.empty()) continue;
        int status = 0;
        const pid_t child = waitpid(-1, &status, 0);
        if (child < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto worker = running.find(child);
        if (worker == running.end()) continue;
        const size_t i = worker->second;
        running.erase(worker);
        Forget_child(child);
        if (WIFSIGNALED(status)) Remove_worker_leftovers(frames[i].folder, result_file(i));
        FrameRecord& record = records[i];
        if (!Record_from_worker_result(Read_text(result_file(i)), record)) {
            record = Without_result(status);
        }
        record.name = frames[i].name;
        record.file = frames[i].file;
        std::remove(result_file(i).c_str());
        done[i] = true;
        ++finished;
        progress.Clear();
        for (; printed < frames.size() && done[printed]; ++printed) {
            std::cout << Frame_line(records[printed]) << std::endl;
        }
        progress.Show(finished);
    }
    if (meanwhile_due) meanwhile();
    progress.Clear();
    for (; printed < frames.size(); ++printed) std::cout << Frame_line(records[printed]) << std::endl;
    progress.End();
    return records;
}
