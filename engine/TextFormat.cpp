#include "engine/TextFormat.h"

#include "platform/Error.h"

namespace qrv::engine {

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(format.size());
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        const char kind = i + 1 < format.size() ? format[i + 1] : '\0';
        if (kind == '%') {
            out.push_back('%');
        } else if (kind == 's' && next != args.end()) {
            out.append(*next++);
        } else {
            throw Error("Format '" + std::string(format) +
                        "' invalid or incompatible with its arguments");
        }
        ++i;
    }
    if (next != args.end()) {
        throw Error("Format '" + std::string(format) +
                    "' invalid or incompatible with its arguments");
    }
    return out;
}

} // namespace qrv::engine
