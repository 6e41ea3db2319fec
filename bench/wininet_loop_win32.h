#pragma once
// The anchor of the Windows download benchmark: the plainest WinInet download there is.

#include <cstdint>
#include <string>

namespace fw::bench {

// GET http://host:port/object with synchronous InternetReadFile calls of `blockBytes` each,
// the bytes thrown away. The count of body bytes in `bytes`; false when anything failed or
// the status was not 200.
bool PlainWinInetLoop(const std::string& host, unsigned short port, const std::string& object,
                      std::uint32_t blockBytes, std::uint64_t& bytes);

}  // namespace fw::bench
