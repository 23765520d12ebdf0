// Feeds arbitrary bytes to the key file reader. Whatever it accepts must be written back by
// the formatter into a file that reads as the same key, and formatting must be stable.
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto file = qrv::platform::ParseRegFile(bytes, &error);
    if (!file) {
        if (error.empty()) {
            __builtin_trap();
        }
        return 0;
    }
    for (const auto& entry : file->Values) {
        (void)qrv::platform::DecodeRegString(entry.Value.Data);
    }
    const std::string text = qrv::platform::FormatRegFile(*file);
    if (text.size() > qrv::platform::kMaxRegFileSize) {
        return 0; // the store refuses to write such a key
    }
    const auto again = qrv::platform::ParseRegFile(text);
    if (!again || !(*again == *file) || qrv::platform::FormatRegFile(*again) != text) {
        __builtin_trap();
    }
    return 0;
}
