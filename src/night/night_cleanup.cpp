#include "night/night_cleanup.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/run_codes.h"
#include "base/signals.h"
#include "night/night_names.h"

namespace {

// The handler reads only what is written here before it is enabled, or slots
// written as one sig_atomic_t with the ending signals held.
std::vector<std::string> folders_to_remove;
constexpr size_t most_children = 4100;   // --jobs at most 4096, and gnuplot
volatile sig_atomic_t children[most_children];
constexpr size_t name_capacity = 4096;
char work_folder[name_capacity];
volatile sig_atomic_t work_folder_kept = 0;
constexpr size_t most_temporaries = 4;
char temporaries[most_temporaries][name_capacity];
volatile sig_atomic_t temporaries_kept = 0;

// Copies `name` into `to` when it fits; false otherwise.
bool Copy_name(const std::string& name, char* to)
{
    if (name.size() >= name_capacity) return false;
    std::memcpy(to, name.c_str(), name.size() + 1);
    return true;
}

// Unlinks every entry of the folder and removes it, with system calls only (the
// directory entries read by getdents64): safe in a signal handler.
void Empty_and_remove(const char* folder)
{
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        alignas(8) char entries[8192];
        for (;;) {
            const long got = syscall(SYS_getdents64, descriptor, entries, sizeof entries);
            if (got <= 0) break;
            for (long at = 0; at < got;) {
                // struct linux_dirent64: inode (8), offset (8), length (2), type (1), name
                unsigned short length;
                std::memcpy(&length, entries + at + 16, sizeof length);
                const char* name = entries + at + 19;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) unlinkat(descriptor, name, 0);
                at += length;
            }
        }
        close(descriptor);
    }
    rmdir(folder);
}

extern "C" void Clean_up_night(int)
{
    for (size_t i = 0; i < most_children; ++i) {
        if (children[i] > 0) kill(pid_t(children[i]), SIGTERM);
    }
    for (size_t i = 0; i < most_children; ++i) {
        if (children[i] <= 0) continue;
        while (waitpid(pid_t(children[i]), nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (sig_atomic_t i = 0; i < temporaries_kept; ++i) unlink(temporaries[i]);
    if (work_folder_kept) Empty_and_remove(work_folder);
    for (auto folder = folders_to_remove.rbegin(); folder != folders_to_remove.rend(); ++folder) {
        rmdir(folder->c_str());
    }
}

}  // namespace

void Start_night_cleanup(const std::vector<std::string>& folders_made)
{
    EndingSignalsHeld held;
    folders_to_remove = folders_made;
    Set_ending_cleanup(Clean_up_night);
}

void End_night_cleanup()
{
    EndingSignalsHeld held;
    Clean_up_night(0);
    Set_ending_cleanup(nullptr);
}

void Keep_work_folder(const std::string& folder)
{
    EndingSignalsHeld held;
    work_folder_kept = Copy_name(folder, work_folder) ? 1 : 0;
}

void Forget_work_folder()
{
    work_folder_kept = 0;
}

void Keep_child(pid_t child)
{
    EndingSignalsHeld held;
    for (size_t i = 0; i < most_children; ++i) {
        if (children[i] <= 0) {
            children[i] = child;
            return;
        }
    }
}

void Forget_child(pid_t child)
{
    EndingSignalsHeld held;
    for (size_t i = 0; i < most_children; ++i) {
        if (children[i] == child) children[i] = 0;
    }
}

void Keep_night_temporary(const std::string& name)
{
    EndingSignalsHeld held;
    if (temporaries_kept < sig_atomic_t(most_temporaries) && Copy_name(name, temporaries[temporaries_kept])) {
        temporaries_kept = temporaries_kept + 1;
    }
}

void Forget_night_temporaries()
{
    temporaries_kept = 0;
}

void Remove_worker_leftovers(const std::string& frame_folder, const std::string& result)
{
    // mkstemp's names: the product's name, a dot and six characters.
    const auto is_temporary_of = [](const std::string& name, const std::string& product) {
        return name.size() == product.size() + 7 && name.compare(0, product.size(), product) == 0 &&
               name[product.size()] == '.';
    };
    const auto remove_in = [&](const std::string& folder, const std::vector<std::string>& products) {
        DIR* entries = opendir(folder.c_str());
        if (entries == nullptr) return;
        std::vector<std::string> found;
        while (const dirent* entry = readdir(entries)) {
            for (const std::string& product : products) {
                if (is_temporary_of(entry->d_name, product)) found.push_back(folder + "/" + entry->d_name);
            }
        }
        closedir(entries);
        for (const std::string& name : found) unlink(name.c_str());
    };
    remove_in(frame_folder,
              {corrected_picture_name, data_table_name, frame_console_name, row_profile_name, frame_quicklook_name});
    const size_t slash = result.find_last_of('/');
    remove_in(slash == std::string::npos ? "." : result.substr(0, slash),
              {slash == std::string::npos ? result : result.substr(slash + 1)});
}

void Remove_folder_and_files(const std::string& folder)
{
    EndingSignalsHeld held;
    Empty_and_remove(folder.c_str());
}
