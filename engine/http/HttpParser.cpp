#include "engine/http/HttpParser.h"

#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include "platform/IntConv.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace qrv::engine {

using qrv::platform::EqualsNoCase;
using qrv::platform::TrimBlanks;

namespace {

constexpr const char* kBadStatus = "Invalid HTTP answer: bad status line.";
constexpr const char* kNoColon = "Invalid HTTP answer: header line without a colon.";
constexpr const char* kFoldFirst = "Invalid HTTP answer: folded line before the first header.";
constexpr const char* kLineTooLong = "Invalid HTTP answer: line too long.";
constexpr const char* kHeadTooLarge = "Invalid HTTP answer: header too large.";
constexpr const char* kBadLength = "Invalid HTTP answer: bad Content-Length.";
constexpr const char* kBadChunk = "Invalid HTTP answer: bad chunk size.";
constexpr const char* kBadChunkEnd = "Invalid HTTP answer: chunk not closed by a line end.";
constexpr const char* kClosed = "Connection Closed Gracefully.";

// Chunk sizes above this are refused rather than risking overflow in later arithmetic.
constexpr std::uint64_t kMaxChunkSize = std::uint64_t{1} << 60;

bool IsUtf8(std::string_view text) {
    std::size_t pos = 0;
    char32_t c = 0;
    while (pos < text.size()) {
        if (!platform::NextUtf8(text, pos, c)) {
            return false;
        }
    }
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number that fits in 63 bits, or nothing. The bound is on the value, not on the
// count of digits, so that leading zeros are read as curl reads them.
bool ParseLength(std::string_view text, std::uint64_t& value) {
    constexpr auto kMaxLength =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    text = TrimBlanks(text);
    if (text.empty()) {
        return false;
    }
    std::uint64_t out = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (out > (kMaxLength - digit) / 10) {
            return false;
        }
        out = out * 10 + digit;
    }
    value = out;
    return true;
}

} // namespace

bool HeaderHasToken(std::string_view value, std::string_view token) {
    while (true) {
        const std::size_t comma = value.find(',');
        if (EqualsNoCase(TrimBlanks(value.substr(0, comma)), token)) {
            return true;
        }
        if (comma == std::string_view::npos) {
            return false;
        }
        value.remove_prefix(comma + 1);
    }
}

THttpResponseParser::THttpResponseParser(THttpParserLimits limits) : limits_(limits) {}

THttpResponseParser::TState THttpResponseParser::Fail(TFailure failure, std::string text) {
    state_ = TState::Failed;
    failure_ = failure;
    failureText_ = std::move(text);
    return state_;
}

bool THttpResponseParser::TakeLine(std::string_view& bytes, std::size_t& blockBytes) {
    const void* newline = std::memchr(bytes.data(), '\n', bytes.size());
    const std::size_t take =
        newline != nullptr
            ? static_cast<std::size_t>(static_cast<const char*>(newline) - bytes.data()) + 1
            : bytes.size();
    if (line_.size() + take > limits_.MaxLineBytes + 2) {
        Fail(TFailure::TooLarge, kLineTooLong);
        return false;
    }
    if (blockBytes + take > limits_.MaxHeaderBytes) {
        Fail(TFailure::TooLarge, kHeadTooLarge);
        return false;
    }
    line_.append(bytes.data(), take);
    blockBytes += take;
    bytes.remove_prefix(take);
    if (newline == nullptr) {
        return false;
    }
    line_.pop_back();
    if (!line_.empty() && line_.back() == '\r') {
        line_.pop_back();
    }
    return true;
}

THttpResponseParser::TState THttpResponseParser::Feed(std::string_view bytes) {
    if (state_ != TState::NeedMore) {
        if (state_ == TState::Complete) {
            excess_ += bytes.size();
        }
        return state_;
    }
    if (!bytes.empty()) {
        anyBytes_ = true;
    }
    std::size_t chunkLineBytes = 0;
    while (!bytes.empty() && state_ == TState::NeedMore) {
        switch (phase_) {
        case TPhase::StatusLine:
        case TPhase::Headers:
            if (TakeLine(bytes, headBytes_)) {
                if (phase_ == TPhase::StatusLine) {
                    OnStatusLine();
                } else {
                    OnHeaderLine();
                }
                line_.clear();
            }
            break;
        case TPhase::BodyLength:
        case TPhase::ChunkData: {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size()));
            KeepBody(bytes.substr(0, n));
            bytes.remove_prefix(n);
            remaining_ -= n;
            if (remaining_ == 0) {
                if (phase_ == TPhase::BodyLength) {
                    phase_ = TPhase::Done;
                    state_ = TState::Complete;
                } else {
                    phase_ = TPhase::ChunkDataEnd;
                }
            }
            break;
        }
        case TPhase::BodyUntilClose:
            KeepBody(bytes);
            bytes = {};
            break;
        case TPhase::ChunkSize:
            chunkLineBytes = line_.size();
            if (TakeLine(bytes, chunkLineBytes)) {
                OnChunkSize();
                line_.clear();
            }
            break;
        case TPhase::ChunkDataEnd:
            chunkLineBytes = line_.size();
            if (TakeLine(bytes, chunkLineBytes)) {
                if (!line_.empty()) {
                    Fail(TFailure::Malformed, kBadChunkEnd);
                } else {
                    phase_ = TPhase::ChunkSize;
                }
                line_.clear();
            }
            break;
        case TPhase::Trailers:
            if (TakeLine(bytes, trailerBytes_)) {
                if (line_.empty()) {
                    phase_ = TPhase::Done;
                    state_ = TState::Complete;
                } else if (++trailerCount_ > limits_.MaxHeaderCount) {
                    Fail(TFailure::TooLarge, kHeadTooLarge);
                }
                line_.clear();
            }
            break;
        case TPhase::Done:
            state_ = TState::Complete;
            break;
        }
    }
    if (state_ == TState::Complete) {
        excess_ += bytes.size();
    }
    return state_;
}

THttpResponseParser::TState THttpResponseParser::FeedEnd() {
    if (state_ != TState::NeedMore) {
        return state_;
    }
    switch (phase_) {
    case TPhase::StatusLine:
    case TPhase::Headers:
        return Fail(TFailure::ClosedBeforeHead, kClosed);
    case TPhase::BodyLength:
    case TPhase::ChunkSize:
    case TPhase::ChunkData:
    case TPhase::ChunkDataEnd:
        bodyCut_ = true;
        break;
    case TPhase::BodyUntilClose:
    case TPhase::Trailers:
    case TPhase::Done:
        break;
    }
    phase_ = TPhase::Done;
    state_ = TState::Complete;
    return state_;
}

void THttpResponseParser::OnStatusLine() {
    if (line_.empty()) {
        return; // stray line ends before an answer are tolerated
    }
    const std::string_view line = line_;
    // HTTP/<major>.<minor> <3 digits>[ <reason>], where each separator is any run of blanks
    // (space or tab), as browsers read it.
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t code = 8;
    while (code < line.size() && isBlank(line[code])) {
        ++code;
    }
    if (line.size() < 9 || line.substr(0, 5) != "HTTP/" || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || code == 8 || line.size() < code + 3 || !IsDigit(line[code]) ||
        !IsDigit(line[code + 1]) || !IsDigit(line[code + 2]) ||
        (line.size() > code + 3 && !isBlank(line[code + 3])) || line[code] == '0') {
        Fail(TFailure::Malformed, kBadStatus);
        return;
    }
    // The line becomes a failure's message, shown and stored as text: UTF-8 as it is, any
    // other bytes one character each (as a body without a charset), so none is lost.
    statusLine_ = IsUtf8(line_) ? line_ : platform::Latin1ToUtf8(line_);
    versionMajor_ = line[5] - '0';
    versionMinor_ = line[7] - '0';
    statusCode_ = (line[code] - '0') * 100 + (line[code + 1] - '0') * 10 + (line[code + 2] - '0');
    phase_ = TPhase::Headers;
}

void THttpResponseParser::OnHeaderLine() {
    if (line_.empty()) {
        OnHeadEnd();
        return;
    }
    if (line_[0] == ' ' || line_[0] == '\t') {
        // An old-style continuation of the previous header's value.
        if (headers_.empty() && !skippedLast_) {
            Fail(TFailure::Malformed, kFoldFirst);
            return;
        }
        if (skippedLast_) {
            return;
        }
        const std::string_view more = TrimBlanks(line_);
        if (!more.empty()) {
            std::string& value = headers_.back().second;
            if (!value.empty()) {
                value += ' ';
            }
            value += more;
        }
        return;
    }
    const std::size_t colon = line_.find(':');
    if (colon == std::string::npos) {
        Fail(TFailure::Malformed, kNoColon);
        return;
    }
    const std::string_view name = TrimBlanks(std::string_view(line_).substr(0, colon));
    // A line without a name (": value") means nothing; it is skipped, folds and all, as
    // curl and browsers do, rather than failing a page that is up.
    skippedLast_ = name.empty();
    if (skippedLast_) {
        return;
    }
    if (headers_.size() >= limits_.MaxHeaderCount) {
        Fail(TFailure::TooLarge, kHeadTooLarge);
        return;
    }
    headers_.emplace_back(std::string(name),
                          std::string(TrimBlanks(std::string_view(line_).substr(colon + 1))));
}

void THttpResponseParser::OnHeadEnd() {
    if (statusCode_ == 100) {
        ResetHead(); // interim answer: the real one follows
        return;
    }
    headComplete_ = true;
    if ((statusCode_ >= 100 && statusCode_ < 200) || statusCode_ == 204 || statusCode_ == 304) {
        bodyMode_ = TBodyMode::None;
        phase_ = TPhase::Done;
        state_ = TState::Complete;
        return;
    }
    const std::vector<std::string> codings = HeaderValues("Transfer-Encoding");
    const std::vector<std::string> lengths = HeaderValues("Content-Length");
    if (!codings.empty()) {
        // Chunked when it is the last coding applied; otherwise the length, when there is
        // one, ends the body ("identity" or an empty value change nothing), else the close.
        std::string all;
        for (const auto& value : codings) {
            all += all.empty() ? "" : ",";
            all += value;
        }
        const std::size_t comma = all.rfind(',');
        const std::string_view last =
            TrimBlanks(std::string_view(all).substr(comma == std::string::npos ? 0 : comma + 1));
        if (EqualsNoCase(last, "chunked")) {
            bodyMode_ = TBodyMode::Chunked;
            phase_ = TPhase::ChunkSize;
            return;
        }
        if (lengths.empty()) {
            bodyMode_ = TBodyMode::UntilClose;
            phase_ = TPhase::BodyUntilClose;
            return;
        }
    }
    if (!lengths.empty()) {
        bool first = true;
        std::uint64_t length = 0;
        for (const auto& value : lengths) {
            std::string_view rest = value;
            while (true) {
                const std::size_t comma = rest.find(',');
                std::uint64_t one = 0;
                if (!ParseLength(rest.substr(0, comma), one) || (!first && one != length)) {
                    Fail(TFailure::Malformed, kBadLength);
                    return;
                }
                length = one;
                first = false;
                if (comma == std::string_view::npos) {
                    break;
                }
                rest.remove_prefix(comma + 1);
            }
        }
        bodyMode_ = TBodyMode::Length;
        remaining_ = length;
        body_.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(length, limits_.MaxBodyKept)));
        if (length == 0) {
            phase_ = TPhase::Done;
            state_ = TState::Complete;
        } else {
            phase_ = TPhase::BodyLength;
        }
        return;
    }
    bodyMode_ = TBodyMode::UntilClose;
    phase_ = TPhase::BodyUntilClose;
}

void THttpResponseParser::OnChunkSize() {
    const std::string_view line = TrimBlanks(line_);
    std::uint64_t size = 0;
    std::size_t i = 0;
    for (; i < line.size(); ++i) {
        const int digit = platform::HexDigitValue(line[i]);
        if (digit < 0) {
            break;
        }
        // Checked before the step, which would wrap past 2^64 one digit later.
        if (size > (kMaxChunkSize - static_cast<std::uint64_t>(digit)) / 16) {
            Fail(TFailure::Malformed, kBadChunk);
            return;
        }
        size = size * 16 + static_cast<std::uint64_t>(digit);
    }
    const std::string_view after = TrimBlanks(line.substr(i));
    if (i == 0 || (!after.empty() && after[0] != ';')) {
        Fail(TFailure::Malformed, kBadChunk);
        return;
    }
    if (size == 0) {
        phase_ = TPhase::Trailers;
        return;
    }
    remaining_ = size;
    phase_ = TPhase::ChunkData;
}

void THttpResponseParser::KeepBody(std::string_view bytes) {
    bodyBytes_ += bytes.size();
    if (body_.size() < limits_.MaxBodyKept) {
        body_.append(bytes.data(), std::min(bytes.size(), limits_.MaxBodyKept - body_.size()));
    }
}

void THttpResponseParser::ResetHead() {
    phase_ = TPhase::StatusLine;
    headBytes_ = 0;
    statusLine_.clear();
    statusCode_ = 0;
    versionMajor_ = 0;
    versionMinor_ = 0;
    headers_.clear();
    skippedLast_ = false;
}

std::string THttpResponseParser::Header(std::string_view name) const {
    for (const auto& [key, value] : headers_) {
        if (EqualsNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

bool THttpResponseParser::HasHeader(std::string_view name) const {
    return std::any_of(headers_.begin(), headers_.end(),
                       [&](const auto& header) { return EqualsNoCase(header.first, name); });
}

std::vector<std::string> THttpResponseParser::HeaderValues(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& [key, value] : headers_) {
        if (EqualsNoCase(key, name)) {
            out.push_back(value);
        }
    }
    return out;
}

bool THttpResponseParser::KeepAlive() const {
    if (state_ != TState::Complete || !headComplete_ || bodyCut_ ||
        bodyMode_ == TBodyMode::UntilClose || excess_ > 0) {
        return false;
    }
    for (const auto& value : HeaderValues("Connection")) {
        if (HeaderHasToken(value, "close")) {
            return false;
        }
    }
    if (versionMajor_ > 1 || (versionMajor_ == 1 && versionMinor_ >= 1)) {
        return true;
    }
    for (const auto& value : HeaderValues("Connection")) {
        if (HeaderHasToken(value, "keep-alive")) {
            return true;
        }
    }
    return false;
}

} // namespace qrv::engine
