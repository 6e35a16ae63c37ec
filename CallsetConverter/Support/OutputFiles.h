#pragma once

#include <sys/types.h>

#include <exception>
#include <map>
#include <string>
#include <vector>

namespace callset_converter {

// One file of a set that is written together: where it goes and its bytes.
struct OutputFile {
  std::string path;
  std::string content;
};

// Writes `files` as one set, so that a reader never finds one file of a run
// next to another run's file, and returns those of `remove_after` that it
// removed.
//
// - Each destination is written as a plain "open for writing, created or
//   truncated" would: symbolic links are followed; an existing file keeps its
//   permission bits (and, where the process may, its owner) and is refused
//   with IoError when the process may not write it; a new file gets what the
//   umask gives; a device or FIFO is written in place; a directory is an
//   error.
// - Every other destination is written to a temporary file beside its
//   link-followed target, named "<name>.tmp-<pid>-<six letters or digits>"
//   (the name shortened to fit the file system's name limit, with a hash of
//   the whole name). All of them are complete and flushed to disk before the
//   first is renamed into place; when any cannot be, none is, the temporary
//   files are removed and IoError names the destination (a file-size limit
//   gives "File too large", not a killed process).
// - In a sticky directory (/tmp, a shared scratch area) an existing
//   destination, or a file of `remove_after`, that belongs to another user
//   while the directory does too is refused with IoError before anything is
//   written (unless the process is privileged): its rename or removal would
//   fail once other files are in place.
// - Each replaced file is kept under its temporary name until every file is
//   in place; when a rename still fails, the destinations placed before it
//   are put back as they were (a new one removed), so that the IoError leaves
//   every destination as it was.
// - Two writers of the same first destination take turns through an
//   exclusive lock on "<name>.lock" beside its link-followed target, held
//   from before the first temporary file until after `remove_after` is
//   done, then removed.
//   Meanwhile temporary files of these destinations whose writing process is
//   gone (killed) are removed.
// - SIGINT and SIGTERM (when the process has not set its own handling) remove
//   the temporary files and the lock before the process ends by the signal;
//   they wait while the files are renamed, so that the set is whole.
// - `remove_after`: paths removed (unless absent or a directory) once the
//   files are in place, under the same lock; a failure to remove one is
//   logged as a warning.
std::vector<std::string> write_files_together(const std::vector<OutputFile>& files,
                                              const std::vector<std::string>& remove_after = {});

// One set of files written together and the paths removed once it is in
// place (see write_files_together).
struct FileSet {
  std::vector<OutputFile> files;
  std::vector<std::string> remove_after;
  // The files go to a directory this process has just created: no writer
  // has left anything there to look for.
  bool in_new_directory = false;
};

// How writing one set of a batch ended: the paths removed, or the error
// that kept the set from being written (none of its files is then in place).
struct FileSetOutcome {
  std::vector<std::string> removed;
  std::exception_ptr error;
};

// File systems on which files were renamed into place and not yet flushed
// to disk: a run that writes batch after batch flushes each batch's renames
// together with the next batch's files, and the last ones before it reports
// the whole run as written.
class UnflushedRenames {
 public:
  UnflushedRenames() = default;
  ~UnflushedRenames() { flush(); }
  UnflushedRenames(const UnflushedRenames&) = delete;
  UnflushedRenames& operator=(const UnflushedRenames&) = delete;

  // Files were renamed on the file system of `directory`, device `device`.
  void add(dev_t device, const std::string& directory) { directories_.emplace(device, directory); }
  // The file systems of `flushed` were flushed just now, which took the
  // renames on them along; the others are flushed here.
  void flushed_with(const std::map<dev_t, std::string>& flushed);
  // One syncfs for each file system; best effort, as for a single set.
  void flush() { flushed_with({}); }

 private:
  std::map<dev_t, std::string> directories_;  // a directory on each, by device
};

// Writes many sets, each by the rules of write_files_together, with one
// flush to disk for the whole batch instead of one per file: every set's
// temporary files are written and flushed together (one syncfs per file
// system) before the first is renamed into place, and the renames are
// flushed together afterwards, or, with `renames`, left to its next flush
// (the next batch's, or its own). A set that fails leaves none of its files
// in place and does not stop the others. Each set's lock is held from before
// its temporary files until after its removals, so hold a batch to a hundred
// sets or so.
//
// With `batch_file`, the batch first takes the lock of that file (as a
// writer of it would) and holds it throughout: each set's "<name>.lock" is
// then made a second name of that lock file, so that the batch creates and
// removes one lock file, not one a set, while a writer of any of its sets
// still waits for it. A set whose lock file already exists, or whose file
// system cannot link it, locks alone, as does every set when the batch's
// lock cannot be taken.
std::vector<FileSetOutcome> write_file_sets(const std::vector<FileSet>& sets, const std::string& batch_file = {},
                                            UnflushedRenames* renames = nullptr);

// Creates `directory` and its missing parents ("" is the working directory).
// Unless keep() is called, the directories it created are removed again when
// the object goes, if they are still empty, so that a run that fails leaves
// none behind. A failure raises IoError "Cannot create directory <path>: ...".
class CreatedDirectories {
 public:
  explicit CreatedDirectories(const std::string& directory);
  ~CreatedDirectories();
  CreatedDirectories(const CreatedDirectories&) = delete;
  CreatedDirectories& operator=(const CreatedDirectories&) = delete;

  void keep() { created_.clear(); }
  // Whether the directory was made here (and so was empty), until keep().
  bool made() const { return !created_.empty(); }

 private:
  void remove_created();

  std::vector<std::string> created_;
};

}  // namespace callset_converter
