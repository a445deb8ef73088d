#include "daemon/httprequestreader.h"

#include <gtest/gtest.h>

#include <string>

namespace gw {
namespace {

using TState = THttpRequestReader::TState;

constexpr std::size_t Limit = 64;

const std::string Post = "POST /cnf.ini HTTP/1.1\r\nHost: x\r\n";

// The request fed in one piece and byte by byte: the framing must not depend
// on how the bytes arrive.
TEST(HttpRequestReader, TakesOnlyWholeRequests)
{
    struct Case {
        const char* what;
        std::string bytes;
        TState state;
        int status;       // of a refusal
        const char* body; // of a complete request
    } cases[] = {
        {"no body", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", TState::Complete, 0, ""},
        {"LF lines", "GET / HTTP/1.1\nHost: x\n\n", TState::Complete, 0, ""},
        {"length", Post + "Content-Length: 5\r\n\r\nhello", TState::Complete, 0, "hello"},
        {"length, short", Post + "Content-Length: 6\r\n\r\nhello", TState::Body, 0, ""},
        {"head, short", Post + "Content-Length: 5\r\n", TState::Head, 0, ""},
        {"chunks", Post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n2;x=y\r\n!!\r\n0\r\n\r\n", TState::Complete,
         0, "hello!!"},
        {"chunks with trailer", Post + "Transfer-Encoding: Chunked\r\n\r\n1\r\na\r\n0\r\nX-T: 1\r\n\r\n",
         TState::Complete, 0, "a"},
        {"chunks, no zero chunk", Post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", TState::Body, 0, ""},
        {"chunks, no end of trailer", Post + "Transfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n", TState::Body, 0, ""},
        {"negative length", Post + "Content-Length: -1\r\n\r\n", TState::Refused, 400, ""},
        {"signed length", Post + "Content-Length: +5\r\n\r\nhello", TState::Refused, 400, ""},
        {"length with junk", Post + "Content-Length: 5x\r\n\r\nhello", TState::Refused, 400, ""},
        {"empty length", Post + "Content-Length: \r\n\r\n", TState::Refused, 400, ""},
        {"two lengths", Post + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nhello", TState::Refused, 400, ""},
        {"length and chunks", Post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         TState::Refused, 400, ""},
        {"unknown coding", Post + "Transfer-Encoding: gzip\r\n\r\n", TState::Refused, 400, ""},
        {"bad chunk size", Post + "Transfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", TState::Refused, 400,
         ""},
        {"empty chunk size", Post + "Transfer-Encoding: chunked\r\n\r\n\r\nhello\r\n0\r\n\r\n", TState::Refused, 400,
         ""},
        {"negative chunk size", Post + "Transfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n", TState::Refused,
         400, ""},
        {"chunk longer than its size", Post + "Transfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n",
         TState::Refused, 400, ""},
        {"garbage head", "\x01\x02 nonsense\r\n\r\n", TState::Refused, 400, ""},
        {"endless head", "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a'), TState::Refused, 431, ""},
    };
    for (const auto& c : cases) {
        THttpRequestReader whole(Limit);
        whole.Feed(c.bytes);
        THttpRequestReader bytewise(Limit);
        for (char b : c.bytes)
            bytewise.Feed(std::string_view(&b, 1));
        for (const THttpRequestReader* r : {&whole, &bytewise}) {
            const char* how = r == &whole ? " (whole)" : " (byte by byte)";
            EXPECT_EQ(r->State(), c.state) << c.what << how;
            if (c.state == TState::Refused) {
                EXPECT_EQ(r->RefusalStatus(), c.status) << c.what << how;
            }
            if (c.state == TState::Complete) {
                EXPECT_EQ(r->Body(), c.body) << c.what << how;
            }
        }
    }
}

// The handler gets a chunked body as one of plain length, without the
// coding and without "Expect", which the reader has answered itself.
TEST(HttpRequestReader, HandsOnAChunkedBodyWithItsLength)
{
    THttpRequestReader r(Limit);
    r.Feed(Post + "Expect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n");
    EXPECT_TRUE(r.TakeContinue());
    EXPECT_FALSE(r.TakeContinue());
    r.Feed("3\r\nabc\r\n0\r\n\r\n");
    ASSERT_EQ(r.State(), TState::Complete);
    EXPECT_EQ(r.Head(), Post + "Content-Length: 3\r\n\r\n");
    EXPECT_FALSE(r.BodyLeftUnread());
}

// Too long a body is not read; its head still goes to the handler, which
// answers (401 before 413), and the connection cannot go on.
TEST(HttpRequestReader, LeavesTooLongABodyUnread)
{
    for (const std::string& bytes :
         {Post + "Expect: 100-continue\r\nContent-Length: 65\r\n\r\n",
          Post + "Transfer-Encoding: chunked\r\n\r\n40\r\n" + std::string(64, 'a') + "\r\n1\r\n"}) {
        THttpRequestReader r(Limit);
        r.Feed(bytes);
        ASSERT_EQ(r.State(), TState::Complete) << bytes;
        EXPECT_TRUE(r.BodyLeftUnread());
        EXPECT_EQ(r.Body(), "");
        EXPECT_FALSE(r.TakeContinue()); // the client is not asked to send what will not be read
        EXPECT_NE(r.Head().find("Content-Length: 65\r\n"), std::string::npos) << r.Head();
    }
}

TEST(HttpRequestReader, ReadsARequestSentBehindTheLastOne)
{
    THttpRequestReader r(Limit);
    r.Feed(Post + "Content-Length: 2\r\n\r\nab\r\nGET /next HTTP/1.1\r\nHost: x\r\n\r\nGET /third");
    ASSERT_EQ(r.State(), TState::Complete);
    EXPECT_EQ(r.Body(), "ab");
    r.Next();
    ASSERT_EQ(r.State(), TState::Complete);
    EXPECT_EQ(r.Head(), "GET /next HTTP/1.1\r\nHost: x\r\n\r\n");
    r.Next();
    EXPECT_EQ(r.State(), TState::Head);
    THttpRequestReader idle(Limit);
    idle.Feed("\r\n");
    EXPECT_EQ(idle.State(), TState::Idle);
}

} // namespace
} // namespace gw
