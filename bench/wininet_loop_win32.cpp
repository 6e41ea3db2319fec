#include "bench/wininet_loop_win32.h"

#include <memory>
#include <vector>

#include "platform/win32/windows_win32.h"

namespace fw::bench {
namespace {

struct CloseInternetHandle {
    void operator()(void* handle) const { InternetCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, CloseInternetHandle>;

}  // namespace

bool PlainWinInetLoop(const std::string& host, unsigned short port, const std::string& object,
                      std::uint32_t blockBytes, std::uint64_t& bytes) {
    bytes = 0;
    Handle session(InternetOpenA("Fablewright Update Downloader", INTERNET_OPEN_TYPE_PRECONFIG,
                                 nullptr, nullptr, INTERNET_FLAG_DONT_CACHE));
    if (!session) return false;
    Handle connection(InternetConnectA(session.get(), host.c_str(), port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection) return false;
    Handle request(HttpOpenRequestA(connection.get(), "GET", object.c_str(), "HTTP/1.0", nullptr,
                                    nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1));
    if (!request || !HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status != 200) {
        return false;
    }
    std::vector<char> buffer(blockBytes);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), buffer.data(), blockBytes, &got)) return false;
        if (got == 0) return true;
        bytes += got;
    }
}

}  // namespace fw::bench
