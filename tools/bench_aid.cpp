// tavrolin-bench-aid: two helpers of scripts/bench.sh.
//
//   tavrolin-bench-aid churn MB FILE BYTES
//       Stands for the program that runs between two frames (the next frame's
//       converter, a plotting job): fills MB MiB of fresh memory, page by page, and
//       writes a file of BYTES bytes, then exits, leaving the memory fragmented and
//       the page cache holding the new file.
//   tavrolin-bench-aid anon-peak REPORT COMMAND [ARG ...]
//       Runs COMMAND with the standard streams as they are and samples its anonymous
//       resident memory (RssAnon of /proc/PID/status) every 200 microseconds; writes
//       the largest sample in kB to REPORT. Exits with COMMAND's exit status.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int Churn(size_t megabytes, const char* file, size_t bytes)
{
    std::vector<char*> blocks;
    const size_t block = size_t{1} << 20;
    for (size_t i = 0; i < megabytes; ++i) {
        char* b = static_cast<char*>(std::malloc(block));
        if (b == nullptr) return 1;
        for (size_t at = 0; at < block; at += 4096) b[at] = static_cast<char>(i + at);
        blocks.push_back(b);
    }
    std::FILE* out = std::fopen(file, "wb");
    if (out == nullptr) return 1;
    bool written = true;
    for (size_t done = 0; done < bytes && written;) {
        const size_t n = std::min(block, bytes - done);
        written = std::fwrite(blocks[(done / block) % blocks.size()], 1, n, out) == n;
        done += n;
    }
    written = std::fclose(out) == 0 && written;
    for (char* b : blocks) std::free(b);
    return written ? 0 : 1;
}

long Rss_anon_kb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 8, "RssAnon:") == 0) return std::atol(line.c_str() + 8);
    }
    return -1;
}

int Anon_peak(const char* report, char** command)
{
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    long peak = 0;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        const long kb = Rss_anon_kb(child);
        if (kb > peak) peak = kb;
        usleep(200);
    }
    std::ofstream(report) << peak << "\n";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "churn") == 0) {
        return Churn(std::strtoull(argv[2], nullptr, 10), argv[3], std::strtoull(argv[4], nullptr, 10));
    }
    if (argc >= 4 && std::strcmp(argv[1], "anon-peak") == 0) return Anon_peak(argv[2], argv + 3);
    std::cerr << "Usage: tavrolin-bench-aid churn MB FILE BYTES\n"
                 "       tavrolin-bench-aid anon-peak REPORT COMMAND [ARG ...]\n";
    return 2;
}
