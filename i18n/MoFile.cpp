#include "i18n/MoFile.h"

#include "platform/AsciiText.h"

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qrv::i18n {

using platform::AsciiLower;
using platform::EqualsNoCase;
using platform::TrimControls;

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kMagicSwapped = 0xde120495;
constexpr std::size_t kHeaderSize = 20; // magic, revision, count, two table offsets

std::uint32_t Swap(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
}

} // namespace

TMoFile TMoFile::Parse(std::string bytes, const std::string& path) {
    const auto invalid = [&path]() {
        return Error("This file is not a valid GNU gettext mo file: " + path);
    };
    const std::size_t size = bytes.size();
    if (size < kHeaderSize) {
        throw invalid();
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, bytes.data(), 4);
    bool swap = false;
    if (magic == kMagicSwapped) {
        swap = true;
    } else if (magic != kMagic) {
        throw invalid();
    }
    const auto word = [&](std::size_t offset) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + offset, 4);
        return swap ? Swap(v) : v;
    };

    const std::size_t count = word(8);
    const std::size_t originals = word(12);
    const std::size_t translations = word(16);
    // Each table holds count pairs of 32-bit numbers (length, offset).
    if (count > size / 8) {
        throw invalid();
    }
    const std::size_t tableBytes = count * 8;
    if (originals > size - tableBytes || translations > size - tableBytes) {
        throw invalid();
    }

    TMoFile mo;
    mo.entries_.reserve(count);
    const auto inside = [size](std::size_t len, std::size_t off) {
        return len <= size && off <= size - len;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t oLen = word(originals + i * 8);
        const std::uint32_t oOff = word(originals + i * 8 + 4);
        const std::uint32_t tLen = word(translations + i * 8);
        const std::uint32_t tOff = word(translations + i * 8 + 4);
        if (!inside(oLen, oOff) || !inside(tLen, tOff)) {
            throw invalid();
        }
        mo.entries_.push_back({oOff, oLen, tOff, tLen});
    }
    mo.bytes_ = std::move(bytes);

    // Translations are handed out as UTF-8: one that is not gets a repaired copy behind the
    // file's bytes, once, instead of a check at every lookup.
    for (TEntry& e : mo.entries_) {
        std::string repaired = platform::SanitizeUtf8(mo.Translation(e));
        if (repaired == mo.Translation(e)) {
            continue;
        }
        if (mo.bytes_.size() + repaired.size() > UINT32_MAX) {
            throw invalid();
        }
        e.TranslationOffset = static_cast<std::uint32_t>(mo.bytes_.size());
        e.TranslationLength = static_cast<std::uint32_t>(repaired.size());
        mo.bytes_ += repaired;
    }

    // msgfmt writes the originals sorted; a table that is not would make the binary search miss
    // entries, so put it in order (the first of equal originals wins, as a scan would find it).
    const auto less = [&mo](const TEntry& a, const TEntry& b) {
        return mo.Original(a) < mo.Original(b);
    };
    if (!std::is_sorted(mo.entries_.begin(), mo.entries_.end(), less)) {
        std::stable_sort(mo.entries_.begin(), mo.entries_.end(), less);
    }
    return mo;
}

TMoFile TMoFile::Load(const std::string& path) {
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) {
        throw Error("Cannot open file " + path);
    }
    return Parse(std::move(bytes), path);
}

std::optional<std::string_view> TMoFile::Lookup(std::string_view original) const {
    const auto it = std::lower_bound(
        entries_.begin(), entries_.end(), original,
        [this](const TEntry& e, std::string_view key) { return Original(e) < key; });
    if (it == entries_.end() || Original(*it) != original) {
        return std::nullopt;
    }
    return Translation(*it);
}

std::optional<std::string> TMoFile::HeaderField(std::string_view name) const {
    const auto header = Lookup({});
    if (!header) {
        return std::nullopt;
    }
    std::string_view rest = *header;
    while (!rest.empty()) {
        const auto eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsNoCase(TrimControls(line.substr(0, colon)), name)) {
            return std::string(TrimControls(line.substr(colon + 1)));
        }
    }
    return std::nullopt;
}

bool TMoFile::HasUtf8Charset() const {
    const auto type = HeaderField("Content-Type");
    if (!type) {
        return false;
    }
    return AsciiLower(*type).find("charset=utf-8") != std::string::npos;
}

} // namespace qrv::i18n
