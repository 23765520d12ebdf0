#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::i18n {

// The archive appended to the executable: the files, zero padding to a multiple of 256, then a
// chain of 256-byte entries (next, data, size as signed 64-bit little-endian, then the name
// padded with spaces) closed by a next of 0. The executable's data holds the signature below
// followed by the file offset of the first entry (0 when nothing is embedded). The signature's
// text is spelled once in the program (Archive.cpp): a second copy in the image would make the
// appender's search ambiguous.
inline constexpr std::size_t kArchiveSignatureSize = 36;
inline constexpr std::size_t kArchiveEntrySize = 256;
inline constexpr std::size_t kArchiveNameSize = 232;

// Offset of the first table entry as written into this program's own image, 0 when none.
std::int64_t EmbeddedArchiveOffset();

// Random-access bytes, so the table walker runs on a file or on memory (tests, fuzzing).
class IByteSource {
public:
    virtual ~IByteSource() = default;
    virtual std::int64_t Size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool ReadAt(std::int64_t offset, void* out, std::size_t count) const = 0;
};

class TMemorySource final : public IByteSource {
public:
    explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool ReadAt(std::int64_t offset, void* out, std::size_t count) const override;

private:
    std::string_view bytes_;
};

class TFileSource final : public IByteSource {
public:
    explicit TFileSource(const std::string& path); // check IsOpen()
    ~TFileSource() override;
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    std::int64_t Size() const override { return size_; }
    bool ReadAt(std::int64_t offset, void* out, std::size_t count) const override;

private:
    int fd_ = -1;
    std::int64_t size_ = 0;
};

struct TArchiveEntry {
    std::string Name; // as stored, with backslashes, trimmed
    std::int64_t Data = 0;
    std::int64_t Size = 0;
};

class TArchive {
public:
    TArchive() = default;

    // Walks the table from `firstOffset`. Reading stops quietly at the first entry that does
    // not make sense (a next that does not move forward or lies outside the source, a data
    // range outside it, negative numbers); the entries read until then are kept.
    static TArchive Read(const IByteSource& source, std::int64_t firstOffset);

    // The same over a file; an archive that cannot be opened is empty.
    static TArchive ReadFile(const std::string& path, std::int64_t firstOffset);

    // Entry of a name, compared without regard to letter case; '/' and '\' are the same.
    const TArchiveEntry* Find(std::string_view name) const;

    // Entries in table order.
    const std::vector<TArchiveEntry>& Entries() const { return entries_; }

    bool Empty() const { return entries_.empty(); }

private:
    std::vector<TArchiveEntry> entries_;
};

// Reads an entry's bytes from the archive's file; false when they cannot be read whole.
bool ReadArchiveEntry(const std::string& archiveFile, const TArchiveEntry& entry, std::string& out);

// ASCII lower case with backslashes turned into slashes: the form names are compared in.
std::string ArchiveNameKey(std::string_view name);

} // namespace qrv::i18n
