// File handling with the guarantees callers rely on: an output file appears whole or not at
// all and is private to the user, and a wiped input is overwritten before it is deleted.
#ifndef QUILLET_PGP26_FILES_H_
#define QUILLET_PGP26_FILES_H_

#include <optional>
#include <string>
#include <string_view>

namespace pgp26 {

std::optional<std::string> ReadWholeFile(const std::string& path);

// Asks before an existing `path` is replaced, unless `force`; throws Failure(kInvalidFile)
// when the answer is no.
void ConfirmOverwrite(const std::string& path, bool force);

// Writes `bytes` to `path`, readable by the user alone whatever the umask or the folder's access
// list, so that neither a failure nor a kill leaves a partial output or any other copy: the
// bytes go into an anonymous file that is linked into place once complete, or, where the file
// system offers none, through PartialName(path). Throws Failure(`error_code`) on failure.
void WriteWholeFile(const std::string& path, std::string_view bytes, int error_code);

// Where a partial output is written when no anonymous file can be had: a fixed name, so that a
// file left by a run that was killed while writing is removed by the next write of `path`.
std::string PartialName(const std::string& path);

// WriteWholeFile's way for file systems without anonymous files; tests use it directly.
void WriteThroughPartialFile(const std::string& path, std::string_view bytes, int error_code);

// Overwrites the file with zeros, flushes that to the disk, then deletes it.
bool WipeFile(const std::string& path);

}  // namespace pgp26

#endif  // QUILLET_PGP26_FILES_H_
