#pragma once
// The HTTP client of the remote configuration transfer. Every request
// carries Basic credentials from the first one on: an empty user and the
// password (Windows-1251 bytes, as the device's own "cnf.ini" holds it). A
// refused request, an answer other than 2xx or a time-out is a
// TTransferError whose text the road shows after "Ошибка ", and so is an
// answer shorter than its announced length or, to a download, one that is
// not sent as a file ("application/octet-stream"): neither may be stored.

#include <chrono>
#include <stdexcept>
#include <string>

namespace gw::desktop {

struct TTransferError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class THttpTransfer {
public:
    virtual ~THttpTransfer() = default;
    // The answer's body.
    virtual std::string Get(const std::string& host, int port, const std::string& file,
                            const std::string& password) = 0;
    virtual void Post(const std::string& host, int port, const std::string& file, const std::string& body,
                      const std::string& password) = 0;
};

// A device that does not answer ends the transfer: the connect and each read
// give up after this long ("Timeout").
constexpr std::chrono::milliseconds TransferTimeout = std::chrono::seconds(10);

class TPocoHttpTransfer final : public THttpTransfer {
public:
    explicit TPocoHttpTransfer(std::chrono::milliseconds timeout = TransferTimeout) : timeout_(timeout) {}
    std::string Get(const std::string& host, int port, const std::string& file, const std::string& password) override;
    void Post(const std::string& host, int port, const std::string& file, const std::string& body,
              const std::string& password) override;

private:
    // fileType: the type a good answer has; "" for any.
    std::string Request(const std::string& method, const std::string& host, int port, const std::string& file,
                        const std::string* body, const std::string& password, const std::string& fileType);
    std::chrono::milliseconds timeout_;
};

// "Basic " + Base64(":" + password in Windows-1251).
std::string BasicAuthorization(const std::string& password);

} // namespace gw::desktop
