// The .mo reader on arbitrary bytes: parsing either fails with qrv::Error or gives a catalogue
// whose every lookup stays inside the bytes.
#include "i18n/MoFile.h"
#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        const auto mo = qrv::i18n::TMoFile::Parse(bytes, "fuzz");
        volatile std::size_t sink = mo.Count();
        for (const char* key : {"", "Waiting...", "Content-Type", "\xff\xff"}) {
            if (const auto found = mo.Lookup(key)) {
                sink = sink + found->size();
            }
        }
        // Keys cut from the input itself, so that existing originals are found too.
        for (std::size_t len = 1; len <= 16 && len <= size; len *= 2) {
            if (const auto found = mo.Lookup(bytes.substr(size - len))) {
                sink = sink + found->size();
            }
        }
        sink = sink + (mo.HasUtf8Charset() ? 1 : 0);
        if (const auto field = mo.HeaderField("Project-Id-Version")) {
            sink = sink + field->size();
        }
    } catch (const qrv::Error&) {
    }
    return 0;
}
