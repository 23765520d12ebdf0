#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qrv::engine {

// The one HTTP/1.1 client `IdHTTP`, shared by the check run and the update check; it serves
// one request at a time (a second caller waits). Cookies, the kept-alive connection and the
// connect limit live as long as the object.
class TIdHTTP {
public:
    TIdHTTP();
    ~TIdHTTP();
    TIdHTTP(const TIdHTTP&) = delete;
    TIdHTTP& operator=(const TIdHTTP&) = delete;

    // GET with redirects; returns the decoded body of the final answer as UTF-8.
    // Throws qrv::Error with the failure's message text.
    std::string Get(const std::string& url);

    // application/x-www-form-urlencoded POST of the pairs in order, each value URL-encoded.
    std::string Post(const std::string& url,
                     const std::vector<std::pair<std::string, std::string>>& fields);

    // Connect limit in milliseconds; 0 means none (the platform's own attempt).
    void SetConnectTimeout(int milliseconds);
    int ConnectTimeout() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

} // namespace qrv::engine
