#include "daemon/httprequestreader.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/String.h>

#include <algorithm>
#include <charconv>
#include <sstream>

namespace gw {

namespace {

constexpr std::size_t MaxHeadBytes = 16 * 1024;
// A header line, as long as POCO takes a field's value; the request line may
// be longer (a long query).
constexpr std::size_t MaxHeaderLineBytes = 8 * 1024;
constexpr std::size_t MaxLineBytes = 4096; // a chunk size or trailer line
constexpr std::size_t MaxTrailerLines = 64;

bool SameName(const std::string& a, const char* b) { return Poco::icompare(a, b) == 0; }

bool AllOf(std::string_view text, bool (*test)(char))
{
    for (char c : text) {
        if (!test(c))
            return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The end of a head (past its empty line) in text, scanning from `from`; 0
// while it has not arrived. Lines may end in LF alone.
std::size_t HeadEnd(std::string_view text, std::size_t from)
{
    for (std::size_t i = from < 1 ? 1 : from; i < text.size(); ++i) {
        if (text[i] != '\n')
            continue;
        if (text[i - 1] == '\n' || (i >= 2 && text[i - 1] == '\r' && text[i - 2] == '\n'))
            return i + 1;
    }
    return 0;
}

// Whether a line after the request line is longer than a field may be.
bool HasLongHeaderLine(std::string_view head)
{
    for (std::size_t start = head.find('\n'); start != std::string_view::npos;) {
        const std::size_t end = head.find('\n', start + 1);
        const std::size_t length = (end == std::string_view::npos ? head.size() : end) - start - 1;
        if (length > MaxHeaderLineBytes)
            return true;
        start = end;
    }
    return false;
}

// "HTTP/" and a version number: a version of the protocol, if not one this
// server speaks.
bool IsHttpVersion(const std::string& version)
{
    const std::string_view number = std::string_view(version).substr(std::min<std::size_t>(5, version.size()));
    return version.rfind("HTTP/", 0) == 0 && !number.empty() && IsDigit(number.front())
           && AllOf(number, [](char c) { return IsDigit(c) || c == '.'; });
}

// A chunk size line: hex digits, then optional blanks and an extension after
// ';'. Sizes of more than 15 hex digits do not fit and are refused.
bool ParseChunkSize(std::string_view line, std::size_t& size)
{
    std::size_t digits = 0;
    while (digits < line.size() && IsHexDigit(line[digits]))
        ++digits;
    if (digits == 0 || digits > 15)
        return false;
    std::string_view rest = line.substr(digits);
    while (!rest.empty() && IsBlank(rest.front()))
        rest.remove_prefix(1);
    if (!rest.empty() && rest.front() != ';')
        return false;
    const auto result = std::from_chars(line.data(), line.data() + digits, size, 16);
    return result.ec == std::errc() && result.ptr == line.data() + digits;
}

} // namespace

THttpRequestReader::THttpRequestReader(std::size_t maxBody) : maxBody_(maxBody) {}

void THttpRequestReader::Feed(std::string_view bytes)
{
    if (state_ == TState::Complete || state_ == TState::Refused) {
        input_.append(bytes); // the next request's, read after Next
        return;
    }
    input_.append(bytes);
    Advance();
}

bool THttpRequestReader::TakeContinue()
{
    const bool pending = continuePending_;
    continuePending_ = false;
    return pending;
}

void THttpRequestReader::Next()
{
    input_.erase(0, pos_);
    pos_ = 0;
    state_ = TState::Idle;
    headScanned_ = 0;
    chunked_ = false;
    length_ = 0;
    chunkStep_ = TChunkStep::Size;
    chunkLeft_ = 0;
    continuePending_ = false;
    head_.clear();
    body_.clear();
    bodyLeftUnread_ = false;
    Advance();
}

void THttpRequestReader::Advance()
{
    bool progress = true;
    while (progress) {
        switch (state_) {
        case TState::Idle:
        case TState::Head: progress = ReadHead(); break;
        case TState::Body: progress = chunked_ ? ReadChunks() : ReadFixedBody(); break;
        default: return;
        }
    }
    if (state_ == TState::Body && chunked_) {
        input_.erase(0, pos_); // what is decoded is held in body_ alone
        pos_ = 0;
    }
}

bool THttpRequestReader::ReadHead()
{
    // Empty lines before a request are allowed and dropped (RFC 7230 3.5).
    if (state_ == TState::Idle) {
        while (pos_ < input_.size() && (input_[pos_] == '\r' || input_[pos_] == '\n'))
            ++pos_;
        if (pos_ == input_.size())
            return false;
        input_.erase(0, pos_);
        pos_ = 0;
        state_ = TState::Head;
    }
    const std::size_t end = HeadEnd(input_, headScanned_ > 2 ? headScanned_ - 2 : 0);
    if (end == 0) {
        headScanned_ = input_.size();
        if (input_.size() > MaxHeadBytes)
            Refuse(431, "Request head too large");
        return false;
    }
    if (end > MaxHeadBytes) {
        Refuse(431, "Request head too large");
        return false;
    }
    pos_ = end;
    TakeHead(std::string_view(input_).substr(0, end));
    return state_ == TState::Body;
}

// Reads the head's framing, and keeps the head as the handler will get it.
void THttpRequestReader::TakeHead(std::string_view text)
{
    if (HasLongHeaderLine(text)) {
        Refuse(431, "Request header field too large");
        return;
    }
    Poco::Net::HTTPRequest request;
    try {
        std::istringstream in{std::string(text)};
        request.read(in);
    } catch (const Poco::Exception&) {
        Refuse(400, "Bad request head");
        return;
    }
    const std::string& version = request.getVersion();
    const bool http11 = version == Poco::Net::HTTPMessage::HTTP_1_1;
    if (!http11 && version != Poco::Net::HTTPMessage::HTTP_1_0) {
        if (IsHttpVersion(version))
            Refuse(505, "HTTP/1.0 and HTTP/1.1 only");
        else
            Refuse(400, "Bad request head");
        return;
    }
    int lengths = 0, codings = 0, hosts = 0;
    std::string length, coding;
    bool expectContinue = false;
    for (const auto& [name, value] : request) {
        if (SameName(name, "Host")) {
            ++hosts;
        } else if (SameName(name, "Content-Length")) {
            ++lengths;
            length = Poco::trim(value);
        } else if (SameName(name, "Transfer-Encoding")) {
            ++codings;
            coding = Poco::trim(value);
        } else if (SameName(name, "Expect")) {
            expectContinue = Poco::icompare(Poco::trim(value), "100-continue") == 0;
        }
    }
    // An HTTP/1.1 request names its host once (RFC 7230 5.4).
    if (hosts > 1 || (http11 && hosts == 0)) {
        Refuse(400, hosts > 1 ? "More than one Host header" : "No Host header");
        return;
    }
    if (codings > 0 && (lengths > 0 || codings > 1 || Poco::icompare(coding, "chunked") != 0)) {
        Refuse(400, "Bad Transfer-Encoding");
        return;
    }
    if (lengths > 1 || (lengths == 1 && (length.empty() || length.size() > 18 || !AllOf(length, IsDigit)))) {
        Refuse(400, "Bad Content-Length");
        return;
    }
    chunked_ = codings == 1;
    if (lengths == 1)
        std::from_chars(length.data(), length.data() + length.size(), length_);
    request.erase("Transfer-Encoding");
    request.erase("Expect");
    std::ostringstream out;
    request.write(out);
    head_ = out.str();
    head_.resize(head_.size() - 2); // the empty line, put back when the body's length is known

    state_ = TState::Body;
    if (!chunked_ && length_ > maxBody_) {
        CompleteWithoutBody();
        return;
    }
    continuePending_ = expectContinue && (chunked_ || length_ > 0);
}

bool THttpRequestReader::ReadFixedBody()
{
    if (input_.size() - pos_ < length_)
        return false;
    body_.assign(input_, pos_, length_);
    pos_ += length_;
    Complete();
    return false;
}

bool THttpRequestReader::ReadChunks()
{
    switch (chunkStep_) {
    case TChunkStep::Size: return ReadChunkSize();
    case TChunkStep::Data: return ReadChunkData();
    case TChunkStep::DataEnd: {
        std::string_view line;
        if (!NextLine(line))
            return false;
        if (!line.empty()) {
            Refuse(400, "Bad chunk end");
            return false;
        }
        chunkStep_ = TChunkStep::Size;
        return true;
    }
    case TChunkStep::Trailer: return ReadTrailer();
    }
    return false;
}

bool THttpRequestReader::ReadChunkSize()
{
    std::string_view line;
    if (!NextLine(line))
        return false;
    std::size_t size = 0;
    if (!ParseChunkSize(line, size)) {
        Refuse(400, "Bad chunk size");
        return false;
    }
    if (size == 0) {
        chunkStep_ = TChunkStep::Trailer;
        chunkLeft_ = 0; // counts the trailer's lines
        return true;
    }
    if (size > maxBody_ - body_.size()) {
        CompleteWithoutBody();
        return false;
    }
    chunkLeft_ = size;
    chunkStep_ = TChunkStep::Data;
    return true;
}

bool THttpRequestReader::ReadChunkData()
{
    const std::size_t take = std::min(chunkLeft_, input_.size() - pos_);
    body_.append(input_, pos_, take);
    pos_ += take;
    chunkLeft_ -= take;
    if (chunkLeft_ > 0)
        return false;
    chunkStep_ = TChunkStep::DataEnd;
    return true;
}

bool THttpRequestReader::ReadTrailer()
{
    std::string_view line;
    if (!NextLine(line))
        return false;
    if (line.empty()) {
        Complete();
        return false;
    }
    if (++chunkLeft_ > MaxTrailerLines)
        Refuse(431, "Trailer too large");
    return state_ == TState::Body;
}

bool THttpRequestReader::NextLine(std::string_view& line)
{
    const std::size_t end = input_.find('\n', pos_);
    if (end == std::string::npos) {
        if (input_.size() - pos_ > MaxLineBytes)
            Refuse(400, "Bad chunk size");
        return false;
    }
    line = std::string_view(input_).substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    pos_ = end + 1;
    return true;
}

void THttpRequestReader::Complete()
{
    if (chunked_)
        head_ += "Content-Length: " + std::to_string(body_.size()) + "\r\n";
    head_ += "\r\n";
    state_ = TState::Complete;
}

void THttpRequestReader::CompleteWithoutBody()
{
    // A fixed length is in the head already; chunks get one past the limit.
    if (chunked_)
        head_ += "Content-Length: " + std::to_string(maxBody_ + 1) + "\r\n";
    head_ += "\r\n";
    chunked_ = false;
    body_.clear();
    bodyLeftUnread_ = true;
    state_ = TState::Complete;
}

void THttpRequestReader::Refuse(int status, std::string text)
{
    state_ = TState::Refused;
    refusalStatus_ = status;
    refusalText_ = std::move(text);
}

} // namespace gw
