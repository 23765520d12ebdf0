// qrv-embed: appends files to a linked executable as the archive its catalogue service reads.
//
//   qrv-embed <executable> <name> <file> [<name> <file>]...
//
// The files are appended whole, then zero bytes up to a multiple of 256, then one 256-byte
// entry per file (next, data, size as signed 64-bit little-endian, the name padded with spaces)
// and a closing next of 0. The offset of the first entry goes into the 8 bytes that follow the
// signature in the executable's data.
#include "i18n/Archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using qrv::i18n::kArchiveEntrySize;
using qrv::i18n::kArchiveNameSize;

constexpr std::string_view kArchiveSignature = "6637DB2E-62E1-4A60-AC19-C23867046A89";
static_assert(kArchiveSignature.size() == qrv::i18n::kArchiveSignatureSize);

int Fail(const std::string& message) {
    std::fprintf(stderr, "qrv-embed: %s\n", message.c_str());
    return 1;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    out.clear();
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, n);
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void PutLittleEndian64(std::string& out, std::int64_t value) {
    auto v = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>(v & 0xff));
        v >>= 8;
    }
}

std::uint64_t LittleEndian(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

// File ranges that the loader maps: the program reads the offset from its own image, so only a
// signature inside one of them counts (debug information may hold another copy). A file that is
// not a 64-bit little-endian ELF is taken whole.
std::vector<std::pair<std::size_t, std::size_t>> LoadedRanges(const std::string& image) {
    const bool elf64le = image.size() >= 64 &&
                         image.compare(0, 4,
                                       "\x7f"
                                       "ELF") == 0 &&
                         image[4] == 2 && image[5] == 1;
    if (!elf64le) {
        return {{0, image.size()}};
    }
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    const std::uint64_t phoff = LittleEndian(image, 0x20, 8);
    const std::uint64_t phentsize = LittleEndian(image, 0x36, 2);
    const std::uint64_t phnum = LittleEndian(image, 0x38, 2);
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t ph = phoff + i * phentsize;
        if (phentsize < 56 || ph > image.size() || image.size() - ph < 56) {
            break;
        }
        const std::uint64_t offset = LittleEndian(image, ph + 8, 8);
        const std::uint64_t filesz = LittleEndian(image, ph + 32, 8);
        if (LittleEndian(image, ph, 4) == 1 /* PT_LOAD */ && filesz <= image.size() &&
            offset <= image.size() - filesz) {
            ranges.emplace_back(offset, offset + filesz);
        }
    }
    return ranges;
}

bool WriteAt(int fd, const std::string& bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        return Fail("usage: qrv-embed <executable> <name> <file> [<name> <file>]...");
    }
    const std::string exePath = argv[1];
    std::string image;
    if (!ReadFile(exePath, image)) {
        return Fail("cannot read " + exePath + ": " + std::strerror(errno));
    }

    // Exactly one signature with empty offset bytes: anything else means a program without the
    // archive block, one that already carries an archive, or an ambiguous image.
    std::vector<std::size_t> slots;
    bool embedded = false;
    const auto ranges = LoadedRanges(image);
    for (auto at = image.find(kArchiveSignature); at != std::string::npos;
         at = image.find(kArchiveSignature, at + 1)) {
        const std::size_t slot = at + kArchiveSignature.size();
        const bool loaded = std::any_of(ranges.begin(), ranges.end(), [&](const auto& r) {
            return at >= r.first && slot + 8 <= r.second;
        });
        if (!loaded) {
            continue;
        }
        if (image.compare(slot, 8, std::string(8, '\0')) == 0) {
            slots.push_back(slot);
        } else {
            embedded = true;
        }
    }
    if (slots.size() != 1) {
        if (slots.empty() && embedded) {
            return Fail(exePath + " already carries an archive");
        }
        return Fail(exePath + ": expected one archive signature, found " +
                    std::to_string(slots.size()));
    }

    struct TItem {
        std::string Name;
        std::int64_t Data;
        std::int64_t Size;
    };
    std::vector<TItem> items;
    std::string tail;
    const auto base = static_cast<std::int64_t>(image.size());
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name.empty() || name.size() > kArchiveNameSize) {
            return Fail("name must have 1 to 232 bytes: " + name);
        }
        std::string content;
        if (!ReadFile(argv[i + 1], content)) {
            return Fail(std::string("cannot read ") + argv[i + 1] + ": " + std::strerror(errno));
        }
        items.push_back({name, base + static_cast<std::int64_t>(tail.size()),
                         static_cast<std::int64_t>(content.size())});
        tail += content;
    }
    // The table starts on a whole entry from the start of the file.
    const std::size_t used = static_cast<std::size_t>(base) + tail.size();
    tail.append((kArchiveEntrySize - used % kArchiveEntrySize) % kArchiveEntrySize, '\0');

    const std::int64_t table = base + static_cast<std::int64_t>(tail.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto entry = table + static_cast<std::int64_t>(i * kArchiveEntrySize);
        PutLittleEndian64(tail, entry + static_cast<std::int64_t>(kArchiveEntrySize));
        PutLittleEndian64(tail, items[i].Data);
        PutLittleEndian64(tail, items[i].Size);
        tail += items[i].Name;
        tail.append(kArchiveNameSize - items[i].Name.size(), ' ');
    }
    PutLittleEndian64(tail, 0);

    std::string offset;
    PutLittleEndian64(offset, table);
    const int fd = ::open(exePath.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fail("cannot open " + exePath + " for writing: " + std::strerror(errno));
    }
    const bool ok = WriteAt(fd, tail, static_cast<off_t>(base)) &&
                    WriteAt(fd, offset, static_cast<off_t>(slots.front()));
    const int err = errno;
    if (::close(fd) != 0 || !ok) {
        return Fail("cannot write " + exePath + ": " + std::strerror(ok ? errno : err));
    }
    return 0;
}
