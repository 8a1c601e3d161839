// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/HandOffProtocol.h"

#include <algorithm>

namespace qx::cli {

namespace {

constexpr std::size_t kLengthSize = 4;

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void putBe32(std::vector<std::uint8_t>& out, std::size_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

} // namespace

bool mayBeRequest(std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), kRequestMagic.size());
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                      kRequestMagic.begin());
}

DecodedRequest decodeRequest(std::span<const std::uint8_t> bytes) {
    DecodedRequest r;
    if (!mayBeRequest(bytes)) {
        r.status = DecodedRequest::Refused;
        r.error = "not a qx77zt request";
        return r;
    }
    const std::size_t head = kRequestMagic.size() + kLengthSize;
    if (bytes.size() < head) {
        return r;
    }
    const std::size_t length = be32(bytes.data() + kRequestMagic.size());
    if (length > kMaxRequestBody) {
        r.status = DecodedRequest::Refused;
        r.error = "request too large";
        return r;
    }
    if (bytes.size() < head + length) {
        return r;
    }
    if (bytes.size() > head + length) {
        r.status = DecodedRequest::Refused;
        r.error = "bytes after the request";
        return r;
    }
    const std::span<const std::uint8_t> body = bytes.subspan(head, length);
    if (!body.empty() && body.back() != 0) {
        r.status = DecodedRequest::Refused;
        r.error = "request not terminated";
        return r;
    }
    std::string arg;
    for (const std::uint8_t b : body) {
        if (b != 0) {
            arg += static_cast<char>(b);
            continue;
        }
        if (r.args.size() == kMaxRequestArgs) {
            r.status = DecodedRequest::Refused;
            r.error = "too many arguments";
            r.args.clear();
            return r;
        }
        r.args.push_back(std::move(arg));
        arg.clear();
    }
    r.status = DecodedRequest::Complete;
    return r;
}

std::vector<std::uint8_t> encodeRequest(const std::vector<std::string>& args) {
    std::vector<std::uint8_t> body;
    for (const std::string& a : args) {
        body.insert(body.end(), a.begin(), a.end());
        body.push_back(0);
    }
    std::vector<std::uint8_t> out(kRequestMagic.begin(), kRequestMagic.end());
    putBe32(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::uint8_t> encodeAnswer(AnswerKind kind, std::string_view payload) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(kind)};
    putBe32(out, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

DecodedAnswer decodeAnswer(std::span<const std::uint8_t> bytes) {
    DecodedAnswer a;
    if (bytes.empty()) {
        return a;
    }
    const std::uint8_t kind = bytes[0];
    if (kind != 'o' && kind != 'e' && kind != 'x') {
        a.status = DecodedAnswer::Refused;
        return a;
    }
    if (bytes.size() < 1 + kLengthSize) {
        return a;
    }
    const std::size_t length = be32(bytes.data() + 1);
    if (length > kMaxAnswerFrame || (kind == 'x' && length != 1)) {
        a.status = DecodedAnswer::Refused;
        return a;
    }
    if (bytes.size() < 1 + kLengthSize + length) {
        return a;
    }
    a.status = DecodedAnswer::Complete;
    a.kind = static_cast<AnswerKind>(kind);
    a.payload.assign(bytes.begin() + 1 + kLengthSize,
                     bytes.begin() + static_cast<std::ptrdiff_t>(1 + kLengthSize + length));
    a.consumed = 1 + kLengthSize + length;
    return a;
}

} // namespace qx::cli
