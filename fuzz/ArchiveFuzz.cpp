// The appended-archive table walker on arbitrary bytes. The first 8 bytes, read as the
// little-endian offset of the first entry, stand for the ones the program finds after its
// signature; the whole input is the executable file.
#include "i18n/Archive.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    std::uint64_t first = 0;
    for (int i = 7; i >= 0; --i) {
        first = (first << 8) | data[i];
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const qrv::i18n::TMemorySource source(bytes);
    const auto archive = qrv::i18n::TArchive::Read(source, static_cast<std::int64_t>(first));
    for (const auto& entry : archive.Entries()) {
        // Every recorded entry must lie inside the file, so that reading it cannot fail.
        char probe[1];
        if (entry.Size > 0 && !source.ReadAt(entry.Data + entry.Size - 1, probe, 1)) {
            __builtin_trap();
        }
        (void)archive.Find(entry.Name);
    }
    (void)archive.Find("locale\\cs\\LC_MESSAGES\\default.mo");
    return 0;
}
