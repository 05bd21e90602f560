#include "io/OutputFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/Error.hpp"

namespace helmert {

namespace {

// Called after each rename of CommitAll, for tests that inject a signal
// there.
void (*commit_hook)(int) = nullptr;

// As the kernel allows before ELOOP.
constexpr int kMostLinksFollowed = 40;

// How long a FIFO's reader may take to open it: 100 steps of 10 ms.
constexpr int kFifoReaderWaitSteps = 100;
constexpr useconds_t kFifoReaderWaitStepMicroseconds = 10000;

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The path with every symbolic link at its end followed; the directories
// on the way are left to the kernel. Returns false after too many links.
bool FollowLinks(std::string& path) {
  for (int hops = 0; hops < kMostLinksFollowed; ++hops) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      return true;
    }
    std::vector<char> target(static_cast<std::size_t>(status.st_size) + 256);
    const ssize_t length =
        ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return true;  // the open or rename will say why
    const std::string link(target.data(), static_cast<std::size_t>(length));
    path = link.front() == '/' ? link : DirectoryOf(path) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

// The temporaries of the run, for the signal handler to remove: a fixed
// table that the handler reads without allocating. A slot is in use while
// its flag is set; the path is written before the flag.
constexpr int kTemporarySlots = 8;
constexpr std::size_t kTemporaryPathBytes = 4096;
char temporary_paths[kTemporarySlots][kTemporaryPathBytes];
volatile std::sig_atomic_t temporary_in_use[kTemporarySlots];

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kTemporaryPathBytes) return -1;
  for (int slot = 0; slot < kTemporarySlots; ++slot) {
    if (temporary_in_use[slot]) continue;
    std::memcpy(temporary_paths[slot], path.c_str(), path.size() + 1);
    temporary_in_use[slot] = 1;
    return slot;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0) temporary_in_use[slot] = 0;
}

extern "C" void RemoveTemporariesAndDie(int signal_number) {
  for (int slot = 0; slot < kTemporarySlots; ++slot) {
    if (temporary_in_use[slot]) ::unlink(temporary_paths[slot]);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// The permission bits that a new file gets by default: 0666 less the umask.
mode_t DefaultMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Whether the file is the one the process's standard output or standard
// error writes to.
bool IsStandardStreamFile(const struct stat& status) {
  for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat own;
    if (::fstat(stream, &own) == 0 && own.st_dev == status.st_dev &&
        own.st_ino == status.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path) {
  // What the path names, as the kernel resolves it: /dev/stdout, a link to
  // /proc/self/fd/1, is a pipe or a terminal or the file the shell
  // redirected to, not a path to rebuild from the link's text.
  struct stat named;
  const bool names_existing = ::stat(path_.c_str(), &named) == 0;
  if (names_existing && !S_ISREG(named.st_mode) && !S_ISDIR(named.st_mode)) {
    target_ = path_;
  } else if (!FollowLinks(target_)) {
    Fail(std::strerror(errno));
  }
  struct stat status;
  const bool exists = ::stat(target_.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) Fail(std::strerror(EISDIR));
  if (exists && S_ISREG(status.st_mode) && IsStandardStreamFile(status)) {
    // The file the console goes to (tool OUT /dev/stdout > log.txt):
    // renaming over it would lose the console, so the text is appended to
    // it when committed, after the console.
    descriptor_ = ::open(target_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (descriptor_ < 0) Fail(std::strerror(errno));
    after_console_ = true;
    return;
  }
  if (exists && !S_ISREG(status.st_mode)) {
    // A FIFO, a device or a terminal: written in place. Opened without
    // waiting, so that a FIFO nobody reads is refused instead of blocking
    // the run; then written with waiting, as a shell redirection would.
    // A reader started beside the run (cat fifo & tool ...) may open it a
    // moment later: it gets kFifoReaderWait to do so.
    for (int wait = 0;; ++wait) {
      descriptor_ =
          ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
      if (descriptor_ >= 0 || errno != ENXIO) break;
      if (wait == kFifoReaderWaitSteps) Fail("a FIFO that nobody reads");
      ::usleep(kFifoReaderWaitStepMicroseconds);
    }
    if (descriptor_ < 0) Fail(std::strerror(errno));
    const int flags = ::fcntl(descriptor_, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      Fail(std::strerror(errno));
    }
    return;
  }
  // A short name of its own, whatever the target's length: a name the
  // directory takes for the target it takes for this too.
  std::string name = DirectoryOf(target_) + "/" + kTemporaryPrefix + "XXXXXX";
  {
    // A signal between the file's creation and its registration would
    // leave it behind: the signal waits until the handler knows the file.
    const SignalsHeld held;
    descriptor_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor_ < 0) Fail(std::strerror(errno));
    temporary_ = name;
    slot_ = RegisterTemporary(temporary_);
  }
  if (exists) {
    // The replaced file's owner (where allowed) and permission bits.
    if (::fchown(descriptor_, status.st_uid, status.st_gid) != 0) {
      errno = 0;  // not ours to give away: the file stays the writer's
    }
    ::fchmod(descriptor_, status.st_mode & 07777);
  } else {
    ::fchmod(descriptor_, DefaultMode());
  }
}

OutputFile::~OutputFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
  if (!temporary_.empty() && !committed_) ::unlink(temporary_.c_str());
  ReleaseTemporary(slot_);
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&held, signal_number);
  }
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void CommitAll(const std::vector<OutputFile*>& outputs) {
  for (OutputFile* output : outputs) output->CheckReplaceable();
  if (commit_hook != nullptr) commit_hook(-1);
  const SignalsHeld held;
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    outputs[k]->Commit();
    if (commit_hook != nullptr) commit_hook(static_cast<int>(k));
  }
}

void SetCommitHookForTests(void (*hook)(int)) { commit_hook = hook; }

void RemoveTemporariesOnSignals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal_number, RemoveTemporariesAndDie);
  }
}

void OutputFile::CheckReplaceable() const {
  if (temporary_.empty() || committed_) return;
  struct stat target;
  struct stat directory;
  if (::lstat(target_.c_str(), &target) != 0) return;  // nothing replaced
  if (::stat(DirectoryOf(target_).c_str(), &directory) != 0) {
    Fail(std::strerror(errno));
  }
  // In a sticky directory (/tmp) only the file's owner, the directory's
  // owner or root may replace a file: the rename would fail.
  const uid_t user = ::geteuid();
  if ((directory.st_mode & S_ISVTX) != 0 && user != 0 &&
      target.st_uid != user && directory.st_uid != user) {
    Fail(std::strerror(EPERM));
  }
}

void OutputFile::Fail(const std::string& reason) const {
  throw Error("Error writing file: " + path_ + ": " + reason);
}

void OutputFile::Write(const std::string& text) {
  Append(text);
  Finish();
}

void OutputFile::Append(const std::string& text) {
  if (written_ || descriptor_ < 0) Fail("written twice");
  if (after_console_) {
    pending_ += text;
    return;
  }
  WriteAll(text);
}

void OutputFile::WriteAll(const std::string& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t count = ::write(descriptor_, next, left);
    if (count < 0) {
      if (errno == EINTR) continue;
      Fail(std::strerror(errno));
    }
    next += count;
    left -= static_cast<std::size_t>(count);
  }
}

void OutputFile::Finish() {
  if (written_ || descriptor_ < 0) Fail("written twice");
  if (after_console_) {
    written_ = true;  // written when committed, after the console
    return;
  }
  // A regular file is synced before it replaces anything; a FIFO or a
  // device has nothing to sync.
  if (!temporary_.empty() && ::fsync(descriptor_) != 0) {
    Fail(std::strerror(errno));
  }
  const int descriptor = descriptor_;
  descriptor_ = -1;
  if (::close(descriptor) != 0 && !temporary_.empty()) {
    Fail(std::strerror(errno));
  }
  written_ = true;
}

void OutputFile::Commit() {
  if (!written_) Fail("nothing written");
  if (after_console_) {
    if (committed_) return;
    WriteAll(pending_);
    std::string().swap(pending_);
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) Fail(std::strerror(errno));
    committed_ = true;
    return;
  }
  if (temporary_.empty() || committed_) return;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Fail(std::strerror(errno));
  }
  committed_ = true;
  ReleaseTemporary(slot_);
  slot_ = -1;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  struct stat first;
  struct stat second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SameFileOrName(const std::string& first, const std::string& second) {
  if (SameExistingFile(first, second)) return true;
  // Links followed first: two dangling links to one name are one file.
  std::string a = first;
  std::string b = second;
  FollowLinks(a);
  FollowLinks(b);
  std::error_code error;
  const auto canonical_a = std::filesystem::weakly_canonical(a, error);
  if (error) return a == b;
  const auto canonical_b = std::filesystem::weakly_canonical(b, error);
  if (error) return a == b;
  return canonical_a == canonical_b;
}

}  // namespace helmert
