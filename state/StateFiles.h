// The files the program keeps between runs: where they live, and how they are read and replaced
// so that a crash or a full disk never leaves a torn file behind.
//
// Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace qx::state {

// The program's own folder under the user's state folder.
inline constexpr const char* kProgramFolder = "qx77zt";

// `$XDG_STATE_HOME/<folder>` when that variable holds an absolute path, else
// `$HOME/.local/state/<folder>`; empty when neither gives a place. Pass the variables' values
// (nullptr for unset).
std::filesystem::path stateFolder(const char* xdgStateHome, const char* home,
                                  const char* folder = kProgramFolder);
// The same from the process environment; on Windows `%LOCALAPPDATA%\<folder>`.
std::filesystem::path stateFolderFromEnvironment(const char* folder = kProgramFolder);

struct WriteOutcome {
    bool ok = false;
    std::string error; // the system's reason when !ok
};

// Writes `bytes` beside `path`, flushes them to the disk and renames the new file over `path`,
// creating the folder (owner-only) when it is missing. Readers see either the old or the new
// file, never a mix.
WriteOutcome replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

struct ReadOutcome {
    enum class Status { Missing, Read, Failed } status = Status::Missing;
    std::vector<std::uint8_t> bytes;
    std::string error; // why it could not be read (Failed)
};

// Reads a whole state file of at most `maxBytes`; a larger file, or anything but a regular file,
// is refused.
ReadOutcome readStateFile(const std::filesystem::path& path, std::size_t maxBytes);

} // namespace qx::state
