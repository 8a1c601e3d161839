// SPDX-License-Identifier: GPL-3.0-or-later
// The files the program keeps between runs: where they live, and how they are read and replaced
// so that a crash or a full disk never leaves a torn file behind.
//
// Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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
    enum class Status {
        Missing,
        Read,
        // A regular file larger than such a file can be: damaged, as one that does not parse.
        TooLarge,
        // It could not be read: no permission, an I/O error, no descriptor left, a symbolic
        // link, or not a regular file. Nothing is known about what it holds.
        Failed,
    } status = Status::Missing;
    std::vector<std::uint8_t> bytes;
    std::string error; // why it was refused (TooLarge, Failed)
};

// Reads a whole state file of at most `maxBytes`; a larger file, or anything but a regular file,
// is refused.
ReadOutcome readStateFile(const std::filesystem::path& path, std::size_t maxBytes);

enum class MoveResult { Moved, TargetExists, Failed };
// Renames `from` to `to` unless something is already called `to`, in one step, so that nothing
// there is ever replaced. `error` gets the system's reason on Failed.
MoveResult moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                                std::string& error);

struct SetAside {
    bool ok = false;
    std::filesystem::path to; // where it went
    std::string error;        // why it could not be moved
};
// Moves a damaged state file out of the way of the next write, for a look: to "<name>.damaged",
// or when that is taken "<name>.damaged.2", ".3" and so on. An earlier damaged copy is never
// replaced.
SetAside setAside(const std::filesystem::path& path);

struct StateLoad {
    enum class Status {
        Missing,  // nothing there yet
        Loaded,   // read and understood
        SetAside, // read, not understood, and moved to `aside`: the next write starts afresh
        // Not read, or not understood and not movable: left as it is, and the program must not
        // write over it during this run.
        Kept,
    } status = Status::Missing;
    std::string why; // what is wrong with it (SetAside, Kept)
    std::filesystem::path aside;
};
// Loads a state file: `parse` takes its bytes and says what is wrong with them (empty when they
// are understood). Only a file that was read and not understood is moved aside; one that cannot
// be read may hold what the program needs (a cut-off update), so it is kept.
StateLoad loadStateFile(const std::filesystem::path& path, std::size_t maxBytes,
                        const std::function<std::string(std::span<const std::uint8_t>)>& parse);

} // namespace qx::state
