#include "CallsetConverter/Support/OutputFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Log.h"

namespace callset_converter {

namespace {

// ---- Files removed when SIGINT or SIGTERM ends the process ----

// A signal handler may neither allocate nor take a lock, so the paths it
// removes sit in a fixed table whose slots are claimed atomically.
enum SlotState : int { FREE, FILLING, READY };

// Room for a batch of sets (write_file_sets; a cohort writes 128 at a time):
// each holds a lock and two or three temporary files at once, and the batch
// its own lock. The states sit together, apart from the paths, so that
// finding a free slot reads a few cache lines rather than a page per slot.
constexpr std::size_t kCleanupSlots = 640;
std::array<std::atomic<int>, kCleanupSlots> slot_states{};
std::array<std::array<char, PATH_MAX>, kCleanupSlots> slot_paths;

void remove_watched_files_and_end(int signal_number) {
  for (std::size_t i = 0; i < kCleanupSlots; ++i) {
    if (slot_states[i].load() == READY) ::unlink(slot_paths[i].data());
  }
  // End with the signal's usual status: default action, signal sent again
  // (it stays pending until this handler returns).
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal_number, &fallback, nullptr);
  ::raise(signal_number);
}

// Puts `path` under the handler's watch and returns its slot; -1 when the
// table is full or the path too long, leaving the file to the next writer's
// leftover removal.
int watch(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < kCleanupSlots; ++i) {
    int expected = FREE;
    if (slot_states[i].load(std::memory_order_relaxed) == FREE &&
        slot_states[i].compare_exchange_strong(expected, FILLING)) {
      std::memcpy(slot_paths[i].data(), path.c_str(), path.size() + 1);
      slot_states[i].store(READY);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void unwatch(int slot) {
  if (slot >= 0) slot_states[static_cast<std::size_t>(slot)].store(FREE);
}

// While any set is being written: SIGINT and SIGTERM remove the watched
// files first, and a file-size limit makes write() fail with EFBIG (an
// error that names the file) instead of killing the process. Signals the
// process already handles or ignores are left as they are.
class SignalScope {
 public:
  SignalScope() {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (users_++ > 0) return;
    take(SIGINT, remove_watched_files_and_end);
    take(SIGTERM, remove_watched_files_and_end);
    take(SIGXFSZ, SIG_IGN);
  }
  ~SignalScope() {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (--users_ > 0) return;
    for (const auto& [signal_number, previous] : saved_) ::sigaction(signal_number, &previous, nullptr);
    saved_.clear();
  }
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;

 private:
  static void take(int signal_number, void (*handler)(int)) {
    struct sigaction previous {};
    if (::sigaction(signal_number, nullptr, &previous) != 0) return;
    if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) return;
    struct sigaction replacement {};
    replacement.sa_handler = handler;
    sigemptyset(&replacement.sa_mask);
    sigaddset(&replacement.sa_mask, SIGINT);
    sigaddset(&replacement.sa_mask, SIGTERM);
    if (::sigaction(signal_number, &replacement, nullptr) == 0) saved_.emplace_back(signal_number, previous);
  }

  static inline std::mutex mutex_;
  static inline int users_ = 0;
  static inline std::vector<std::pair<int, struct sigaction>> saved_;
};

// Holds SIGINT and SIGTERM back in this thread while alive, so that no file
// is created unwatched and no set is renamed into place only in part.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_{};
};

// ---- Names ----

// A temporary file is "<head>.tmp-<pid>-<RANDOM_LETTERS letters or digits>".
constexpr const char* TEMP_MARK = ".tmp-";
constexpr std::size_t RANDOM_LETTERS = 6;
constexpr std::size_t PID_DIGITS_MAX = 10;
constexpr std::size_t TEMP_SUFFIX_MAX = 5 + PID_DIGITS_MAX + 1 + RANDOM_LETTERS;
constexpr std::size_t NAME_HASH_DIGITS = 8;
constexpr const char* LOCK_SUFFIX = ".lock";

std::string write_error(const std::string& path, int error) { return describe_errno("write", path, error); }

// The directory part of `path` with its trailing separator, "" for a bare
// name, ready for join_path.
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::size_t name_limit(const std::string& directory) {
  const long limit = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  return limit > static_cast<long>(TEMP_SUFFIX_MAX + NAME_HASH_DIGITS + 8) ? static_cast<std::size_t>(limit) : NAME_MAX;
}

// `name`, shortened when `reserve` more bytes would not fit the name limit:
// cut at a character boundary and marked with "~" and the start of the
// whole name's SHA-256, so that long names sharing their start stay apart.
std::string fitted_name(const std::string& name, std::size_t reserve, std::size_t limit) {
  if (name.size() + reserve <= limit) return name;
  std::size_t cut = limit - reserve - 1 - NAME_HASH_DIGITS;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut) + "~" + sha256_hex(name).substr(0, NAME_HASH_DIGITS);
}

std::string random_letters() {
  static constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, RANDOM_LETTERS> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    // Uniqueness only, no secrecy: O_EXCL settles any clash.
    static std::atomic<unsigned long> counter{0};
    unsigned long seed = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= counter.fetch_add(1) * 2654435761UL;
    for (auto& byte : bytes) {
      byte = static_cast<unsigned char>(seed);
      seed = seed * 6364136223846793005UL + 1442695040888963407UL;
    }
  }
  std::string letters;
  for (const unsigned char byte : bytes) letters.push_back(LETTERS[byte % (sizeof LETTERS - 1)]);
  return letters;
}

// The writer's process id when `name` is a temporary file of `head`.
std::optional<pid_t> temp_writer(const std::string& name, const std::string& head) {
  const std::string lead = head + TEMP_MARK;
  if (!name.starts_with(lead)) return std::nullopt;
  const std::string rest = name.substr(lead.size());
  const std::size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos || dash > PID_DIGITS_MAX || rest.size() != dash + 1 + RANDOM_LETTERS) {
    return std::nullopt;
  }
  long long pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (std::isdigit(static_cast<unsigned char>(rest[i])) == 0) return std::nullopt;
    pid = pid * 10 + (rest[i] - '0');
  }
  for (std::size_t i = dash + 1; i < rest.size(); ++i) {
    if (std::isalnum(static_cast<unsigned char>(rest[i])) == 0) return std::nullopt;
  }
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// The file-creation mask, read without setting it: setting it, even
// briefly, would change what files other threads create. Unknown (no /proc),
// it is taken as the most private, so that nothing is exposed.
mode_t current_umask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("Umask:")) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 077;
}

// The file a plain open for writing creates at `path`, which does not exist:
// `path` itself, or the file a dangling symbolic link (relative ones from
// their link's directory) points to.
std::string follow_links(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t size = ::readlink(current.c_str(), target.data(), target.size());
    if (size < 0) throw IoError(write_error(path, errno));
    target.resize(static_cast<std::size_t>(size));
    current = join_path(directory_of(current), target);
  }
  throw IoError(write_error(path, ELOOP));
}

// ---- The set ----

// One destination on its way into place.
struct Destination {
  std::string given;                // as the caller named it, for messages
  std::string target;               // symbolic links followed
  std::string directory;            // of the target, see directory_of
  std::string temp_head;            // the target's name, shortened to leave room for the temporary suffix
  std::size_t name_max = NAME_MAX;  // the longest name the directory takes
  bool in_place = false;            // a device or FIFO, written directly
  std::optional<struct stat> existing;
  std::string temp;  // the temporary file while it exists; once placed, the replaced file, if kept
  int fd = -1;
  int watch_slot = -1;
  bool placed = false;         // the new file is at the target
  bool kept_replaced = false;  // and the file it replaced is at `temp`
};

// Whether the process may rename over or remove `path`, which exists and
// belongs to `owner`: in a sticky directory (/tmp, a shared scratch area)
// only the owner of the file or of the directory may, whatever the
// permission bits say, and a privileged process always may.
bool may_replace(const std::string& path, uid_t owner) {
  const uid_t self = ::geteuid();
  if (self == 0 || owner == self) return true;
  struct stat directory {};
  const std::string parent = directory_of(path);
  if (::stat(parent.empty() ? "." : parent.c_str(), &directory) != 0) return true;
  return (directory.st_mode & S_ISVTX) == 0 || directory.st_uid == self;
}

constexpr const char* NOT_OWNER = " (it belongs to another user in a sticky directory)";

// `previous`, the set's destination before this one, lends its directory's
// name limit when the two share the directory.
Destination inspect(const std::string& path, const Destination* previous) {
  Destination destination;
  destination.given = path;
  if (path.empty() || path.find('\0') != std::string::npos) throw IoError(write_error(path, EINVAL));
  struct stat info {};
  // Most destinations are new files and few are links: a look at the name
  // itself settles both without following anything.
  const int looked = ::lstat(path.c_str(), &info);
  if (looked != 0 && errno == ENOENT) {
    destination.target = path;
  } else if ((looked == 0 && !S_ISLNK(info.st_mode)) || ::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw IoError(write_error(path, EISDIR));
    if (!S_ISREG(info.st_mode)) {
      // Opened as given: /dev/stdout and its kind are links that only the
      // kernel can follow.
      destination.target = path;
      destination.in_place = true;
      return destination;
    }
    // A plain write refuses a file the process may not write, so the
    // replacement must too, although the directory would allow a rename.
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) throw IoError(write_error(path, errno));
    std::error_code error;
    destination.target = std::filesystem::canonical(path, error).string();
    if (error) throw IoError(write_error(path, error.value()));
    destination.existing = info;
  } else if (errno == ENOENT) {
    destination.target = follow_links(path);
  } else {
    throw IoError(write_error(path, errno));
  }
  destination.directory = directory_of(destination.target);
  // Found before any file of the set is in place.
  if (destination.existing && !may_replace(destination.target, destination.existing->st_uid)) {
    throw IoError(write_error(path, EPERM) + NOT_OWNER);
  }
  const std::string name = base_name(destination.target);
  destination.name_max = previous != nullptr && previous->directory == destination.directory
                             ? previous->name_max
                             : name_limit(destination.directory);
  // Found now, before anything of the set is in place.
  if (name.size() > destination.name_max) throw IoError(write_error(path, ENAMETOOLONG));
  destination.temp_head = fitted_name(name, TEMP_SUFFIX_MAX, destination.name_max);
  return destination;
}

// The exclusive lock of a set, on a file beside its first destination's
// link-followed target (so also writers through different links take
// turns, and /dev/stdout as a regular file needs no lock in /dev), removed
// by its holder on release.
class SetLock {
 public:
  explicit SetLock(const Destination& first) : SetLock(first, nullptr) {}

  // The same lock, lent by `lender`, a lock this process holds for a whole
  // batch: where it can, the set's lock file is made a second name of the
  // lender's, which is already locked, so that a batch of many sets creates
  // and removes one lock file rather than one for each. Another writer that
  // opens the set's lock file waits on the lender's lock, and finds the name
  // gone once it has the lock, as with any released lock file. Where the
  // name is taken (another writer holds the set's lock) or the file system
  // refuses the link, the set takes its own lock as usual.
  SetLock(const Destination& first, const SetLock* lender)
      : path_(first.directory + fitted_name(base_name(first.target), std::strlen(LOCK_SUFFIX), first.name_max) +
              LOCK_SUFFIX),
        given_(first.given) {
    if (lender != nullptr) {
      const HeldSignals held;
      if (::link(lender->path_.c_str(), path_.c_str()) == 0) {
        watch_slot_ = watch(path_);
        return;
      }
    }
    acquire();
  }
  ~SetLock() {
    {
      const HeldSignals held;
      unwatch(watch_slot_);
      ::unlink(path_.c_str());
    }
    if (fd_ >= 0) ::close(fd_);
  }
  SetLock(const SetLock&) = delete;
  SetLock& operator=(const SetLock&) = delete;

 private:
  void acquire() {
    for (;;) {
      fd_ = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
      if (fd_ < 0) fail(errno);
      while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd_);
        fail(error);
      }
      // The previous holder removes the file on release; a lock on a
      // removed file guards nothing, so take the one now at the path.
      struct stat held {};
      struct stat current {};
      if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &current) == 0 && held.st_dev == current.st_dev &&
          held.st_ino == current.st_ino) {
        break;
      }
      ::close(fd_);
    }
    watch_slot_ = watch(path_);
  }

  [[noreturn]] void fail(int error) const { throw IoError(write_error(given_, error) + " (lock file " + path_ + ")"); }

  std::string path_;
  std::string given_;
  int fd_ = -1;
  int watch_slot_ = -1;
};

// The destinations of one set; whatever temporary file is left when it goes
// (a failure) is removed.
class StagedSet {
 public:
  explicit StagedSet(const std::vector<OutputFile>& files) {
    destinations.reserve(files.size());
    for (const auto& file : files) {
      destinations.push_back(inspect(file.path, destinations.empty() ? nullptr : &destinations.back()));
    }
  }
  ~StagedSet() {
    for (auto& destination : destinations) {
      if (destination.fd >= 0) ::close(destination.fd);
      if (destination.temp.empty()) continue;
      const HeldSignals held;
      ::unlink(destination.temp.c_str());
      unwatch(destination.watch_slot);
    }
  }
  StagedSet(const StagedSet&) = delete;
  StagedSet& operator=(const StagedSet&) = delete;

  std::vector<Destination> destinations;
};

// Removes temporary files of the destinations whose writing process is
// gone; each directory is read once, however many destinations it holds.
void remove_leftovers(const std::vector<Destination>& destinations) {
  namespace fs = std::filesystem;
  std::map<std::string, std::vector<const std::string*>> heads_by_directory;
  for (const auto& destination : destinations) {
    if (!destination.in_place) heads_by_directory[destination.directory].push_back(&destination.temp_head);
  }
  const pid_t self = ::getpid();
  for (const auto& [directory, heads] : heads_by_directory) {
    std::error_code error;
    for (fs::directory_iterator it(directory.empty() ? fs::path(".") : fs::path(directory), error), end;
         !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      for (const std::string* head : heads) {
        const std::optional<pid_t> writer = temp_writer(name, *head);
        if (!writer || *writer == self) continue;
        // A live writer, or one of another user (EPERM), keeps its file.
        if (::kill(*writer, 0) == 0 || errno != ESRCH) continue;
        ::unlink((directory + name).c_str());
        break;
      }
    }
  }
}

void write_all(int fd, std::string_view content, const std::string& given) {
  while (!content.empty()) {
    const ssize_t put = ::write(fd, content.data(), content.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      throw IoError(write_error(given, errno));
    }
    content.remove_prefix(static_cast<std::size_t>(put));
  }
}

// Flushes the file to disk before closing it unless `sync` is off (a batch
// flushes its files together); returns the device the file is on.
dev_t write_temp(Destination& destination, std::string_view content, mode_t new_file_mode, bool sync = true) {
  const std::string lead = destination.directory + destination.temp_head + TEMP_MARK + std::to_string(::getpid()) + "-";
  for (int attempt = 0; destination.fd < 0; ++attempt) {
    const std::string path = lead + random_letters();
    const HeldSignals held;
    // Private while it is written, whatever it is to become.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && (errno != EEXIST || attempt == 99)) throw IoError(write_error(destination.given, errno));
    if (fd < 0) continue;
    destination.fd = fd;
    destination.temp = path;
    destination.watch_slot = watch(path);
  }
  write_all(destination.fd, content, destination.given);
  mode_t mode = new_file_mode;
  if (const auto& existing = destination.existing) {
    mode = existing->st_mode & 07777;
    // Only a privileged process may give a file away; otherwise the writer
    // becomes the owner, as with any replaced file.
    if ((existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) &&
        ::fchown(destination.fd, existing->st_uid, existing->st_gid) != 0 &&
        ::fchown(destination.fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
      // Neither allowed: the file keeps the writer's owner and group.
    }
  }
  struct stat written {};
  if (::fchmod(destination.fd, mode) != 0 || (sync && ::fsync(destination.fd) != 0) ||
      ::fstat(destination.fd, &written) != 0) {
    throw IoError(write_error(destination.given, errno));
  }
  if (::close(std::exchange(destination.fd, -1)) != 0) throw IoError(write_error(destination.given, errno));
  return written.st_dev;
}

void write_in_place(const Destination& destination, std::string_view content) {
  const FdGuard guard(::open(destination.target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (guard.fd < 0) throw IoError(write_error(destination.given, errno));
  write_all(guard.fd, content, destination.given);
}

void sync_directories(const std::vector<Destination>& destinations) {
  std::set<std::string> directories;
  for (const auto& destination : destinations) {
    if (!destination.in_place) directories.insert(destination.directory.empty() ? "." : destination.directory);
  }
  // Best effort: some file systems refuse to sync a directory.
  for (const auto& directory : directories) {
    const FdGuard guard(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (guard.fd >= 0) ::fsync(guard.fd);
  }
}

// Renames the temporary file into place. A replaced file is kept under the
// temporary name (swapped with the new one in one step or, where the file
// system cannot swap, through a second link) until the whole set is placed.
void place(Destination& destination) {
  int error = ENOENT;  // nothing to swap with
  if (destination.existing) {
    if (::renameat2(AT_FDCWD, destination.temp.c_str(), AT_FDCWD, destination.target.c_str(), RENAME_EXCHANGE) == 0) {
      destination.placed = destination.kept_replaced = true;
      return;
    }
    error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP && error != ENOENT) {
      throw IoError(write_error(destination.given, error));
    }
  }
  // A file system with neither (vfat) has the file replaced as before,
  // without a way back.
  std::string kept;
  for (int attempt = 0; error != ENOENT && attempt < 100; ++attempt) {
    const std::string path =
        destination.directory + destination.temp_head + TEMP_MARK + std::to_string(::getpid()) + "-" + random_letters();
    if (::link(destination.target.c_str(), path.c_str()) == 0) kept = path;
    if (!kept.empty() || errno != EEXIST) break;
  }
  if (::rename(destination.temp.c_str(), destination.target.c_str()) != 0) {
    error = errno;
    if (!kept.empty()) ::unlink(kept.c_str());
    throw IoError(write_error(destination.given, error));
  }
  unwatch(destination.watch_slot);
  destination.temp = kept;
  destination.watch_slot = kept.empty() ? -1 : watch(kept);
  destination.placed = true;
  destination.kept_replaced = !kept.empty();
}

// Undoes place: the replaced file goes back, a new one goes. Where that
// fails the replaced file stays under its temporary name, which the
// warning gives.
void put_back(Destination& destination) {
  if (destination.kept_replaced ? ::rename(destination.temp.c_str(), destination.target.c_str()) == 0
                                : ::unlink(destination.target.c_str()) == 0) {
    if (destination.kept_replaced) destination.temp.clear();
  } else if (destination.kept_replaced) {
    log_warning("Cannot put back %s (the earlier file is %s): %s", destination.given, destination.temp,
                std::string(std::strerror(errno)));
    destination.temp.clear();
  } else {
    log_warning("Cannot remove %s again: %s", destination.given, std::string(std::strerror(errno)));
  }
  if (destination.kept_replaced) unwatch(std::exchange(destination.watch_slot, -1));
}

// A removal refused after the set is placed would leave the new set beside
// a file that describes an old one: refused before anything is placed.
void refuse_removals_not_permitted(const std::vector<std::string>& remove_after) {
  for (const auto& path : remove_after) {
    struct stat info {};
    if (path.find('\0') == std::string::npos && ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      if (!may_replace(path, info.st_uid)) throw IoError(describe_errno("remove", path, EPERM) + NOT_OWNER);
    }
  }
}

// Places every written destination of a set. A failure part way puts every
// destination placed so far back as it was: the set is whole, or the old
// set stays. The replaced files go once all are placed.
void place_set(std::vector<Destination>& destinations) {
  std::size_t placed = 0;
  try {
    for (; placed < destinations.size(); ++placed) {
      if (!destinations[placed].in_place) place(destinations[placed]);
    }
  } catch (...) {
    while (placed-- > 0) {
      if (destinations[placed].placed) put_back(destinations[placed]);
    }
    throw;
  }
  for (auto& destination : destinations) {
    if (destination.temp.empty()) continue;
    ::unlink(destination.temp.c_str());
    destination.temp.clear();
    unwatch(std::exchange(destination.watch_slot, -1));
  }
}

std::vector<std::string> remove_paths(const std::vector<std::string>& paths) {
  std::vector<std::string> removed;
  for (const auto& path : paths) {
    struct stat info {};
    // Absent (or a name too long to exist): nothing to remove.
    if (path.find('\0') != std::string::npos || ::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) {
      removed.push_back(path);
    } else {
      log_warning("Cannot remove %s: %s", path, std::string(std::strerror(errno)));
    }
  }
  return removed;
}

}  // namespace

std::vector<std::string> write_files_together(const std::vector<OutputFile>& files,
                                              const std::vector<std::string>& remove_after) {
  if (files.empty()) return {};
  const SignalScope signals;
  std::optional<SetLock> lock;
  StagedSet set(files);
  std::vector<Destination>& destinations = set.destinations;
  if (!destinations.front().in_place) lock.emplace(destinations.front());
  remove_leftovers(destinations);

  refuse_removals_not_permitted(remove_after);

  const mode_t new_file_mode = 0666 & ~current_umask();
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    if (!destinations[i].in_place) write_temp(destinations[i], files[i].content, new_file_mode);
  }
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    if (destinations[i].in_place) write_in_place(destinations[i], files[i].content);
  }
  {
    const HeldSignals held;
    place_set(destinations);
  }
  sync_directories(destinations);
  return remove_paths(remove_after);
}

namespace {

// One set of a batch while it is staged: its lock and its destinations.
struct StagedBatchSet {
  explicit StagedBatchSet(const std::vector<OutputFile>& files) : set(files) {}
  std::optional<SetLock> lock;
  StagedSet set;
};

// Flushes the file systems that `directories` (a directory of each, by
// device) are on to disk, one syncfs each.
void sync_file_systems(const std::map<dev_t, std::string>& directories) {
  for (const auto& [device, directory] : directories) {
    const FdGuard guard(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (guard.fd < 0 || ::syncfs(guard.fd) != 0) throw IoError(describe_errno("sync", directory, errno));
  }
}

}  // namespace

void UnflushedRenames::flushed_with(const std::map<dev_t, std::string>& flushed) {
  for (const auto& [device, directory] : directories_) {
    if (flushed.contains(device)) continue;
    const FdGuard guard(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (guard.fd >= 0) ::syncfs(guard.fd);
  }
  directories_.clear();
}

std::vector<FileSetOutcome> write_file_sets(const std::vector<FileSet>& sets, const std::string& batch_file,
                                            UnflushedRenames* renames) {
  std::vector<FileSetOutcome> outcomes(sets.size());
  const SignalScope signals;
  // The batch's own lock, lent to its sets; without it each set locks alone.
  std::optional<StagedSet> batch_destination;
  std::optional<SetLock> batch_lock;
  if (!batch_file.empty()) {
    try {
      batch_destination.emplace(std::vector<OutputFile>{{batch_file, std::string()}});
      if (!batch_destination->destinations.front().in_place)
        batch_lock.emplace(batch_destination->destinations.front());
    } catch (const IoError& error) {
      log_debug("Each set of the batch takes its own lock: %s", std::string(error.what()));
    }
  }
  const mode_t new_file_mode = 0666 & ~current_umask();
  std::vector<std::unique_ptr<StagedBatchSet>> staged(sets.size());
  std::map<dev_t, std::string> directories;
  for (std::size_t s = 0; s < sets.size(); ++s) {
    if (sets[s].files.empty()) continue;
    try {
      auto batch_set = std::make_unique<StagedBatchSet>(sets[s].files);
      refuse_removals_not_permitted(sets[s].remove_after);
      std::vector<Destination>& destinations = batch_set->set.destinations;
      if (!destinations.front().in_place) {
        batch_set->lock.emplace(destinations.front(), batch_lock ? &*batch_lock : nullptr);
      }
      if (!sets[s].in_new_directory) remove_leftovers(destinations);
      for (std::size_t i = 0; i < destinations.size(); ++i) {
        if (destinations[i].in_place) continue;
        const dev_t device = write_temp(destinations[i], sets[s].files[i].content, new_file_mode, /*sync=*/false);
        directories.emplace(device, destinations[i].directory.empty() ? "." : destinations[i].directory);
      }
      staged[s] = std::move(batch_set);
    } catch (...) {
      outcomes[s].error = std::current_exception();
    }
  }
  // The temporary files are complete on disk before any is renamed.
  try {
    sync_file_systems(directories);
  } catch (...) {
    for (std::size_t s = 0; s < sets.size(); ++s) {
      if (staged[s]) outcomes[s].error = std::current_exception();
    }
    return outcomes;
  }
  if (renames != nullptr) renames->flushed_with(directories);
  for (std::size_t s = 0; s < sets.size(); ++s) {
    if (!staged[s]) continue;
    try {
      std::vector<Destination>& destinations = staged[s]->set.destinations;
      for (std::size_t i = 0; i < destinations.size(); ++i) {
        if (destinations[i].in_place) write_in_place(destinations[i], sets[s].files[i].content);
      }
      const HeldSignals held;
      place_set(destinations);
    } catch (...) {
      outcomes[s].error = std::current_exception();
      staged[s].reset();
    }
  }
  // Best effort, as for one set: the renames reach the disk together.
  if (renames != nullptr) {
    for (const auto& [device, directory] : directories) renames->add(device, directory);
  } else {
    try {
      sync_file_systems(directories);
    } catch (const IoError&) {
    }
  }
  for (std::size_t s = 0; s < sets.size(); ++s) {
    if (!staged[s]) continue;
    outcomes[s].removed = remove_paths(sets[s].remove_after);
    staged[s].reset();
  }
  return outcomes;
}

CreatedDirectories::CreatedDirectories(const std::string& directory) {
  if (directory.empty()) return;
  const auto parent_of = [](std::string path) {
    while (path.size() > 1 && path.ends_with('/')) path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
  };
  // Most often only the directory itself is missing: made at once.
  if (::mkdir(directory.c_str(), 0777) == 0) {
    created_.push_back(directory);
    return;
  }
  std::vector<std::string> missing;  // outermost first
  for (std::string path = directory; !path.empty() && !path_exists(path); path = parent_of(path)) {
    missing.insert(missing.begin(), path);
  }
  for (const auto& path : missing) {
    if (::mkdir(path.c_str(), 0777) == 0) {
      created_.push_back(path);
      continue;
    }
    const int error = errno;
    if (error == EEXIST && is_directory(path)) continue;
    remove_created();
    throw IoError(describe_errno("create directory", directory, error));
  }
  // A directory this object made is one; any other is looked at.
  if ((missing.empty() || missing.back() != directory) && !is_directory(directory)) {
    remove_created();
    throw IoError(describe_errno("create directory", directory, ENOTDIR));
  }
}

CreatedDirectories::~CreatedDirectories() { remove_created(); }

void CreatedDirectories::remove_created() {
  // rmdir removes only an empty directory: whatever holds files stays.
  for (; !created_.empty(); created_.pop_back()) ::rmdir(created_.back().c_str());
}

}  // namespace callset_converter
