// SPDX-License-Identifier: GPL-3.0-or-later
// What qx77zt and the window program say to each other over the window program's local socket.
//
// Request: the line "qx77zt-request 1", then the body length (4 bytes, big-endian), then the
// body: the command's arguments, each followed by a zero byte. Answer: frames of a kind byte
// ('o' standard output, 'e' standard error, 'x' the exit status), a length (4 bytes,
// big-endian) and that many bytes; 'x' carries one byte and ends the answer.
//
// Both sides read what comes from the socket as untrusted: every length is checked before
// anything is read, and a request that is too large is refused before its body is awaited.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::cli {

inline constexpr std::string_view kRequestMagic = "qx77zt-request 1\n";
inline constexpr std::size_t kMaxRequestBody = 16 * 1024;
inline constexpr std::size_t kMaxRequestArgs = 80;
// Longest answer frame: a --watch line is far shorter.
inline constexpr std::size_t kMaxAnswerFrame = 64 * 1024;

// Whether `bytes` (what has arrived so far) can still become a request: false for anything
// else, such as the older "show" request.
bool mayBeRequest(std::span<const std::uint8_t> bytes);

struct DecodedRequest {
    enum Status { Incomplete, Complete, Refused } status = Incomplete;
    std::vector<std::string> args; // when Complete
    std::string error;             // when Refused
};
DecodedRequest decodeRequest(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> encodeRequest(const std::vector<std::string>& args);

enum class AnswerKind : std::uint8_t { Out = 'o', Err = 'e', Exit = 'x' };

std::vector<std::uint8_t> encodeAnswer(AnswerKind kind, std::string_view payload);

struct DecodedAnswer {
    enum Status { Incomplete, Complete, Refused } status = Incomplete;
    AnswerKind kind = AnswerKind::Out;
    std::string payload;
    std::size_t consumed = 0; // bytes of the frame, when Complete
};
DecodedAnswer decodeAnswer(std::span<const std::uint8_t> bytes);

} // namespace qx::cli
