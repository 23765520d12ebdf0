// The answer parser on arbitrary bytes, with what a client does next with a parsed head:
// cookies, the redirect target, the charset. The first byte chooses how the rest is split
// into reads; the result must not depend on it.
#include "engine/http/CookieStore.h"
#include "engine/http/HttpClient.h"
#include "engine/http/HttpParser.h"
#include "engine/http/HttpUrl.h"
#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using qrv::engine::THttpParserLimits;
using qrv::engine::THttpResponseParser;

THttpParserLimits SmallLimits() {
    THttpParserLimits limits;
    limits.MaxLineBytes = 1024;
    limits.MaxHeaderBytes = 4096;
    limits.MaxHeaderCount = 32;
    limits.MaxBodyKept = 256;
    return limits;
}

void UseHead(const THttpResponseParser& answer) {
    const qrv::engine::THttpUrl base = qrv::engine::ParseHttpUrl("http://fuzz.example:8080/a/b?c");
    qrv::engine::TCookieStore cookies(16, 4);
    constexpr std::time_t kNow = 1700000000;
    for (const auto& value : answer.HeaderValues("Set-Cookie")) {
        cookies.SetCookie(base, value, kNow);
    }
    for (const auto& value : answer.HeaderValues("Set-Cookie2")) {
        cookies.SetCookie2(base, value, kNow);
    }
    if (cookies.Count() > 16) {
        __builtin_trap();
    }
    const std::string header = cookies.CookieHeader(base, kNow);
    if (header.find_first_of("\r\n") != std::string::npos) {
        __builtin_trap(); // a cookie must never break the request's header lines
    }
    const std::string location = answer.Header("Location");
    if (!location.empty()) {
        try {
            const auto target = qrv::engine::ParseHttpUrl(qrv::engine::ResolveUrl(base, location));
            if (target.Target.find_first_of("\r\n ") != std::string::npos ||
                target.Host.find_first_of("\r\n /") != std::string::npos) {
                __builtin_trap(); // nor may a redirect target
            }
        } catch (const qrv::Error&) {
        }
    }
    qrv::engine::ContentTypeIsUtf8(answer.Header("Content-Type"));
    answer.KeepAlive();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t step = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    THttpResponseParser whole(SmallLimits());
    whole.Feed(input);
    whole.FeedEnd();

    THttpResponseParser pieces(SmallLimits());
    for (std::size_t pos = 0; pos < input.size(); pos += step) {
        pieces.Feed(input.substr(pos, step));
    }
    pieces.FeedEnd();

    if (whole.State() != pieces.State() || whole.Failure() != pieces.Failure() ||
        whole.StatusCode() != pieces.StatusCode() || whole.Body() != pieces.Body() ||
        whole.BodyBytes() != pieces.BodyBytes() || whole.Headers() != pieces.Headers()) {
        __builtin_trap();
    }
    if (whole.Body().size() > SmallLimits().MaxBodyKept ||
        whole.Headers().size() > SmallLimits().MaxHeaderCount ||
        whole.BodyBytes() < whole.Body().size() ||
        whole.State() == THttpResponseParser::TState::NeedMore) {
        __builtin_trap();
    }
    if (whole.HeadComplete()) {
        UseHead(whole);
    }
    return 0;
}
