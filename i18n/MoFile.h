#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::i18n {

// A GNU gettext .mo catalogue held in memory. Every offset and length of the file is checked
// when it is parsed, so lookups never touch memory outside the file's bytes. The hash table is
// not used: originals are found by binary search.
class TMoFile {
public:
    // Parses the bytes of a catalogue. `path` only names the file in the failure message
    // "This file is not a valid GNU gettext mo file: " + path (qrv::Error).
    static TMoFile Parse(std::string bytes, const std::string& path);

    // Reads and parses a file; "Cannot open file " + path when it cannot be read.
    static TMoFile Load(const std::string& path);

    // Translation of an exact, byte-for-byte original; always valid UTF-8 (bytes that are not
    // become U+FFFD).
    std::optional<std::string_view> Lookup(std::string_view original) const;

    std::size_t Count() const { return entries_.size(); }

    // Value of a header line (the translation of ""), name matched in any letter case, value
    // trimmed; nothing when the header or the line is missing.
    std::optional<std::string> HeaderField(std::string_view name) const;

    // True when the header's Content-Type names the UTF-8 charset.
    bool HasUtf8Charset() const;

private:
    struct TEntry {
        std::uint32_t OriginalOffset, OriginalLength;
        std::uint32_t TranslationOffset, TranslationLength;
    };

    std::string_view Original(const TEntry& e) const {
        return {bytes_.data() + e.OriginalOffset, e.OriginalLength};
    }
    std::string_view Translation(const TEntry& e) const {
        return {bytes_.data() + e.TranslationOffset, e.TranslationLength};
    }

    std::string bytes_;
    std::vector<TEntry> entries_; // sorted by original, byte order
};

} // namespace qrv::i18n
