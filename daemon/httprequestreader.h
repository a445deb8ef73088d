#pragma once
// Takes a request off the bytes of a connection as they arrive, and says
// when it is whole: its head up to the empty line, and its body of exactly
// Content-Length bytes or of chunks up to the zero chunk. Nothing of a
// request is handed on before it is whole, so a client that stops early
// (closes, stalls, leaves out the last chunk) gets nothing stored.
//
// A length that is not plain digits, two lengths, a length beside chunks, an
// unknown transfer coding or a chunk size that does not parse are refused:
// the bytes after them cannot be told apart from a second request. So are an
// HTTP/1.1 head without its Host (400), a version other than HTTP/1.0 and
// HTTP/1.1 (505), and a head over 16 KiB or a header line over 8 KiB (431). A body
// longer than the limit is not read; the request is handed on with its head
// alone, so the handler can still answer it (401 before 413), and the
// connection closes after the answer.

#include <cstddef>
#include <string>
#include <string_view>

namespace gw {

class THttpRequestReader {
public:
    enum class TState {
        Idle,     // no byte of a request yet
        Head,     // part of the head
        Body,     // the head, part of the body
        Complete, // a whole request: Head() and Body()
        Refused   // a request that cannot be taken: RefusalStatus()
    };

    explicit THttpRequestReader(std::size_t maxBody);

    // Adds bytes the client sent and reads as far as they go.
    void Feed(std::string_view bytes);
    TState State() const { return state_; }

    // True once per request whose client waits for "100 Continue" before it
    // sends the body.
    bool TakeContinue();

    // Of a complete request: the head as the handler gets it (a chunked
    // body's coding replaced by its length, no "Expect"), and the body.
    const std::string& Head() const { return head_; }
    const std::string& Body() const { return body_; }
    // The body was too long and was left unread: the connection cannot carry
    // another request.
    bool BodyLeftUnread() const { return bodyLeftUnread_; }

    int RefusalStatus() const { return refusalStatus_; }
    const std::string& RefusalText() const { return refusalText_; }

    // Starts on the next request with the bytes received past this one.
    void Next();

private:
    void Advance();
    bool ReadHead();
    bool ReadFixedBody();
    bool ReadChunks();
    bool ReadChunkSize();
    bool ReadChunkData();
    bool ReadTrailer();
    void TakeHead(std::string_view head);
    void Complete();
    void CompleteWithoutBody();
    void Refuse(int status, std::string text);
    // The next line from pos_ (without its end), or false while it has not all arrived.
    bool NextLine(std::string_view& line);

    enum class TChunkStep { Size, Data, DataEnd, Trailer };

    std::size_t maxBody_;
    TState state_ = TState::Idle;
    std::string input_; // bytes received and not yet taken
    std::size_t pos_ = 0;
    std::size_t headScanned_ = 0;
    bool chunked_ = false;
    std::size_t length_ = 0; // of a fixed body
    TChunkStep chunkStep_ = TChunkStep::Size;
    std::size_t chunkLeft_ = 0;
    bool continuePending_ = false;
    std::string head_;
    std::string body_;
    bool bodyLeftUnread_ = false;
    int refusalStatus_ = 0;
    std::string refusalText_;
};

} // namespace gw
