// Writing a set of output files: what an existing destination keeps, what
// is refused, links and long names; the set after a file-size limit and
// under SIGTERM/SIGINT; leftovers of killed writers; the lock. Each write
// runs in a child process, which may switch user, umask or limits freely.

#include "CallsetConverter/Support/OutputFiles.h"

#include "CallsetConverter/Support/Errors.h"

#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace callset_converter {
namespace {

namespace fs = std::filesystem;
using testing::names_in;
using testing::read_file;
using testing::TempDir;

struct ChildEnd {
  int status = -1;  // exit status; -1 when ended by a signal
  int signal = 0;
  std::string error;  // what the child's exception said
};

// Runs `body` in a child process (as "nobody" when `unprivileged` and this
// is root), calling `meanwhile` with its id before waiting for it.
ChildEnd in_child(const std::function<void()>& body, bool unprivileged = false,
                  const std::function<void(pid_t)>& meanwhile = {}) {
  int channel[2];
  if (::pipe(channel) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    const passwd* nobody = ::getpwnam("nobody");
    if (unprivileged && ::geteuid() == 0 &&
        (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
         ::setuid(nobody->pw_uid) != 0)) {
      ::_exit(3);
    }
    try {
      body();
    } catch (const std::exception& error) {
      if (::write(channel[1], error.what(), std::strlen(error.what())) < 0) ::_exit(2);
      ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(channel[1]);
  if (meanwhile) meanwhile(pid);
  ChildEnd end;
  char buffer[512];
  for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) end.error.append(buffer, got);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) end.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  return end;
}

mode_t mode_of(const std::string& path) { return static_cast<mode_t>(fs::status(path).permissions() & fs::perms::all); }

struct DestinationCase {
  const char* what;
  std::function<void(const TempDir&)> prepare;
  std::string name = "r.json";
  bool unprivileged = false;
  const char* error = nullptr;  // the end of the expected message; success when null
  mode_t mode = 0640;           // of the written file, under umask 027
  std::string written = "r.json";
};

void PrintTo(const DestinationCase& c, std::ostream* os) { *os << c.what; }

class DestinationTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationTest, WritesAsAPlainWriteWouldWithoutLeftovers) {
  const DestinationCase& c = GetParam();
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);  // writable by the unprivileged user
  c.prepare(dir);
  const std::vector<std::string> before = names_in(dir.path());
  const std::string path = dir.file(c.name);
  std::vector<std::string> expected = before;
  if (std::error_code absent; !fs::exists(fs::symlink_status(path, absent))) expected.push_back(c.name);
  std::sort(expected.begin(), expected.end());
  const ChildEnd end = in_child(
      [&] {
        ::umask(027);
        write_files_together({{path, "new"}});
      },
      c.unprivileged);
  if (end.status == 3) GTEST_SKIP() << "cannot switch to an unprivileged user";
  if (c.error != nullptr) {
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.error, "Cannot write " + path + ": " + c.error);
    EXPECT_EQ(names_in(dir.path()), before);
    return;
  }
  ASSERT_EQ(end.status, 0) << end.error;
  EXPECT_EQ(read_file(dir.file(c.written)), "new");
  EXPECT_EQ(mode_of(dir.file(c.written)), c.mode);
  EXPECT_EQ(names_in(dir.path()), expected) << "a temporary or lock file is left";
}

const auto nothing = [](const TempDir&) {};
void make(const TempDir& dir, const char* name, mode_t mode) {
  dir.write(name, "old");
  fs::permissions(dir.file(name), static_cast<fs::perms>(mode));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationTest,
    ::testing::Values(
        DestinationCase{"new file gets the umask's bits", nothing},
        DestinationCase{"private result stays private", [](const TempDir& d) { make(d, "r.json", 0600); }, "r.json",
                        false, nullptr, 0600},
        DestinationCase{"read-only result is refused", [](const TempDir& d) { make(d, "r.json", 0444); }, "r.json",
                        true, "Permission denied"},
        DestinationCase{"link is followed and stays",
                        [](const TempDir& d) {
                          make(d, "t/real.json", 0640);
                          fs::create_symlink("t/real.json", d.file("r.json"));
                        },
                        "r.json", false, nullptr, 0640, "t/real.json"},
        DestinationCase{"dangling link creates its target",
                        [](const TempDir& d) {
                          fs::create_directories(d.file("t"));
                          fs::create_symlink("t/new.json", d.file("r.json"));
                        },
                        "r.json", false, nullptr, 0640, "t/new.json"},
        DestinationCase{"directory is refused", [](const TempDir& d) { fs::create_directories(d.file("r.json")); },
                        "r.json", false, "Is a directory"},
        DestinationCase{"longest name works", nothing, std::string(255, 'n'), false, nullptr, 0640,
                        std::string(255, 'n')},
        DestinationCase{"too long a name is refused", nothing, std::string(256, 'n'), false, "File name too long"}));

// ---- The set ----

TEST(OutputFileSet, AFileSizeLimitChangesNeitherFileAndNamesTheFile) {
  TempDir dir;
  dir.write("r.json", "old");
  dir.write("s.json", "old");
  const ChildEnd end = in_child([&] {
    const rlimit limit{64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    write_files_together({{dir.file("r.json"), "small"}, {dir.file("s.json"), std::string(100, 'x')}});
  });
  EXPECT_EQ(end.status, 1) << "not killed by SIGXFSZ";
  EXPECT_EQ(end.error, "Cannot write " + dir.file("s.json") + ": File too large");
  EXPECT_EQ(read_file(dir.file("r.json")), "old");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"r.json", "s.json"}));
}

// In a sticky directory another user's file may not be renamed over nor
// removed: found before anything is in place, beside the case of one's own.
TEST(OutputFileSet, AnotherUsersFileInAStickyDirectoryIsFoundBeforeAnyRename) {
  struct Case {
    const char* what;
    bool others;  // s.json belongs to root, not to the writer
    bool remove;  // s.json is to be removed, not written
    const char* error;
  };
  const passwd* nobody = ::getpwnam("nobody");
  for (const Case& c :
       {Case{"own file written", false, false, nullptr}, Case{"another's file written", true, false, "Cannot write "},
        Case{"own file removed", false, true, nullptr}, Case{"another's file removed", true, true, "Cannot remove "}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::permissions(dir.path(), static_cast<fs::perms>(01777));
    make(dir, "s.json", 0666);
    if (!c.others && (nobody == nullptr || ::chown(dir.file("s.json").c_str(), nobody->pw_uid, -1) != 0)) {
      GTEST_SKIP() << "cannot give a file to an unprivileged user";
    }
    std::vector<OutputFile> files{{dir.file("r.json"), "new"}};
    if (!c.remove) files.push_back({dir.file("s.json"), "new"});
    const std::vector<std::string> removed = c.remove ? std::vector{dir.file("s.json")} : std::vector<std::string>{};
    const ChildEnd end = in_child([&] { write_files_together(files, removed); }, true);
    if (end.status == 3) GTEST_SKIP() << "cannot switch to an unprivileged user";
    if (c.error == nullptr) {
      EXPECT_EQ(end.status, 0) << end.error;
      EXPECT_EQ(names_in(dir.path()),
                (c.remove ? std::vector<std::string>{"r.json"} : std::vector<std::string>{"r.json", "s.json"}));
      continue;
    }
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.error, c.error + dir.file("s.json") +
                             ": Operation not permitted (it belongs to another user in a sticky directory)");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"s.json"});
    EXPECT_EQ(read_file(dir.file("s.json")), "old");
  }
}

// A rename that fails after others succeeded (here: its temporary file is
// taken away while the set waits on a FIFO) puts the earlier ones back.
TEST(OutputFileSet, ALaterFailedRenamePutsEveryEarlierDestinationBack) {
  TempDir dir;
  make(dir, "r.json", 0640);
  make(dir, "s.json", 0640);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  const ChildEnd end = in_child(
      [&] {
        write_files_together({{dir.file("r.json"), "new"},
                              {dir.file("n.json"), "new"},
                              {dir.file("s.json"), "new"},
                              {dir.file("fifo"), "x"}});
      },
      false,
      [&](pid_t) {
        // fifo, r.json, s.json, the lock and three temporary files.
        for (int i = 0; i < 500 && names_in(dir.path()).size() < 7; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (const auto& name : names_in(dir.path())) {
          if (name.starts_with("s.json.tmp-")) fs::remove(dir.file(name));
        }
        read_file(dir.file("fifo"));
      });
  EXPECT_EQ(end.status, 1);
  EXPECT_EQ(end.error, "Cannot write " + dir.file("s.json") + ": No such file or directory");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"fifo", "r.json", "s.json"}));
  EXPECT_EQ(read_file(dir.file("r.json")), "old");
  EXPECT_EQ(mode_of(dir.file("r.json")), 0640);
}

// A batch: the set that cannot be written is left whole as it was and named,
// the others are written by the rules of one set, sidecar removals included.
TEST(OutputFileSet, ABatchWritesEverySetItCanAndNamesTheOneItCannot) {
  TempDir dir;
  dir.write("a/old.provenance.json", "earlier");
  fs::create_directories(dir.file("b/r.json"));
  dir.write("b/s.json", "old");
  const std::vector<FileSetOutcome> outcomes = write_file_sets({
      {{{dir.file("a/r.json"), "A"}, {dir.file("a/s.json"), "a"}}, {dir.file("a/old.provenance.json")}},
      {{{dir.file("b/s.json"), "B"}, {dir.file("b/r.json"), "b"}}, {}},
      {{{dir.file("c.json"), "C"}}, {}},
  });
  ASSERT_EQ(outcomes.size(), 3U);
  EXPECT_FALSE(outcomes[0].error);
  EXPECT_EQ(outcomes[0].removed, std::vector<std::string>{dir.file("a/old.provenance.json")});
  EXPECT_EQ(names_in(dir.file("a")), (std::vector<std::string>{"r.json", "s.json"}));
  EXPECT_EQ(read_file(dir.file("a/r.json")) + read_file(dir.file("a/s.json")) + read_file(dir.file("c.json")), "AaC");
  ASSERT_TRUE(outcomes[1].error);
  EXPECT_EQ(testing::message_of<IoError>([&] { std::rethrow_exception(outcomes[1].error); }),
            "Cannot write " + dir.file("b/r.json") + ": Is a directory");
  EXPECT_EQ(read_file(dir.file("b/s.json")), "old");
  EXPECT_EQ(names_in(dir.file("b")), (std::vector<std::string>{"r.json", "s.json"}));
}

// A batch lends its own lock to its sets as second names of one lock file;
// a set whose lock file another writer holds waits for that writer.
TEST(OutputFileSet, ABatchLendsItsLockAndASetHeldElsewhereWaits) {
  TempDir dir;
  fs::create_directories(dir.file("lent"));
  fs::create_directories(dir.file("held"));
  const int held = ::open(dir.file("held/r.json.lock").c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto write = [&] {
    ::close(held);  // the child's copy of the parent's lock
    const auto outcomes = write_file_sets(
        {{{{dir.file("lent/r.json"), "L"}}, {}}, {{{dir.file("held/r.json"), "H"}}, {}}}, dir.file("status.tsv"));
    if (outcomes[0].error || outcomes[1].error) throw std::runtime_error("a set failed");
  };
  const ChildEnd end = in_child(write, false, [&](pid_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    struct stat lent {};
    struct stat batch {};
    ASSERT_EQ(::stat(dir.file("lent/r.json.lock").c_str(), &lent), 0);
    ASSERT_EQ(::stat(dir.file("status.tsv.lock").c_str(), &batch), 0);
    EXPECT_EQ(lent.st_ino, batch.st_ino) << "the set's lock is not the batch's";
    EXPECT_EQ(names_in(dir.file("held")), std::vector<std::string>{"r.json.lock"}) << "wrote without the lock";
    ::unlink(dir.file("held/r.json.lock").c_str());
    ::close(held);
  });
  EXPECT_EQ(end.status, 0) << end.error;
  EXPECT_EQ(read_file(dir.file("lent/r.json")) + read_file(dir.file("held/r.json")), "LH");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"held", "lent"}));
  EXPECT_EQ(names_in(dir.file("lent")), std::vector<std::string>{"r.json"});
}

TEST(OutputFileSet, InterruptionRemovesTheTemporaryFilesAndEndsByTheSignal) {
  for (const int signal_number : {SIGTERM, SIGINT}) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    // The FIFO is written in place, after the temporary file is complete:
    // opening it waits for a reader that never comes.
    const ChildEnd end = in_child(
        [&] {
          // As in a program started in the foreground, whatever started the tests.
          ::signal(signal_number, SIG_DFL);
          write_files_together({{dir.file("r.json"), "new"}, {dir.file("fifo"), "x"}});
        },
        false,
        [&](pid_t pid) {
          for (int i = 0; i < 500 && names_in(dir.path()).size() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
          EXPECT_EQ(names_in(dir.path()).size(), 3U) << "fifo, lock, temporary file";
          ::kill(pid, signal_number);
        });
    EXPECT_EQ(end.signal, signal_number);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"fifo"});
  }
}

TEST(OutputFileSet, LeftoversOfGoneWritersAreRemoved) {
  TempDir dir;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string other = "x.json.tmp-" + std::to_string(gone) + "-abc123";
  // Process 1 lives; another destination's leftover is not this writer's.
  for (const auto& name :
       {"r.json.tmp-" + std::to_string(gone) + "-abc123", std::string("r.json.tmp-1-abc123"), other}) {
    dir.write(name, "partial");
  }
  ASSERT_EQ(in_child([&] { write_files_together({{dir.file("r.json"), "new"}}); }).status, 0);
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"r.json", "r.json.tmp-1-abc123", other}));
}

TEST(OutputFileSet, WritersOfOneResultTakeTurns) {
  TempDir dir;
  const std::string lock = dir.file("r.json.lock");
  const int held = ::open(lock.c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto write = [&] {
    ::close(held);  // the child's copy of the parent's lock
    write_files_together({{dir.file("r.json"), "new"}});
  };
  const ChildEnd end = in_child(write, false, [&](pid_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"r.json.lock"}) << "wrote without the lock";
    // Released as a writer releases it: removed, then unlocked.
    ::unlink(lock.c_str());
    ::close(held);
  });
  EXPECT_EQ(end.status, 0) << end.error;
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"r.json"});
}

}  // namespace
}  // namespace callset_converter
