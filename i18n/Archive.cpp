#include "i18n/Archive.h"

#include "platform/AsciiText.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv::i18n {

using platform::AsciiLower;

namespace {

// The signature and the 8 bytes the appender fills in. Kept by the compiler and linker although
// no code names it except through a volatile read, so the zero cannot be folded into the code.
__attribute__((used)) const char kArchiveBlock[44] =
    "6637DB2E-62E1-4A60-AC19-C23867046A89\0\0\0\0\0\0\0";

std::int64_t LittleEndian64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return static_cast<std::int64_t>(v);
}

bool IsTrimmed(unsigned char c) {
    return c <= ' ' || c == 0x7f;
}

} // namespace

std::int64_t EmbeddedArchiveOffset() {
    const volatile unsigned char* p =
        reinterpret_cast<const volatile unsigned char*>(kArchiveBlock) + kArchiveSignatureSize;
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = p[i];
    }
    return LittleEndian64(bytes);
}

bool TMemorySource::ReadAt(std::int64_t offset, void* out, std::size_t count) const {
    const auto size = bytes_.size();
    if (offset < 0 || count > size || static_cast<std::uint64_t>(offset) > size - count) {
        return false;
    }
    std::memcpy(out, bytes_.data() + offset, count);
    return true;
}

TFileSource::TFileSource(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    size_ = st.st_size;
}

TFileSource::~TFileSource() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TFileSource::ReadAt(std::int64_t offset, void* out, std::size_t count) const {
    if (fd_ < 0 || offset < 0) {
        return false;
    }
    auto* dst = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, dst + done, count - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

TArchive TArchive::Read(const IByteSource& source, std::int64_t firstOffset) {
    TArchive archive;
    const std::int64_t size = source.Size();
    std::int64_t offset = firstOffset;
    while (offset > 0) {
        unsigned char numbers[24];
        if (offset > size - 8 || !source.ReadAt(offset, numbers, 8)) {
            break;
        }
        const std::int64_t next = LittleEndian64(numbers);
        if (next == 0) {
            break;
        }
        // The name runs from behind the three numbers up to next, so next must lie past them,
        // which also keeps the walk moving forward: a loop cannot be built.
        if (offset > size - 24 || next < offset + 24 || next > size ||
            !source.ReadAt(offset + 8, numbers + 8, 16)) {
            break;
        }
        const std::int64_t data = LittleEndian64(numbers + 8);
        const std::int64_t length = LittleEndian64(numbers + 16);
        if (data < 0 || length < 0 || length > size || data > size - length) {
            // Only this entry's data is out of the file; the table itself still leads on.
            offset = next;
            continue;
        }
        std::string raw(static_cast<std::size_t>(next - offset - 24), '\0');
        if (!raw.empty() && !source.ReadAt(offset + 24, raw.data(), raw.size())) {
            break;
        }
        std::string_view name = raw;
        while (!name.empty() && IsTrimmed(static_cast<unsigned char>(name.front()))) {
            name.remove_prefix(1);
        }
        while (!name.empty() && IsTrimmed(static_cast<unsigned char>(name.back()))) {
            name.remove_suffix(1);
        }
        archive.entries_.push_back({platform::SanitizeUtf8(name), data, length});
        offset = next;
    }
    return archive;
}

TArchive TArchive::ReadFile(const std::string& path, std::int64_t firstOffset) {
    if (firstOffset == 0) {
        return {};
    }
    const TFileSource file(path);
    if (!file.IsOpen()) {
        return {};
    }
    return Read(file, firstOffset);
}

const TArchiveEntry* TArchive::Find(std::string_view name) const {
    const std::string key = ArchiveNameKey(name);
    for (const auto& entry : entries_) {
        if (ArchiveNameKey(entry.Name) == key) {
            return &entry;
        }
    }
    return nullptr;
}

bool ReadArchiveEntry(const std::string& archiveFile, const TArchiveEntry& entry,
                      std::string& out) {
    const TFileSource file(archiveFile);
    if (!file.IsOpen() || entry.Size > file.Size() || entry.Data > file.Size() - entry.Size) {
        return false;
    }
    out.assign(static_cast<std::size_t>(entry.Size), '\0');
    return out.empty() || file.ReadAt(entry.Data, out.data(), out.size());
}

std::string ArchiveNameKey(std::string_view name) {
    std::string key = AsciiLower(name);
    std::replace(key.begin(), key.end(), '\\', '/');
    return key;
}

} // namespace qrv::i18n
