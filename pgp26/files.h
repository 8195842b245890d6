// File handling with the guarantees callers rely on: an output file appears whole or not at
// all, and a wiped input is overwritten before it is deleted.
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

// Writes `bytes` to a temporary file beside `path` and renames it to `path`, so that neither
// a failure nor a crash leaves a partial output; throws Failure(`error_code`) on failure.
void WriteWholeFile(const std::string& path, std::string_view bytes, int error_code);

// Overwrites the file with zeros, flushes that to the disk, then deletes it.
bool WipeFile(const std::string& path);

}  // namespace pgp26

#endif  // QUILLET_PGP26_FILES_H_
