#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qrv::engine {

// Bounds on what one answer may make us hold in memory.
struct THttpParserLimits {
    std::size_t MaxLineBytes =
        std::size_t{64} * 1024; // one status, header, chunk-size or trailer line
    std::size_t MaxHeaderBytes = std::size_t{256} * 1024; // the whole head, and again the trailers
    std::size_t MaxHeaderCount = 500;
    // Body bytes kept; the rest is read and counted but dropped. 1 MiB keeps far more than
    // the 50000 characters (at most 200000 bytes of UTF-8) that any later step looks at.
    std::size_t MaxBodyKept = std::size_t{1024} * 1024;
};

using THttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Reads one HTTP/1.x answer from bytes as they arrive, without any I/O of its own:
// status line, headers, and the body framed by Content-Length, chunked coding or the end
// of the connection. Interim 100 answers are skipped. Every state is explicit: NeedMore
// until the answer is complete, Failed with a reason otherwise.
class THttpResponseParser {
public:
    enum class TState { NeedMore, Complete, Failed };
    enum class TFailure {
        None,
        ClosedBeforeHead, // the connection ended before the head was complete
        Malformed,        // the bytes are not an HTTP answer we can read
        TooLarge,         // a line, the head or the header count passed its bound
    };
    enum class TBodyMode { None, Length, Chunked, UntilClose };

    explicit THttpResponseParser(THttpParserLimits limits = {});

    // Takes the next bytes. Bytes after a complete answer are counted as excess.
    TState Feed(std::string_view bytes);
    // The peer closed the connection. Completes an answer framed by the close, and an
    // answer whose body was cut short (see BodyCut()).
    TState FeedEnd();

    TState State() const { return state_; }
    TFailure Failure() const { return failure_; }
    const std::string& FailureText() const { return failureText_; }

    // The head of the (final, non-100) answer, once HeadComplete().
    bool HeadComplete() const { return headComplete_; }
    // True once any byte of an answer has arrived.
    bool AnyBytes() const { return anyBytes_; }
    // The status line as text: UTF-8 as received, other bytes one character each.
    const std::string& StatusLine() const { return statusLine_; }
    int StatusCode() const { return statusCode_; }
    int VersionMajor() const { return versionMajor_; }
    int VersionMinor() const { return versionMinor_; }
    const THttpHeaders& Headers() const { return headers_; }
    // The first value of a header (names compare without letter case); empty when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    std::vector<std::string> HeaderValues(std::string_view name) const;
    TBodyMode BodyMode() const { return bodyMode_; }

    // The kept beginning of the body, and how many body bytes arrived in all.
    const std::string& Body() const { return body_; }
    // Moves the kept body out (Body() is empty afterwards).
    std::string TakeBody() { return std::move(body_); }
    std::uint64_t BodyBytes() const { return bodyBytes_; }
    bool BodyTruncated() const { return bodyBytes_ > body_.size(); }
    // The connection ended before the announced body was complete.
    bool BodyCut() const { return bodyCut_; }
    // Bytes that arrived after the complete answer.
    std::size_t ExcessBytes() const { return excess_; }

    // Whether the connection may carry another request after this answer.
    bool KeepAlive() const;

private:
    enum class TPhase {
        StatusLine,
        Headers,
        BodyLength,
        BodyUntilClose,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        Trailers,
        Done,
    };

    TState Fail(TFailure failure, std::string text);
    // Collects a line into line_; returns false when more bytes are needed.
    bool TakeLine(std::string_view& bytes, std::size_t& headBudget);
    void OnStatusLine();
    void OnHeaderLine();
    void OnHeadEnd();
    void OnChunkSize();
    void KeepBody(std::string_view bytes);
    void ResetHead();

    THttpParserLimits limits_;
    TState state_ = TState::NeedMore;
    TFailure failure_ = TFailure::None;
    std::string failureText_;
    TPhase phase_ = TPhase::StatusLine;
    std::string line_;
    std::size_t headBytes_ = 0;
    std::size_t trailerBytes_ = 0;
    std::size_t trailerCount_ = 0;
    bool headComplete_ = false;
    bool anyBytes_ = false;
    std::string statusLine_;
    int statusCode_ = 0;
    int versionMajor_ = 0;
    int versionMinor_ = 0;
    THttpHeaders headers_;
    bool skippedLast_ = false; // the last header line was skipped (no name)
    TBodyMode bodyMode_ = TBodyMode::None;
    std::uint64_t remaining_ = 0;
    std::string body_;
    std::uint64_t bodyBytes_ = 0;
    bool bodyCut_ = false;
    std::size_t excess_ = 0;
};

// Whether a comma-separated header value holds a token (letter case ignored).
bool HeaderHasToken(std::string_view value, std::string_view token);

} // namespace qrv::engine
