#include "report/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/syscall.h>

#include <array>
#include <cstddef>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace rivulon {

// An entry of the list of temporaries this process has open, read by
// remove_open_temporaries (possibly in a signal handler, so without a lock:
// the list only grows, at its head, and entries are reused, never freed).
// An entry is claimed (state 1) before its name is written and marked ready
// (2) after, so that a reader never sees a half-written name.
struct ListedTemporary {
  std::atomic<int> state{0};  // 0 free, 1 being written, 2 holds a name
  ListedTemporary* next = nullptr;
  size_t capacity = 0;
  char* path = nullptr;
  bool folder = false;  // a temporary folder of files (no subfolders), removed with them
};

namespace {

constexpr mode_t kPageMode = 0644;  // as a plain fopen would leave it under a usual umask
constexpr const char* kTemporaryStem = ".rivulon-";
constexpr size_t kPidDigits = 7;    // process ids stay below 2^22 on Linux
constexpr size_t kRandomChars = 6;  // the XXXXXX of mkstemp
constexpr size_t kHostChars = 64;

static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<ListedTemporary*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<ListedTemporary*> g_listed{nullptr};
// Free entries by the size class of their name buffer (64 << k bytes).
constexpr size_t kClasses = 8;
std::mutex g_free_lock;
std::array<std::vector<ListedTemporary*>, kClasses> g_free;
// Creating a temporary and listing it happen between an increment and a
// decrement of g_in_flight; once g_closing is set, no temporary is created.
std::atomic<int> g_in_flight{0};
std::atomic<bool> g_closing{false};

size_t size_class(size_t bytes) {
  size_t k = 0;
  while (k + 1 < kClasses && (size_t{64} << k) < bytes) ++k;
  return k;
}

// Lists `path`; nullptr when the name is too long to keep. May throw
// std::bad_alloc.
ListedTemporary* list_temporary(const std::string& path, bool folder = false) {
  const size_t bytes = path.size() + 1;
  const size_t k = size_class(bytes);
  if ((size_t{64} << k) < bytes) return nullptr;
  ListedTemporary* entry = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_free_lock);
    if (!g_free[k].empty()) {
      entry = g_free[k].back();
      g_free[k].pop_back();
    }
  }
  if (entry == nullptr) {
    auto fresh = std::make_unique<ListedTemporary>();
    fresh->capacity = size_t{64} << k;
    fresh->path = new char[fresh->capacity];
    entry = fresh.release();
    entry->state.store(1);
    ListedTemporary* head = g_listed.load();
    do {
      entry->next = head;
    } while (!g_listed.compare_exchange_weak(head, entry));
  } else {
    entry->state.store(1);
  }
  std::memcpy(entry->path, path.c_str(), bytes);
  entry->folder = folder;
  entry->state.store(2);
  return entry;
}

void unlist_temporary(ListedTemporary* entry) {
  if (entry == nullptr) return;
  entry->state.store(0);
  std::lock_guard<std::mutex> guard(g_free_lock);
  try {
    g_free[size_class(entry->capacity)].push_back(entry);
  } catch (const std::bad_alloc&) {
    // The entry stays in the list, unused: a few bytes lost, nothing else.
  }
}

std::string directory_of(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// This host's name as temporaries carry it: letters, digits, '.' and '-'
// kept, any other byte as '_', at most 64 characters.
const std::string& host_label() {
  static const std::string label = [] {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') std::strcpy(name, "localhost");
    std::string out;
    for (size_t i = 0; name[i] != '\0' && out.size() < kHostChars; ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-';
      out += kept ? static_cast<char>(c) : '_';
    }
    return out;
  }();
  return label;
}

// The process id a temporary's name carries when it is one of this host's
// temporaries, or -1.
pid_t temporary_pid(const char* name) {
  const std::string& host = host_label();
  const size_t stem = std::strlen(kTemporaryStem);
  if (std::strncmp(name, kTemporaryStem, stem) != 0) return -1;
  if (std::strlen(name) != stem + host.size() + 1 + kPidDigits + 1 + kRandomChars) return -1;
  if (std::strncmp(name + stem, host.c_str(), host.size()) != 0 || name[stem + host.size()] != '-') return -1;
  const char* digits = name + stem + host.size() + 1;
  pid_t pid = 0;
  for (size_t i = 0; i < kPidDigits; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    pid = pid * 10 + (digits[i] - '0');
  }
  return digits[kPidDigits] == '-' ? pid : -1;
}

// The signals a program may end by after removing its temporaries, held
// back on this thread while a temporary is created and listed, so that a
// handler on this thread never waits for it.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t block;
    sigemptyset(&block);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&block, s);
    pthread_sigmask(SIG_BLOCK, &block, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// A temporary's name in `dir`, with the XXXXXX mkstemp and mkdtemp fill in.
std::vector<char> temporary_pattern(const std::string& dir) {
  const std::string pattern = dir + temporary_prefix(getpid()) + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  return name;
}

// Creates a temporary (`create` true when it did) and lists it, with the
// ending signals held back meanwhile; `undo` removes it again when it cannot
// be listed. nullptr when nothing was created.
template <typename Create, typename Undo>
ListedTemporary* create_listed(const std::vector<char>& name, bool folder, Create create, Undo undo) {
  SignalsHeld held;
  g_in_flight.fetch_add(1);
  if (g_closing.load()) {
    // The process is ending by a signal; it will not wait for this thread.
    g_in_flight.fetch_sub(1);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  ListedTemporary* listed = nullptr;
  if (create()) {
    try {
      listed = list_temporary(name.data(), folder);
    } catch (const std::bad_alloc&) {
      undo();
      g_in_flight.fetch_sub(1);
      throw;
    }
  }
  g_in_flight.fetch_sub(1);
  return listed;
}

// Removes a folder of files and the files it holds (a folder inside it, and
// so the folder itself, stays), with calls a signal handler may make.
void remove_flat_folder(const char* path) {
  struct Entry {  // as getdents64 writes them
    ino64_t inode;
    off64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
  };
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    alignas(8) char buffer[4096];
    for (long n; (n = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0;) {
      for (long at = 0; at < n;) {
        const auto* e = reinterpret_cast<const Entry*>(buffer + at);
        const char* name = buffer + at + offsetof(Entry, name);
        if (e->type != DT_DIR) unlinkat(fd, name, 0);
        at += e->length;
      }
    }
    close(fd);
  }
  rmdir(path);
}

}  // namespace

std::string temporary_prefix(pid_t pid) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07ld", static_cast<long>(pid) % 10000000);
  return std::string(kTemporaryStem) + host_label() + "-" + digits + "-";
}

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    stream_ = other.stream_;
    final_name_ = std::move(other.final_name_);
    temp_name_ = std::move(other.temp_name_);
    listed_ = other.listed_;
    other.stream_ = nullptr;
    other.final_name_.clear();
    other.temp_name_.clear();
    other.listed_ = nullptr;
  }
  return *this;
}

bool OutputFile::open(const std::string& final_name) {
  discard();
  // A name too long for the file system fails now, not at the rename.
  const size_t slash = final_name.find_last_of('/');
  if (final_name.size() - (slash == std::string::npos ? 0 : slash + 1) > NAME_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  // An earlier output this user may not write stays as it is; one that is
  // replaced keeps its permissions.
  struct stat earlier {};
  const bool exists = stat(final_name.c_str(), &earlier) == 0;
  const bool replacing = exists && S_ISREG(earlier.st_mode);
  if (exists && access(final_name.c_str(), W_OK) != 0) {
    errno = EACCES;
    return false;
  }
  std::vector<char> name = temporary_pattern(directory_of(final_name));
  int fd = -1;
  listed_ = create_listed(name, false, [&] {
    fd = mkstemp(name.data());
    return fd >= 0;
  }, [&] {
    close(fd);
    unlink(name.data());
  });
  if (fd < 0) return false;
  // mkstemp creates the file for its owner only; give it the usual permissions.
  if (replacing) {
    fchmod(fd, earlier.st_mode & 07777);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, kPageMode & ~mask);
  }
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    close(fd);
    unlink(name.data());
    unlist_temporary(listed_);
    listed_ = nullptr;
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
  unlist_temporary(listed_);
  listed_ = nullptr;
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
  unlist_temporary(listed_);
  listed_ = nullptr;
}

void remove_open_temporaries() {
  g_closing.store(true);
  // A temporary being created on another thread is listed within moments.
  while (g_in_flight.load() != 0) sched_yield();
  for (ListedTemporary* entry = g_listed.load(); entry != nullptr; entry = entry->next) {
    if (entry->state.load() != 2) continue;
    if (entry->folder) {
      remove_flat_folder(entry->path);
    } else {
      unlink(entry->path);
    }
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
    const bool is_folder = S_ISDIR(info.st_mode);
    if ((!S_ISREG(info.st_mode) && !is_folder) || info.st_uid != getuid() || info.st_mtime > before) continue;
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // that run may still be writing
    if (is_folder) {
      remove_flat_folder((dir.empty() ? std::string(entry->d_name) : dir + "/" + entry->d_name).c_str());
      ++removed;
    } else if (unlinkat(dir_fd, entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  closedir(folder);
  return removed;
}

int lock_folder(const std::string& dir, bool alone) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -2;
  if (flock(fd, (alone ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? -1 : -2;
  }
  return fd;
}

void release_folder(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace rivulon

namespace rivulon {

OutputFolder::~OutputFolder() { discard(); }

bool OutputFolder::open(const std::string& final_name) {
  discard();
  std::string name = final_name;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  std::vector<char> pattern = temporary_pattern(directory_of(name));
  bool made = false;
  listed_ = create_listed(pattern, true, [&] { return made = mkdtemp(pattern.data()) != nullptr; },
                          [&] { rmdir(pattern.data()); });
  if (!made) return false;
  // mkdtemp makes the folder for its owner only; give it the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  chmod(pattern.data(), 0755 & ~mask);
  final_name_ = name;
  temp_name_ = pattern.data();
  return true;
}

bool OutputFolder::put_in_place() {
  if (temp_name_.empty()) return false;
  struct stat earlier {};
  bool ok = false;
  if (lstat(final_name_.c_str(), &earlier) != 0) {
    ok = std::rename(temp_name_.c_str(), final_name_.c_str()) == 0;
  } else if (S_ISDIR(earlier.st_mode)) {
    // One rename swaps the folders; the earlier one, now under the temporary
    // name, is removed after.
    ok = renameat2(AT_FDCWD, temp_name_.c_str(), AT_FDCWD, final_name_.c_str(), RENAME_EXCHANGE) == 0;
  }
  if (!ok) {
    discard();
    return false;
  }
  remove_flat_folder(temp_name_.c_str());  // the earlier folder's files; never a folder inside it
  unlist_temporary(listed_);
  listed_ = nullptr;
  temp_name_.clear();
  return true;
}

void OutputFolder::discard() {
  if (!temp_name_.empty()) {
    remove_flat_folder(temp_name_.c_str());
    temp_name_.clear();
  }
  unlist_temporary(listed_);
  listed_ = nullptr;
}

}  // namespace rivulon
