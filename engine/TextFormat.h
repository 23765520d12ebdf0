#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace qrv::engine {

// Fills a (possibly translated) text: each "%s" takes the next argument, "%%" gives "%".
// Arguments are copied as they stand, never scanned again. A text whose "%s" count differs
// from the number of arguments, or that holds any other "%" sequence (a "%d", a lone "%"),
// throws qrv::Error: a damaged translation must fail the caller, not read past its arguments.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

} // namespace qrv::engine
