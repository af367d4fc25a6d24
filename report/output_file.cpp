#include "report/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace rivulon {

namespace {

constexpr mode_t kPageMode = 0644;  // as a plain fopen would leave it under a usual umask
constexpr const char* kTemporaryStem = ".rivulon-";
constexpr size_t kPidDigits = 7;    // process ids stay below 2^22 on Linux
constexpr size_t kRandomChars = 6;  // the XXXXXX of mkstemp

// The temporaries this process has open, for remove_open_temporaries. A slot
// is claimed (0 -> 1) before its name is written and marked ready (2) after,
// so that neither another thread nor a signal handler reads a half-written
// name; lock-free atomics keep this async-signal-safe. A temporary that finds
// no free slot is still written, only not removed on a signal (the next run
// removes it as stale).
constexpr int kSlots = 64;
constexpr size_t kMaxPath = 4096;
struct TemporarySlot {
  char path[kMaxPath];
  std::atomic<int> state;  // 0 free, 1 being claimed, 2 holds a name
};
static_assert(std::atomic<int>::is_always_lock_free);
TemporarySlot g_slots[kSlots];

int claim_slot(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void release_slot(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0);
}

std::string directory_of(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// The process id a temporary's name carries, or -1 when the name is not of the form.
pid_t temporary_pid(const char* name) {
  const size_t stem = std::strlen(kTemporaryStem);
  if (std::strncmp(name, kTemporaryStem, stem) != 0) return -1;
  if (std::strlen(name) != stem + kPidDigits + 1 + kRandomChars) return -1;
  pid_t pid = 0;
  for (size_t i = 0; i < kPidDigits; ++i) {
    const char c = name[stem + i];
    if (c < '0' || c > '9') return -1;
    pid = pid * 10 + (c - '0');
  }
  return name[stem + kPidDigits] == '-' ? pid : -1;
}

}  // namespace

std::string temporary_prefix(pid_t pid) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07ld", static_cast<long>(pid) % 10000000);
  return std::string(kTemporaryStem) + digits + "-";
}

bool OutputFile::open(const std::string& final_name) {
  discard();
  std::string pattern = directory_of(final_name) + temporary_prefix(getpid()) + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // No SIGINT or SIGTERM between creating the temporary and listing it, so
  // that the handler finds every temporary there is.
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  int fd = mkstemp(name.data());
  if (fd >= 0) slot_ = claim_slot(name.data());
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) return false;
  // mkstemp creates the file for its owner only; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, kPageMode & ~mask);
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    unlink(name.data());
    release_slot(slot_);
    slot_ = -1;
    return false;
  }
  stream_ = f;
  final_name_ = final_name;
  temp_name_ = name.data();
  return true;
}

bool OutputFile::finish() {
  if (stream_ == nullptr) return false;
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  ok = (std::fclose(stream_) == 0) && ok;
  stream_ = nullptr;
  if (!ok) discard();
  return ok;
}

bool OutputFile::put_in_place() {
  if (stream_ != nullptr || temp_name_.empty()) return false;
  const bool ok = std::rename(temp_name_.c_str(), final_name_.c_str()) == 0;
  if (!ok) std::remove(temp_name_.c_str());
  release_slot(slot_);
  slot_ = -1;
  temp_name_.clear();
  return ok;
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_name_.empty()) {
    std::remove(temp_name_.c_str());
    temp_name_.clear();
  }
  release_slot(slot_);
  slot_ = -1;
}

void remove_open_temporaries() {
  for (TemporarySlot& slot : g_slots) {
    if (slot.state.load() == 2) unlink(slot.path);
  }
}

int remove_stale_temporaries(const std::string& dir, std::time_t before) {
  DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
  if (folder == nullptr) return 0;
  int removed = 0;
  const int dir_fd = dirfd(folder);
  while (const dirent* entry = readdir(folder)) {
    const pid_t pid = temporary_pid(entry->d_name);
    if (pid <= 0 || pid == getpid()) continue;
    struct stat info {};
    if (fstatat(dir_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_uid != getuid() || info.st_mtime >= before) continue;
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // that run may still be writing
    if (unlinkat(dir_fd, entry->d_name, 0) == 0) ++removed;
  }
  closedir(folder);
  return removed;
}

}  // namespace rivulon
