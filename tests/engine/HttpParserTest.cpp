#include "engine/http/HttpParser.h"

#include <gtest/gtest.h>

namespace qrv::engine {
namespace {

using TState = THttpResponseParser::TState;
using TFailure = THttpResponseParser::TFailure;
using TMode = THttpResponseParser::TBodyMode;

struct TParsed {
    TState State;
    TFailure Failure;
    int Code;
    std::string Body;
    bool KeepAlive;
    bool Cut;
};

// Feeds the answer in pieces of `step` bytes (0: whole), then the end when `close` is set.
TParsed Parse(const std::string& answer, std::size_t step, bool close,
              THttpParserLimits limits = {}) {
    THttpResponseParser parser(limits);
    if (step == 0) {
        parser.Feed(answer);
    } else {
        for (std::size_t pos = 0; pos < answer.size(); pos += step) {
            parser.Feed(std::string_view(answer).substr(pos, step));
        }
    }
    if (close) {
        parser.FeedEnd();
    }
    return {parser.State(), parser.Failure(),   parser.StatusCode(),
            parser.Body(),  parser.KeepAlive(), parser.BodyCut()};
}

TEST(HttpParser, AnswersParseAlikeHoweverTheyAreSplit) {
    const struct {
        const char* Name;
        std::string Answer;
        bool Close; // the connection ends after the bytes
        TState State;
        int Code;
        std::string Body;
        bool KeepAlive;
    } rows[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, TState::Complete, 200,
         "abc", true},
        {"length waits", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabc", false, TState::NeedMore,
         200, "abc", false},
        {"until close", "HTTP/1.1 200 OK\r\n\r\nabc", true, TState::Complete, 200, "abc", false},
        {"until close waits", "HTTP/1.1 200 OK\r\n\r\nabc", false, TState::NeedMore, 200, "abc",
         false},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
         "3;a=b\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\nT: 1\r\n\r\n",
         false, TState::Complete, 200, "abc0123456789abcdef", true},
        {"not chunked last", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n3\r\n",
         true, TState::Complete, 200, "3\r\n", false},
        {"identity by length",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n"
         "Content-Length: 2\r\n\r\nab",
         false, TState::Complete, 200, "ab", true},
        {"empty coding by length",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding:\r\nContent-Length: 1\r\n"
         "\r\nz",
         false, TState::Complete, 200, "z", true},
        {"blanks in the status line", "HTTP/1.1  200\tOK\r\nContent-Length: 1\r\n\r\nx", false,
         TState::Complete, 200, "x", true},
        {"status without reason", "HTTP/1.1\t204\r\n\r\n", false, TState::Complete, 204, "", true},
        {"interim",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n"
         "\r\nx",
         false, TState::Complete, 201, "x", true},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", false, TState::Complete, 204, "", true},
        {"not modified", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", false,
         TState::Complete, 304, "", true},
        {"1.0 closes", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", false, TState::Complete,
         200, "x", false},
        {"1.0 keep-alive",
         "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n"
         "\r\nx",
         false, TState::Complete, 200, "x", true},
        {"close token",
         "HTTP/1.1 200 OK\r\nConnection: Upgrade, close\r\nContent-Length: 0\r\n"
         "\r\n",
         false, TState::Complete, 200, "", false},
        {"excess bytes", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxy", false, TState::Complete,
         200, "x", false},
        {"leading blank lines", "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz", false,
         TState::Complete, 200, "z", true},
        {"length with leading zeros",
         "HTTP/1.1 200 OK\r\nContent-Length: 0000000000000000000002\r\n\r\nab", false,
         TState::Complete, 200, "ab", true},
        {"length 2^63-1 waits", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nab",
         false, TState::NeedMore, 200, "ab", false},
        {"same lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\nContent-Length: 2\r\n\r\nab",
         false, TState::Complete, 200, "ab", true},
        {"cut body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nab", true, TState::Complete, 200,
         "ab", false},
        {"cut chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nab", true,
         TState::Complete, 200, "ab", false},
        {"head cut", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", true, TState::Failed, 200, "",
         false},
        {"empty header name", "HTTP/1.1 200 OK\r\n: v\r\nContent-Length: 2\r\n\r\nab", false,
         TState::Complete, 200, "ab", true},
        {"bare colon", "HTTP/1.1 200 OK\r\n:\r\n \t:\r\nContent-Length: 1\r\n\r\nz", false,
         TState::Complete, 200, "z", true},
        {"chunk of 2^60 waits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000\r\nabc", false,
         TState::NeedMore, 200, "abc", false},
        {"chunk size with leading zeros",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n000000000000000000003\r\nabc\r\n"
         "0\r\n\r\n",
         false, TState::Complete, 200, "abc", true},
        {"nothing", "", true, TState::Failed, 0, "", false},
    };
    for (const auto& row : rows) {
        const TParsed whole = Parse(row.Answer, 0, row.Close);
        EXPECT_EQ(whole.State, row.State) << row.Name;
        EXPECT_EQ(whole.Code, row.Code) << row.Name;
        EXPECT_EQ(whole.Body, row.Body) << row.Name;
        EXPECT_EQ(whole.KeepAlive, row.KeepAlive) << row.Name;
        for (std::size_t step = 1; step <= 7; ++step) {
            const TParsed split = Parse(row.Answer, step, row.Close);
            EXPECT_EQ(split.State, whole.State) << row.Name << " step " << step;
            EXPECT_EQ(split.Code, whole.Code) << row.Name << " step " << step;
            EXPECT_EQ(split.Body, whole.Body) << row.Name << " step " << step;
            EXPECT_EQ(split.KeepAlive, whole.KeepAlive) << row.Name << " step " << step;
        }
    }
}

TEST(HttpParser, HeadIsReadWithItsLines) {
    THttpResponseParser parser;
    parser.Feed("HTTP/1.1 404 Not  Found \r\nSet-Cookie: a=1\r\nset-cookie:b=2\r\n"
                "X-Fold: one\r\n\t two\r\nEmpty:\r\n: nameless\r\n\tfolded too\r\n\r\n");
    EXPECT_TRUE(parser.HeadComplete());
    EXPECT_EQ(parser.StatusLine(), "HTTP/1.1 404 Not  Found ");
    EXPECT_EQ(parser.StatusCode(), 404);
    EXPECT_EQ(parser.HeaderValues("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(parser.Header("x-fold"), "one two");
    EXPECT_TRUE(parser.HasHeader("Empty"));
    EXPECT_EQ(parser.Header("Empty"), ""); // the ignored line's fold goes with it
    EXPECT_EQ(parser.Headers().size(), 4u);
    EXPECT_FALSE(parser.HasHeader("Missing"));
    EXPECT_EQ(parser.BodyMode(), TMode::UntilClose);
}

TEST(HttpParser, BadAnswersFailWithAReason) {
    const struct {
        const char* Name;
        std::string Answer;
        TFailure Failure;
    } rows[] = {
        {"status", "HTTP/1.1 2000 OK\r\n\r\n", TFailure::Malformed},
        {"status letters", "HTTP/1.1 abc OK\r\n\r\n", TFailure::Malformed},
        {"status zero", "HTTP/1.1 099 Low\r\n\r\n", TFailure::Malformed},
        {"status glued", "HTTP/1.1200 OK\r\n\r\n", TFailure::Malformed},
        {"status reason glued", "HTTP/1.1 200OK\r\n\r\n", TFailure::Malformed},
        {"not http", "<html>hello</html>\r\n", TFailure::Malformed},
        {"colon", "HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", TFailure::Malformed},
        {"fold first", "HTTP/1.1 200 OK\r\n folded\r\n\r\n", TFailure::Malformed},
        {"length sign", "HTTP/1.1 200 OK\r\nContent-Length: +3\r\n\r\nabc", TFailure::Malformed},
        {"length hex", "HTTP/1.1 200 OK\r\nContent-Length: 0x3\r\n\r\nabc", TFailure::Malformed},
        {"length empty", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", TFailure::Malformed},
        {"length huge", "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n",
         TFailure::Malformed},
        {"length 2^63", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n",
         TFailure::Malformed},
        {"lengths differ", "HTTP/1.1 200 OK\r\nContent-Length: 1, 2\r\n\r\nab",
         TFailure::Malformed},
        {"chunk empty", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n",
         TFailure::Malformed},
        {"chunk junk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3x\r\nabc\r\n",
         TFailure::Malformed},
        {"chunk negative", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n",
         TFailure::Malformed},
        {"chunk huge", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000001\r\n",
         TFailure::Malformed},
        {"chunk 2^64-1",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n",
         TFailure::Malformed},
        // One digit more than 2^60: wrapping would read a last chunk, or a chunk of 3.
        {"chunk 2^64",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n\r\n",
         TFailure::Malformed},
        {"chunk 2^64+3",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000003\r\nabc\r\n"
         "0\r\n\r\n",
         TFailure::Malformed},
        {"chunk tail", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
         TFailure::Malformed},
        {"long line", "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'a'), TFailure::TooLarge},
        {"long chunk line",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1;" + std::string(70000, 'e'),
         TFailure::TooLarge},
        {"endless blank lines", std::string(300000, '\n'), TFailure::TooLarge},
    };
    for (const auto& row : rows) {
        for (const std::size_t step : {std::size_t{0}, std::size_t{1}, std::size_t{5}}) {
            const TParsed parsed = Parse(row.Answer, step, true);
            EXPECT_EQ(parsed.State, TState::Failed) << row.Name << " step " << step;
            EXPECT_EQ(parsed.Failure, row.Failure) << row.Name << " step " << step;
        }
    }
}

TEST(HttpParser, FailureTextsSayWhatIsWrong) {
    const struct {
        const char* Answer;
        const char* Text;
    } rows[] = {
        {"HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", "Invalid HTTP answer: header line without a colon."},
        {"HTTP/1.1 200 OK\r\n folded: x\r\n\r\n",
         "Invalid HTTP answer: folded line before the first header."},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000003\r\n",
         "Invalid HTTP answer: bad chunk size."},
    };
    for (const auto& row : rows) {
        THttpResponseParser parser;
        parser.Feed(row.Answer);
        EXPECT_EQ(parser.FailureText(), row.Text) << row.Answer;
    }
}

// The status line is a failure's whole message: every byte stays a character. UTF-8 reads
// as it is; anything else one character per byte, as a body without a charset.
TEST(HttpParser, StatusLineKeepsEveryByte) {
    const struct {
        const char* Line;
        const char* Text;
    } rows[] = {
        {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found"},
        {"HTTP/1.1 503 Slu\xC5\xBE"
         "ba nedostupn\xC3\xA1",
         "HTTP/1.1 503 Slu\xC5\xBE"
         "ba nedostupn\xC3\xA1"},
        {"HTTP/1.1 404 Nenalezeno \xE9\x9E", "HTTP/1.1 404 Nenalezeno \xC3\xA9\xC2\x9E"},
        {"HTTP/1.1 500 \xC3", "HTTP/1.1 500 \xC3\x83"},
        {"HTTP/1.1 500 \xED\xA0\x80", "HTTP/1.1 500 \xC3\xAD\xC2\xA0\xC2\x80"},
    };
    for (const auto& row : rows) {
        THttpResponseParser parser;
        parser.Feed(std::string(row.Line) + "\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(parser.State(), TState::Complete) << row.Line;
        EXPECT_EQ(parser.StatusLine(), row.Text) << row.Line;
    }
}

TEST(HttpParser, MemoryStaysWithinTheLimits) {
    THttpParserLimits limits;
    limits.MaxLineBytes = 100;
    limits.MaxHeaderBytes = 1000;
    limits.MaxHeaderCount = 10;
    limits.MaxBodyKept = 16;

    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 11; ++i) {
        many += "H" + std::to_string(i) + ": v\r\n";
    }
    EXPECT_EQ(Parse(many + "\r\n", 0, false, limits).Failure, TFailure::TooLarge);
    std::string bulky = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n";
    for (int i = 0; i < 5; ++i) {
        bulky += "H: " + std::string(90, 'v') + "\r\n";
    }
    EXPECT_EQ(Parse(bulky + "\r\n", 3, false, limits).State, TState::Complete); // 513 bytes
    limits.MaxHeaderBytes = 500;
    EXPECT_EQ(Parse(bulky + "\r\n", 3, false, limits).Failure, TFailure::TooLarge);
    std::string trailers = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n";
    for (int i = 0; i < 11; ++i) {
        trailers += "T: 1\r\n";
    }
    EXPECT_EQ(Parse(trailers + "\r\n", 0, false, limits).Failure, TFailure::TooLarge);

    // A long body is counted in full but only its beginning is kept.
    THttpResponseParser parser(limits);
    parser.Feed("HTTP/1.1 200 OK\r\n\r\n");
    const std::string block(1000, 'q');
    for (int i = 0; i < 1000; ++i) {
        parser.Feed(block);
    }
    parser.FeedEnd();
    EXPECT_EQ(parser.State(), TState::Complete);
    EXPECT_EQ(parser.Body(), std::string(16, 'q'));
    EXPECT_EQ(parser.BodyBytes(), 1000000u);
    EXPECT_TRUE(parser.BodyTruncated());
}

TEST(HttpParser, ClosedBeforeHeadIsItsOwnFailure) {
    for (const std::string answer : {"", "HTTP/1.1 200", "HTTP/1.1 200 OK\r\nA: b\r\n"}) {
        THttpResponseParser parser;
        parser.Feed(answer);
        EXPECT_EQ(parser.State(), TState::NeedMore);
        EXPECT_EQ(parser.AnyBytes(), !answer.empty());
        parser.FeedEnd();
        EXPECT_EQ(parser.Failure(), TFailure::ClosedBeforeHead) << answer;
        EXPECT_EQ(parser.FailureText(), "Connection Closed Gracefully.");
    }
}

TEST(HttpParser, HeaderTokens) {
    EXPECT_TRUE(HeaderHasToken("close", "close"));
    EXPECT_TRUE(HeaderHasToken(" Keep-Alive , Upgrade", "keep-alive"));
    EXPECT_TRUE(HeaderHasToken("a,,CLOSE", "close"));
    EXPECT_FALSE(HeaderHasToken("closed", "close"));
    EXPECT_FALSE(HeaderHasToken("", "close"));
}

} // namespace
} // namespace qrv::engine
