// SPDX-License-Identifier: GPL-3.0-or-later
// The package's hash from the system's own cryptography (bcrypt.dll).
#include "update/UpdateLog.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>

namespace qx {

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    std::array<UCHAR, 32> digest{};
    // BCryptHash takes a ULONG length: a larger input is fed in pieces.
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    ok = ok && BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data() + done), n, 0));
        done += n;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), digest.size(), 0));
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    if (!ok) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const UCHAR b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

} // namespace qx
