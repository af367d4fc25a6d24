#include "driver/run_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/output_file.h"
#include "report/page.h"

namespace rivulon {

namespace {

// Everything the signal handler and the out-of-memory path read lives in
// fixed buffers filled beforehand: writing the failure page allocates nothing.
constexpr size_t kMaxPath = 4096;
char g_report_page[kMaxPath];   // the report page's name
char g_failure_temp[kMaxPath];  // the failure page's temporary: .rivulon-PPPPPPP-failed beside it
char g_lock_path[kMaxPath];
char g_head[4096];              // the page head every page begins with
size_t g_head_size = 0;
volatile sig_atomic_t g_guarding = 0;  // a failure page is due if the run ends now
volatile sig_atomic_t g_locked = 0;
int g_lock_fd = -1;

bool copy_name(char* out, const std::string& name) {
  if (name.size() >= kMaxPath) return false;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return true;
}

std::string directory_of(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

bool write_all(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, text, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool write_text(int fd, const char* text) { return write_all(fd, text, std::strlen(text)); }

// Appends the decimal digits of v >= 0 to `out` (room for 12 characters).
char* append_number(char* out, int v) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0 && count < 11);
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
  return out;
}

void on_signal(int sig) {
  const int saved_errno = errno;
  remove_open_temporaries();
  char reason[64] = "interrupted by ";
  std::strcat(reason, sig == SIGINT ? "SIGINT (signal " : "SIGTERM (signal ");
  char* end = append_number(reason + std::strlen(reason), sig);
  end[0] = ')';
  end[1] = '\0';
  put_failure_page(reason, 128 + sig);
  unlock_report_page();
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved_errno;
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// FNV-1a of the report page's name: the lock file's name stays short
// whatever the page's name.
uint64_t name_hash(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

bool lock_report_page(const std::string& report_page) {
  install_signal_handlers();
  // A run writing many records' pages into this folder holds it alone; the
  // folder lock ends with the process.
  if (lock_folder(directory_of(report_page), /*alone=*/false) == -1) return false;
  char base[48];
  std::snprintf(base, sizeof base, ".rivulon-%016llx.lock",
                static_cast<unsigned long long>(name_hash(report_page)));
  const std::string path = directory_of(report_page) + base;
  if (!copy_name(g_lock_path, path)) return true;
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return true;  // no lock file here: the pages will fail as they would
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool busy = errno == EWOULDBLOCK;
      close(fd);
      return !busy;
    }
    // The holder before us may have removed the file between our open and
    // flock; then the lock is on a name nobody else can find: take it again.
    struct stat held {}, named {};
    if (fstat(fd, &held) != 0 || stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      close(fd);
      continue;
    }
    g_lock_fd = fd;
    g_locked = 1;
    return true;
  }
}

void guard_report_page(const std::string& report_page) {
  const std::string temp = directory_of(report_page) + temporary_prefix(getpid()) + "failed";
  if (!copy_name(g_report_page, report_page) || !copy_name(g_failure_temp, temp)) return;
  char* head = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&head, &size);
  if (out == nullptr) return;
  write_page_head(out);
  std::fclose(out);
  if (head != nullptr && size < sizeof g_head) {
    std::memcpy(g_head, head, size);
    g_head_size = size;
    g_guarding = 1;
  }
  std::free(head);
}

void report_page_settled() { g_guarding = 0; }

void put_failure_page(const char* reason, int status) {
  if (!g_guarding) return;
  g_guarding = 0;
  const int fd = open(g_failure_temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (ok) {
    char number[16];
    append_number(number, status);
    ok = write_all(fd, g_head, g_head_size) &&
         write_text(fd, "<p align=\"left\"><font size=\"4\">The run did not finish.</font></p>") &&
         write_text(fd, "<p align=\"left\">") && write_text(fd, reason) &&
         write_text(fd, "</p><p align=\"left\">Exit status: ") && write_text(fd, number);
    if (ok && status > 255) {
      append_number(number, status % 256);
      ok = write_text(fd, " (seen as ") && write_text(fd, number) && write_text(fd, ")");
    }
    ok = ok && write_text(fd, "</p></body></html>");
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(g_failure_temp, g_report_page) == 0;
  }
  if (!ok) {
    // Better no report page than one saying the output will be ready shortly.
    unlink(g_failure_temp);
    unlink(g_report_page);
  }
}

void unlock_report_page() {
  if (!g_locked) return;
  g_locked = 0;
  unlink(g_lock_path);
  close(g_lock_fd);
  g_lock_fd = -1;
}

}  // namespace rivulon
