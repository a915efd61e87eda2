#include "night/worker_pool.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/product_file.h"
#include "base/run_codes.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string Read_text(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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

std::string Frame_line(const FrameRecord& record)
{
    std::ostringstream line;
    if (record.measured) {
        line << record.name << ": measured, scaling coefficient " << record.coefficient
             << " at row " << record.row90;
        if (record.has_uncertainty && !record.beam_found) {
            line << "\n" << record.name << ": no beam found along the path";
        }
    } else {
        line << record.name << ": failed (code " << record.code << "): "
             << (record.message.empty() ? "no reason given" : record.message) << ", skipped";
    }
    return line.str();
}

// A worker: measures frame `index` and leaves its record in `result`; never returns.
[[noreturn]] void Work(const NightFrame& frame, const std::string& preamble, const std::string& result)
{
    const FrameRecord record = Measure_night_frame(frame, preamble);
    const Failure failure = Write_product_file(result, Frame_to_json(record, true).dump());
    _exit(failure ? 1 : 0);
}

}  // namespace

// Measures every frame in up to `jobs` worker processes at a time; the records come
// back in command-line order.
std::vector<FrameRecord> Measure_frames(const std::vector<NightFrame>& frames, unsigned jobs,
                                        const std::string& preamble, const std::string& results)
{
    std::vector<FrameRecord> records(frames.size());
    std::vector<bool> done(frames.size(), false);
    std::map<pid_t, size_t> running;
    size_t next = 0, finished = 0, printed = 0;
    Progress progress(frames.size());
    progress.Show(0);
    auto result_file = [&](size_t i) { return results + "/" + std::to_string(i) + ".json"; };
    while (finished < frames.size()) {
        while (running.size() < jobs && next < frames.size()) {
            std::cout.flush();
            std::fflush(nullptr);
            const pid_t child = fork();
            if (child == 0) Work(frames[next], preamble, result_file(next));
            if (child < 0) {
                records[next].name = frames[next].name;
                records[next].file = frames[next].file;
                records[next].code = exit_bad_picture;
                records[next].message = "Can't start a worker process";
                done[next] = true;
                ++finished;
            } else {
                running[child] = next;
            }
            ++next;
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
        FrameRecord& record = records[i];
        try {
            record = Frame_from_json(json::parse(Read_text(result_file(i))));
        } catch (const json::exception&) {
            record = FrameRecord();
            record.code = exit_bad_picture;
            record.message = WIFSIGNALED(status)
                                 ? "the worker measuring it ended by signal " +
                                       std::to_string(WTERMSIG(status))
                                 : "the worker measuring it gave no result";
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
    progress.Clear();
    for (; printed < frames.size(); ++printed) std::cout << Frame_line(records[printed]) << std::endl;
    progress.End();
    return records;
}
